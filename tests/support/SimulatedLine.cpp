#include "SimulatedLine.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>

SimulatedLine::SimulatedLine(const std::vector<int> &addresses, const QString &linkPath)
    : linkPath_(linkPath), bus_(addresses), server_(bus_, pty_.masterFd()) {
    std::lock_guard lock(mutex_);
    appear();
}

SimulatedLine::~SimulatedLine() {
    cancelReturn();
    vanish();
}

void SimulatedLine::appear() {
    if (!pty_.slavePath().isEmpty() && !linkPath_.isEmpty()) {
        std::string error;
        if (!makeLink(QFile::encodeName(linkPath_).toStdString(),
                                  pty_.slavePath().toStdString(), &error)) {
            std::fprintf(stderr, "simulated line: %s\n", error.c_str());
            std::abort();
        }
    }
    server_.setDescriptor(pty_.masterFd());
    serving_ = std::thread([this] { server_.run(); });
    present_ = true;
    changed_.notify_all();
}

void SimulatedLine::stopServing() {
    if (!serving_.joinable())
        return;
    server_.stop();
    serving_.join();
}

void SimulatedLine::closeMaster() {
    // The thread must be gone before its descriptor is closed: the number could be reused.
    std::lock_guard lock(mutex_);
    stopServing();
    pty_.closeMaster();
}

QString SimulatedLine::slavePath() const {
    std::lock_guard lock(mutex_);
    return pty_.slavePath();
}

bool SimulatedLine::isPresent() const {
    std::lock_guard lock(mutex_);
    return present_;
}

void SimulatedLine::vanish() {
    std::lock_guard lock(mutex_);
    if (!present_)
        return;
    stopServing();
    if (!linkPath_.isEmpty())
        removeLink(QFile::encodeName(linkPath_).toStdString(),
                               pty_.slavePath().toStdString());
    pty_.close();
    present_ = false;
    changed_.notify_all();
}

void SimulatedLine::vanish(std::chrono::milliseconds duration) {
    cancelReturn();
    vanish();
    returning_ = std::thread([this, duration] {
        {
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, duration, [this] { return cancelReturn_; }))
                return;
        }
        reappear();
    });
}

void SimulatedLine::reappear() {
    std::lock_guard lock(mutex_);
    if (present_)
        return;
    pty_.remake();
    appear();
}

bool SimulatedLine::waitForReappearance(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return present_; });
}

void SimulatedLine::cancelReturn() {
    if (!returning_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        cancelReturn_ = true;
    }
    changed_.notify_all();
    returning_.join();
    std::lock_guard lock(mutex_);
    cancelReturn_ = false;
}

void SimulatedLine::setFaults(int address, const chambersim::ChamberFaults &faults) {
    bus_.setFaults(address, faults);
}

void SimulatedLine::setRawInput(int address, int reg, std::uint16_t value) {
    bus_.setRawInput(address, reg, value);
}

chambersim::HoldingRegisters SimulatedLine::holdingRegisters(int address) const {
    return bus_.holdingRegisters(address);
}

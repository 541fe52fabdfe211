#include "SimulatedLine.h"

SimulatedLine::SimulatedLine(const std::vector<int> &addresses)
    : bus_(addresses), server_(bus_, pty_.masterFd()), serving_([this] { server_.run(); }) {}

SimulatedLine::~SimulatedLine() { stopServing(); }

void SimulatedLine::stopServing() {
    if (!serving_.joinable())
        return;
    server_.stop();
    serving_.join();
}

void SimulatedLine::closeMaster() {
    // The thread must be gone before its descriptor is closed: the number could be reused.
    stopServing();
    pty_.closeMaster();
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

#pragma once
// The simulated chambers on a pseudo-terminal, served from a thread of the test program. The
// program under test opens slavePath() as its port (KALVORA_COM1); the test sets faults, raw
// input registers and the chambers' clock through bus(), and reads back what was sent.
#include "ChamberBus.h"
#include "PtyPair.h"
#include "SimServer.h"

#include <QString>
#include <chrono>
#include <thread>
#include <vector>

using chambersim::ReceivedFrame;
using chambersim::SentChunk;

class SimulatedLine {
public:
    // Chambers at the given bus addresses. Their clock stands still until setSpeedUp() or
    // bus().advance().
    explicit SimulatedLine(const std::vector<int> &addresses = {1});
    ~SimulatedLine(); // stops and joins the serving thread
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    QString slavePath() const { return pty_.slavePath(); }
    chambersim::ChamberBus &bus() { return bus_; }

    void setFaults(int address, const chambersim::ChamberFaults &faults);
    void setRawInput(int address, int reg, std::uint16_t value);
    // Raw current (register 0) and set (register 2) temperatures, in tenths of a degree.
    void setTemperatures(int address, std::uint16_t current, std::uint16_t set) {
        setRawInput(address, 0, current);
        setRawInput(address, 2, set);
    }
    chambersim::HoldingRegisters holdingRegisters(int address) const;
    void setSpeedUp(double simSecondsPerSecond) { server_.setSpeedUp(simSecondsPerSecond); }
    void setEcho(bool echo) { server_.setEcho(echo); }

    std::vector<ReceivedFrame> received() const { return server_.received(); }
    // What the simulator wrote towards the program, each write with the time it was made.
    std::vector<SentChunk> sent() const { return server_.sent(); }
    bool waitForSent(std::size_t byteCount, std::chrono::milliseconds timeout) const {
        return server_.waitForSent(byteCount, timeout);
    }
    void clearReceived() { server_.clearReceived(); }
    bool waitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
        return server_.waitForReceived(count, timeout);
    }

    // Puts bytes on the line towards the program, as interference or another device would, in
    // one write: a reply the simulator sends meanwhile never tears them apart.
    void injectNoise(const std::vector<std::uint8_t> &bytes) { pty_.writeMaster(bytes); }

    // Stops serving and closes the master side: the program's end of the line sees a hang-up.
    void closeMaster();

private:
    void stopServing();

    PtyPair pty_;
    chambersim::ChamberBus bus_;
    chambersim::SimServer server_;
    std::thread serving_;
};

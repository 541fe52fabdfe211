#pragma once
// The simulated chambers on a pseudo-terminal, served from a thread of the test program. The
// program under test opens slavePath() as its port (KALVORA_COM1); the test sets faults, raw
// input registers and the chambers' clock through bus(), and reads back what was sent.
#include "ChamberBus.h"
#include "PtyPair.h"
#include "SimServer.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using chambersim::ReceivedFrame;
using chambersim::SentChunk;

class SimulatedLine {
public:
    // Chambers at the given bus addresses. Their clock stands still until setSpeedUp() or
    // bus().advance(). With a link path, a symlink there names the line (replacing an older
    // symlink), and names it again when the line comes back after vanish().
    explicit SimulatedLine(const std::vector<int> &addresses = {1},
                           const QString &linkPath = QString());
    ~SimulatedLine(); // stops and joins the serving thread, removes the link
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    // The pseudo-terminal's own path (a new one after each vanish(); empty while away).
    QString slavePath() const;
    const QString &linkPath() const { return linkPath_; }
    // What the program opens: the link when there is one.
    QString portPath() const { return linkPath_.isEmpty() ? slavePath() : linkPath_; }
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
    // The chambers' time up to now, without waiting for the next request.
    void catchUpClock() { server_.advanceClock(); }
    void setEcho(bool echo) { server_.setEcho(echo); }
    // The timing of a real bus: see SimServer::setLineSpeed.
    void setLineSpeed(bool lineSpeed) { server_.setLineSpeed(lineSpeed); }

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

    // Noise towards the program, one byte (0xFF) every `spacing`, for `duration` (zero: until
    // stopNoise()), while the line serves on. noise() tells how regular it really was.
    void startNoise(std::chrono::microseconds spacing = chambersim::SimServer::kNoiseSpacing,
                    std::chrono::milliseconds duration = std::chrono::milliseconds{0}) {
        server_.startNoise(spacing, duration);
    }
    void stopNoise() { server_.stopNoise(); }
    bool noiseOn() const { return server_.noiseOn(); }
    chambersim::NoiseRecord noise() const { return server_.noise(); }

    // The line goes as an unplugged adapter does: serving stops, both sides of the
    // pseudo-terminal close (the program's end sees a hang-up) and the link is removed. On
    // return the line is gone. It stays away until reappear(), or with a duration it comes back
    // by itself that much later, from a thread of its own.
    void vanish();
    void vanish(std::chrono::milliseconds duration);
    // A new pseudo-terminal, linked at the same path, served as before (faults, noise, records).
    void reappear();
    bool isPresent() const;
    // Waits until the line is present again.
    bool waitForReappearance(std::chrono::milliseconds timeout) const;

private:
    void stopServing();
    void cancelReturn();
    void appear(); // with mutex_ held

    QString linkPath_;
    PtyPair pty_;
    chambersim::ChamberBus bus_;
    chambersim::SimServer server_;
    std::thread serving_;

    mutable std::mutex mutex_; // the pty, the link and serving_ change under it
    mutable std::condition_variable changed_;
    bool present_ = false;
    bool cancelReturn_ = false;
    std::thread returning_;
};

#pragma once
// Serves a ChamberBus on a file descriptor (a pseudo-terminal's master side): frames requests,
// answers them with each chamber's faults and timing, and records what arrived.
#include "ChamberBus.h"
#include "RequestFramer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace chambersim {

struct ReceivedFrame {
    std::chrono::steady_clock::time_point at; // when its last byte was read
    std::vector<std::uint8_t> bytes;
    bool isRequest = true; // false: bytes the framer dropped (bad CRC, torn frame, noise)
};

// One write towards the program: its timing is measured here, where it happens, since a reader
// on the other side that wakes late sees pieces closer together than they were sent.
struct SentChunk {
    std::chrono::steady_clock::time_point at; // when the write returned
    std::vector<std::uint8_t> bytes;
};

std::string toHex(std::span<const std::uint8_t> bytes);

// The noise the server puts on the line, as a node stuck transmitting would.
struct NoiseRecord {
    std::size_t bytes = 0; // written since the noise was last started
    // The longest pause between two of them: a loaded machine may hold the server up longer
    // than the spacing asked for, and a reader then sees a quiet line.
    std::chrono::steady_clock::duration longestGap{};
};

class SimServer {
public:
    // A Modbus RTU frame ends after 3.5 character times (1.75 ms at 57600); a little more
    // keeps a loaded machine from tearing frames.
    static constexpr std::chrono::milliseconds kFrameGap{4};
    // One character of 10 bits at 57600 baud.
    static constexpr std::chrono::microseconds kCharacterTime{174};

    // The descriptor stays the caller's; the server puts it in non-blocking mode.
    SimServer(ChamberBus &bus, int fd);
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // The chambers' clock catches up with real time (times the speed-up) when a request comes;
    // a test that watches a chamber between requests makes it catch up here. Thread-safe.
    void advanceClock();

    // Serves until stop(). Returns at once when stop() came first. Each stop ends one run: the
    // server may be run again afterwards.
    void run();
    // Thread-safe and async-signal-safe.
    void stop();
    // Serves on another descriptor from the next run() on (the line was made anew). Only while
    // no run() is under way.
    void setDescriptor(int fd);

    // Noise: one byte (0xFF) every `spacing` towards the program, for `duration` (zero: until
    // stopNoise()). A reply that takes its time (a delay, paced bytes) holds the noise up
    // meanwhile. Thread-safe.
    static constexpr std::chrono::microseconds kNoiseSpacing{500};
    static constexpr std::uint8_t kNoiseByte = 0xFF;
    void startNoise(std::chrono::microseconds spacing = kNoiseSpacing,
                    std::chrono::milliseconds duration = std::chrono::milliseconds{0});
    void stopNoise();
    bool noiseOn() const;
    NoiseRecord noise() const;

    // Simulated seconds per real second; 0 freezes the chambers' clock (tests then advance the
    // bus themselves).
    void setSpeedUp(double simSecondsPerSecond);
    // Every frame that arrives is written back at once, as a two-wire line without echo
    // suppression does.
    void setEcho(bool echo) { echo_ = echo; }
    // Line speed: a request is acted on only once its last byte would have arrived at 57600
    // baud, and every reply goes out one byte per character time. Set it before run().
    void setLineSpeed(bool lineSpeed) { lineSpeed_ = lineSpeed; }
    // Called from the serving thread with "rx ..." and "tx ..." lines. Set it before run().
    void setTrace(std::function<void(const std::string &)> trace) { trace_ = std::move(trace); }

    std::vector<ReceivedFrame> received() const;
    // The writes of replies (echoes included), in order; cleared with the received frames.
    std::vector<SentChunk> sent() const;
    void clearReceived();
    // Waits until at least `count` frames have been recorded.
    bool waitForReceived(std::size_t count, std::chrono::milliseconds timeout) const;
    // Waits until the writes recorded hold at least `byteCount` bytes: the program's end may see
    // the bytes of a write before the write is recorded.
    bool waitForSent(std::size_t byteCount, std::chrono::milliseconds timeout) const;

private:
    void serve(std::span<const FramedBytes> frames);
    void record(const FramedBytes &frame);
    void recordSent(std::span<const std::uint8_t> bytes);
    void deliver(const Reply &reply);
    bool writeAll(std::span<const std::uint8_t> bytes);
    void writePaced(std::span<const std::uint8_t> bytes);
    bool waitForStop(std::chrono::milliseconds timeout) const;
    std::optional<std::chrono::steady_clock::time_point> nextWakeUp() const;
    void makeNoise();
    void wake();
    void traceLine(const char *prefix, std::span<const std::uint8_t> bytes) const;

    ChamberBus &bus_;
    int fd_;
    int stopFd_;
    int wakeFd_; // a setting changed: the serving thread looks at its timing again
    RequestFramer framer_;
    std::chrono::steady_clock::time_point lastByteAt_;
    std::function<void(const std::string &)> trace_;
    std::atomic<bool> echo_ = false;
    std::atomic<bool> lineSpeed_ = false;
    std::chrono::steady_clock::time_point lineFreeAt_{}; // end of the last request on the line

    std::mutex clockMutex_;
    double speedUp_ = 0;
    std::chrono::steady_clock::time_point clockAt_;

    mutable std::mutex noiseMutex_;
    bool noiseOn_ = false;
    std::chrono::microseconds noiseSpacing_{kNoiseSpacing};
    std::chrono::steady_clock::time_point noiseUntil_{};
    std::chrono::steady_clock::time_point nextNoiseAt_{};
    std::chrono::steady_clock::time_point lastNoiseAt_{};
    NoiseRecord noiseRecord_;

    mutable std::mutex receivedMutex_;
    mutable std::condition_variable receivedChanged_;
    std::vector<ReceivedFrame> received_;
    std::vector<SentChunk> sent_;
    std::size_t sentBytes_ = 0;
};

} // namespace chambersim

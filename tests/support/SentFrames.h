#pragma once
// The frames the program writes to its port, each timed where it is written: the line trace
// (kalvora.line) is switched on and its "tx" lines are caught as the port logs them. Times taken
// where the frames arrive would shrink the gaps whenever the reader wakes late.
#include <chrono>
#include <cstdint>
#include <vector>

class SentFrames {
public:
    SentFrames();  // starts recording; one recorder at a time
    ~SentFrames(); // stops, and puts the earlier message handler back
    SentFrames(const SentFrames &) = delete;
    SentFrames &operator=(const SentFrames &) = delete;

    std::vector<std::chrono::steady_clock::time_point> times() const;
    // The frames themselves, in the same order.
    std::vector<std::vector<std::uint8_t>> frames() const;
};

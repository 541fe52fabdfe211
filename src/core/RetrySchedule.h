#pragma once
// How long to wait before the next attempt at something that keeps failing, such as opening a
// port whose adapter was unplugged: the first wait is short, each failure doubles it up to a
// ceiling, so that a quick replug is noticed quickly and a long outage costs little.
#include <algorithm>
#include <chrono>

class RetrySchedule {
public:
    static constexpr std::chrono::milliseconds kFirstWait{2000};
    static constexpr std::chrono::milliseconds kLongestWait{30000};

    // A first wait longer than the ceiling is cut to it; waits below a millisecond are raised.
    constexpr explicit RetrySchedule(std::chrono::milliseconds firstWait = kFirstWait,
                                     std::chrono::milliseconds longestWait = kLongestWait)
        : longest_(std::max(longestWait, std::chrono::milliseconds{1})),
          first_(std::clamp(firstWait, std::chrono::milliseconds{1}, longest_)), next_(first_) {}

    // The wait before the next attempt, after one more failure.
    constexpr std::chrono::milliseconds nextWait() {
        const std::chrono::milliseconds wait = next_;
        next_ = next_ >= longest_ / 2 ? longest_ : next_ * 2;
        ++failures_;
        return wait;
    }
    // After a success: the next outage starts again from the first wait.
    constexpr void reset() {
        next_ = first_;
        failures_ = 0;
    }
    // Waits handed out since the last success.
    constexpr int failures() const { return failures_; }

private:
    std::chrono::milliseconds longest_;
    std::chrono::milliseconds first_;
    std::chrono::milliseconds next_;
    int failures_ = 0;
};

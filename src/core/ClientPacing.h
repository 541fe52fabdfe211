#pragma once
// When a shared link's request may go on the bus after that client's write. A chamber needs a
// pause after a write (to store a program step), and the client keeps it between its writes; a
// wait for the bus that held up only the write must not shorten it. So a request after a write
// goes no sooner after the write than the client wrote it after the write, plus a margin for
// the threads' late wakes on a busy machine. A client writing at its own pace without waiting
// for replies would fall further behind by each margin: beyond kMarginUntilLag the margin
// shrinks to kLeastMargin, which only covers the line's own jitter (a frame gap awaited before
// one request and not the other), so that the pause on the line is never shorter than the
// client's.
#include <chrono>
#include <optional>

class ClientPacing {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMargin{50};
    static constexpr std::chrono::milliseconds kMarginUntilLag{200};
    static constexpr std::chrono::milliseconds kLeastMargin{5};
    // The longest pause kept: one this long is more than any chamber needs.
    static constexpr std::chrono::seconds kLongestPause{2};

    // The earliest a request the client wrote at `arrivedAt` may go on the bus.
    Clock::time_point dueFor(Clock::time_point arrivedAt) const;
    // A write the client wrote at `arrivedAt` went on the bus at `sentAt`. (A read asks for no
    // pause after it, and its wait is not handed on.)
    void wrote(Clock::time_point arrivedAt, Clock::time_point sentAt);

private:
    struct Write {
        Clock::time_point arrivedAt;
        Clock::time_point sentAt;
    };
    std::optional<Write> lastWrite_;
};

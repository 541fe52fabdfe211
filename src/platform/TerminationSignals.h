#pragma once
// SIGINT, SIGTERM and SIGHUP made readable on a descriptor, so that every wait of a tool can end
// on them and no handler ever interrupts a file write. Construct it before any thread starts:
// threads inherit the blocked mask. Plain POSIX, so the simulator shares it too.
#include <chrono>
#include <initializer_list>
#include <optional>

class TerminationSignals {
public:
    // Throws std::system_error when the descriptor cannot be made. alsoWatched: further
    // signals to receive the same way (the simulator's SIGUSR1).
    explicit TerminationSignals(std::initializer_list<int> alsoWatched = {});
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Readable while a signal waits; a stop descriptor for the waits of a tool.
    int fd() const { return fd_; }
    // True when a signal waits (it stays waiting until take()).
    bool arrived() const;
    // Waits until the deadline, or until alsoFd (when not -1) is readable; true when a signal
    // came.
    bool waitUntil(std::chrono::steady_clock::time_point deadline, int alsoFd = -1) const;
    // Waits until a signal comes (taking it) or the deadline passes (0); no deadline: as long
    // as it takes.
    int waitAndTake(std::optional<std::chrono::steady_clock::time_point> deadline);
    // The number of the signal that arrived, taking it; 0 when none waits.
    int take();

    // "SIGTERM", "SIGINT", "SIGHUP".
    static const char *name(int signal);

private:
    int fd_ = -1;
};

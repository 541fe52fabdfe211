#pragma once
// One thread's wait on several descriptors at once: until one of them is readable (or hung up,
// or in error, which a read then tells), or a deadline.
#include <chrono>
#include <optional>
#include <span>
#include <vector>

// Which of `fds` are ready, in their order; all false when the deadline came first (none: wait
// without one). A signal that interrupts the wait ends it as a deadline would. std::nullopt
// when the system refuses the wait itself.
std::optional<std::vector<bool>>
WaitReadable(std::span<const int> fds,
             std::optional<std::chrono::steady_clock::time_point> deadline);

#include "platform/EventSignal.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

EventSignal::EventSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot make a wake-up");
}

EventSignal::~EventSignal() { ::close(fd_); }

void EventSignal::notify() {
    const std::uint64_t one = 1;
    // Only a counter at its limit refuses, and then the descriptor is readable already.
    [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void EventSignal::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

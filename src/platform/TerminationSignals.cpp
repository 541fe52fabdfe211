#include "platform/TerminationSignals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace {

sigset_t Watched(std::initializer_list<int> alsoWatched) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    for (int signal : alsoWatched)
        sigaddset(&set, signal);
    return set;
}

} // namespace

TerminationSignals::TerminationSignals(std::initializer_list<int> alsoWatched) {
    const sigset_t set = Watched(alsoWatched);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch for signals");
}

TerminationSignals::~TerminationSignals() { ::close(fd_); }

bool TerminationSignals::arrived() const {
    pollfd watched{fd_, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

bool TerminationSignals::waitUntil(std::chrono::steady_clock::time_point deadline,
                                   int alsoFd) const {
    using Clock = std::chrono::steady_clock;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd watched[2] = {{fd_, POLLIN, 0}, {alsoFd, POLLIN, 0}};
        const int ready = ::poll(watched, alsoFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0 && watched[0].revents != 0)
            return true;
        if (ready > 0)
            return false; // alsoFd is readable
        if (ready == 0 && Clock::now() >= deadline)
            return false;
    }
}

int TerminationSignals::waitAndTake(std::optional<std::chrono::steady_clock::time_point> deadline) {
    using Clock = std::chrono::steady_clock;
    while (true) {
        int timeoutMs = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(left.count(), 0));
        }
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, timeoutMs) > 0) {
            if (const int signal = take())
                return signal;
        } else if (deadline && Clock::now() >= *deadline) {
            return 0;
        }
    }
}

int TerminationSignals::take() {
    signalfd_siginfo info{};
    ssize_t count = 0;
    do
        count = ::read(fd_, &info, sizeof info);
    while (count < 0 && errno == EINTR);
    return count == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

const char *TerminationSignals::name(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

#include "platform/ReadableWait.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

std::optional<std::vector<bool>>
WaitReadable(std::span<const int> fds,
             std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::vector<pollfd> polled;
    polled.reserve(fds.size());
    for (int fd : fds)
        polled.push_back(pollfd{fd, POLLIN, 0});
    int timeoutMs = -1;
    if (deadline)
        timeoutMs = static_cast<int>(std::clamp<long long>(
            std::chrono::ceil<std::chrono::milliseconds>(*deadline -
                                                         std::chrono::steady_clock::now())
                .count(),
            0, 24LL * 3600 * 1000));
    std::vector<bool> ready(fds.size(), false);
    if (::poll(polled.data(), polled.size(), timeoutMs) < 0) {
        if (errno == EINTR)
            return ready;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < polled.size(); ++i)
        ready[i] = polled[i].revents != 0;
    return ready;
}

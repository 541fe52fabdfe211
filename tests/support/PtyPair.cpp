#include "PtyPair.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <system_error>
#include <unistd.h>

std::vector<std::uint8_t> ReadFor(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0)
            break;
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        std::uint8_t chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

PtyPair::PtyPair() { remake(); }

void PtyPair::remake() {
    pty_.reset();
    try {
        pty_ = std::make_unique<PseudoTerminal>();
    } catch (const std::system_error &error) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", error.what());
        std::abort();
    }
}

void PtyPair::writeMaster(const std::vector<std::uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        } else {
            pollfd p{masterFd(), POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

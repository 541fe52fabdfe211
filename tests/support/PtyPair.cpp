#include "PtyPair.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        std::perror("posix_openpt");
        std::abort();
    }
    slavePath_ = QString::fromLocal8Bit(ptsname(master_));
    // Keep one slave descriptor open: a pty whose slave side was never opened, or was closed by
    // everyone, reports a hang-up to the master.
    slaveKeeper_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (slaveKeeper_ >= 0 && tcgetattr(slaveKeeper_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slaveKeeper_, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair() {
    closeMaster();
    if (slaveKeeper_ >= 0)
        ::close(slaveKeeper_);
}

void PtyPair::writeMaster(const std::vector<std::uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        } else {
            pollfd p{master_, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::vector<std::uint8_t> PtyPair::readMaster(std::size_t count,
                                              std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        std::uint8_t chunk[512];
        ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

void PtyPair::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

#include "platform/SerialPort.h"

#include "platform/LineTrace.h"

#include <QFile>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxRead = 256;
// After a hang-up the port reports readiness at once; this pause keeps the thread from spinning.
constexpr int kHangUpPauseMs = 250;
// A frame that cannot be written within this time is dropped, so that a stalled line never
// freezes the window; the caller's retries cope with a lost frame.
constexpr std::chrono::milliseconds kWriteTimeout{1000};

QString SystemReason(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

// Raw 57600 8N1 without flow control: cooked mode or XON/XOFF would eat bytes of binary frames.
// TIOCEXCL keeps other openers out, but not root; the lock keeps out every program of ours,
// root or not, so that two masters never share a line.
int ConfigureLine(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    if (::ioctl(fd, TIOCEXCL) != 0)
        return errno;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return errno;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B57600) != 0 || ::cfsetospeed(&tio, B57600) != 0)
        return errno;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return errno;
    if (::tcflush(fd, TCIFLUSH) != 0 || ::tcflush(fd, TCOFLUSH) != 0)
        return errno;
    return 0;
}

int QueuedInputBytes(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0)
        return 0;
    return count;
}

// Sleeps up to timeoutMs; true when a stop was requested.
bool WaitForStop(int stopFd, int timeoutMs) {
    pollfd stop{stopFd, POLLIN, 0};
    while (true) {
        const int ready = ::poll(&stop, 1, timeoutMs);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return false;
    }
}

// Waits until the line has been quiet for one silence period, so that a reply that arrives in
// pieces is read whole. False when a stop was requested meanwhile.
bool WaitForSilence(int fd, int stopFd) {
    int queued = QueuedInputBytes(fd);
    while (queued < static_cast<int>(kMaxRead)) {
        if (WaitForStop(stopFd, SerialPort::kSilenceMs))
            return false;
        const int now = QueuedInputBytes(fd);
        if (now <= queued)
            break;
        queued = now;
    }
    return true;
}

bool WaitForRoom(int fd, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd out{fd, POLLOUT, 0};
        const int ready = ::poll(&out, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return (out.revents & POLLOUT) != 0;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

enum class ReadOutcome { Stored, Nothing, HungUp };

// Reads what is queued, at most 256 bytes; *got is the count read. With VMIN = VTIME = 0 a tty
// read returns 0 when the queue is empty (a purge may empty it after poll reported input), so 0
// means a hang-up only when poll reported one.
ReadOutcome ReadQueued(int fd, bool hungUp, std::uint8_t (&chunk)[kMaxRead], std::size_t *got) {
    ssize_t count;
    do {
        count = ::read(fd, chunk, sizeof chunk);
    } while (count < 0 && errno == EINTR);
    if (count == 0)
        return hungUp ? ReadOutcome::HungUp : ReadOutcome::Nothing;
    if (count < 0 && errno != EAGAIN)
        return ReadOutcome::HungUp;
    if (count < 0)
        return ReadOutcome::Nothing;
    *got = static_cast<std::size_t>(count);
    return ReadOutcome::Stored;
}

} // namespace

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const QString &devicePath, QString *reason, int *errorNumber) {
    close();
    const auto fail = [&](int error) {
        if (reason)
            *reason = SystemReason(error);
        if (errorNumber)
            *errorNumber = error;
        return false;
    };
    const QByteArray path = QFile::encodeName(devicePath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    if (const int error = ConfigureLine(fd); error != 0) {
        ::close(fd);
        return fail(error);
    }
    fd_ = fd;
    return true;
}

void SerialPort::close() {
    stopReceiver();
    if (fd_ < 0)
        return;
    // The exclusive flag lives with the device, not with our descriptor: release it for the next
    // opener (another descriptor, such as a pty's other end, may keep the device alive).
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void SerialPort::purgeInput() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

void SerialPort::purgeOutput() {
    if (fd_ >= 0)
        ::tcflush(fd_, TCOFLUSH);
}

// Linux reports line errors per read and keeps no error state that would block the port.
void SerialPort::clearErrors() {}

bool SerialPort::write(const std::uint8_t *data, std::size_t length) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const auto fail = [this](int error) {
        std::lock_guard lock(receivedMutex_);
        ++statistics_.failedWrites;
        errno = error;
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(fd_, data + done, length - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN)
            return fail(errno);
        if (!WaitForRoom(fd_, deadline))
            return fail(ETIMEDOUT);
    }
    TraceFrame("tx", data, length);
    std::lock_guard lock(receivedMutex_);
    ++statistics_.framesWritten;
    return true;
}

SerialPort::Statistics SerialPort::statistics() const {
    std::lock_guard lock(receivedMutex_);
    return statistics_;
}

void SerialPort::startReceiver() {
    stopReceiver();
    if (fd_ < 0)
        return;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        return;
    receiver_ = std::thread([this] { receiveLoop(); });
    receiverHandle_ = receiver_.native_handle();
}

void SerialPort::clearReceived() {
    std::lock_guard lock(receivedMutex_);
    received_.fill(0);
    receivedLength_ = 0;
}

ReceiveBuffer SerialPort::receivedSnapshot() const {
    std::lock_guard lock(receivedMutex_);
    return received_;
}

// Bytes beyond the 256th of one exchange are dropped; a reply is never that long.
void SerialPort::store(const std::uint8_t *bytes, std::size_t count) {
    std::lock_guard lock(receivedMutex_);
    const std::size_t room = kRxBufferSize - receivedLength_;
    const std::size_t kept = std::min(count, room);
    std::copy(bytes, bytes + kept, received_.begin() + static_cast<std::ptrdiff_t>(receivedLength_));
    receivedLength_ += kept;
}

void SerialPort::stopReceiver() {
    if (receiver_.joinable()) {
        const std::uint64_t one = 1;
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        receiver_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
}

// fd_ and stopFd_ change only while no receive thread runs, so reading them here is safe.
void SerialPort::receiveLoop() {
    const int fd = fd_;
    const int stopFd = stopFd_;
    pollfd watched[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    while (true) {
        watched[0].revents = watched[1].revents = 0;
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            if (WaitForStop(stopFd, kHangUpPauseMs))
                return;
            continue;
        }
        if (watched[1].revents != 0)
            return;
        ReadOutcome outcome = ReadOutcome::HungUp;
        if (watched[0].revents & POLLIN) {
            if (!WaitForSilence(fd, stopFd))
                return;
            std::uint8_t chunk[kMaxRead];
            std::size_t got = 0;
            const bool hungUp = (watched[0].revents & (POLLHUP | POLLERR)) != 0;
            outcome = ReadQueued(fd, hungUp, chunk, &got);
            if (outcome == ReadOutcome::Stored) {
                TraceFrame("rx", chunk, got);
                store(chunk, got);
            }
        }
        if (outcome == ReadOutcome::HungUp && WaitForStop(stopFd, kHangUpPauseMs))
            return;
    }
}

std::chrono::nanoseconds SerialPort::receiverCpuTime() const {
    if (!receiver_.joinable())
        return std::chrono::nanoseconds{0};
    clockid_t clock;
    timespec used{};
    if (::pthread_getcpuclockid(receiverHandle_, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return std::chrono::nanoseconds{0};
    return std::chrono::seconds{used.tv_sec} + std::chrono::nanoseconds{used.tv_nsec};
}

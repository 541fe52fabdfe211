#include "SimServer.h"

#include <cerrno>
#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace chambersim {
namespace {

using Clock = std::chrono::steady_clock;

// Nobody holds the other side of the line: look again after this pause instead of spinning.
constexpr std::chrono::milliseconds kHangUpPause{50};

} // namespace

std::string toHex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

SimServer::SimServer(ChamberBus &bus, int fd)
    : bus_(bus), fd_(fd), stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), clockAt_(Clock::now()) {
    if (stopFd_ < 0)
        throw std::runtime_error("eventfd failed");
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0)
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

SimServer::~SimServer() { ::close(stopFd_); }

void SimServer::stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
}

bool SimServer::waitForStop(std::chrono::milliseconds timeout) const {
    pollfd p{stopFd_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

int SimServer::pollTimeoutMs() const {
    if (!framer_.hasPending())
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        lastByteAt_ + kFrameGap - Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0) + 1);
}

void SimServer::run() {
    while (true) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int ready = poll(fds, 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        if (ready == 0) {
            serve(framer_.lineFellSilent());
            continue;
        }
        if (ready < 0 || fds[0].revents == 0)
            continue;
        if (fds[0].revents & POLLNVAL)
            return;
        std::uint8_t chunk[512];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            lastByteAt_ = Clock::now();
            serve(framer_.feed(std::span(chunk, static_cast<std::size_t>(n))));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // A pty master whose slave side nobody holds reports EIO and POLLHUP without end.
            if (waitForStop(kHangUpPause))
                return;
        }
    }
}

void SimServer::serve(std::span<const FramedBytes> frames) {
    for (const FramedBytes &frame : frames) {
        record(frame);
        traceLine(frame.isRequest ? "rx" : "rx (dropped)", frame.bytes);
        if (echo_ && writeAll(frame.bytes))
            traceLine("tx (echo)", frame.bytes);
        if (!frame.isRequest)
            continue;
        if (lineSpeed_) {
            // The pseudo-terminal hands the whole request over at once; a real line takes
            // one character time per byte.
            lineFreeAt_ = std::max(lineFreeAt_, lastByteAt_) +
                          kCharacterTime * static_cast<int>(frame.bytes.size());
            std::this_thread::sleep_until(lineFreeAt_);
        }
        advanceClock();
        const Reply reply = bus_.handle(frame.bytes);
        if (reply.bytes.empty())
            continue;
        deliver(reply);
        traceLine("tx", reply.bytes);
    }
}

void SimServer::record(const FramedBytes &frame) {
    {
        std::lock_guard lock(receivedMutex_);
        received_.push_back({lastByteAt_, frame.bytes, frame.isRequest});
    }
    receivedChanged_.notify_all();
}

void SimServer::setSpeedUp(double simSecondsPerSecond) {
    advanceClock(); // time so far runs at the old speed
    std::lock_guard lock(clockMutex_);
    speedUp_ = simSecondsPerSecond;
}

// The chambers only matter when someone looks at them, so their clock catches up lazily.
void SimServer::advanceClock() {
    std::lock_guard lock(clockMutex_);
    const auto now = Clock::now();
    const double realSeconds = std::chrono::duration<double>(now - clockAt_).count();
    clockAt_ = now;
    if (speedUp_ > 0)
        bus_.advance(realSeconds * speedUp_);
}

void SimServer::deliver(const Reply &reply) {
    const Delivery &how = reply.delivery;
    if (how.delayMs > 0 && waitForStop(std::chrono::milliseconds(how.delayMs)))
        return;
    const std::span<const std::uint8_t> bytes(reply.bytes);
    if (how.byteByByte || lineSpeed_) {
        writePaced(bytes);
    } else if (how.splitGapMs > 0) {
        if (writeAll(bytes.first(how.splitFirstLength)) &&
            !waitForStop(std::chrono::milliseconds(how.splitGapMs)))
            writeAll(bytes.subspan(how.splitFirstLength));
    } else {
        writeAll(bytes);
    }
}

// Byte i goes out no earlier than i character times after the first byte went out: a thread
// held up before the first byte cannot squeeze the rest together.
void SimServer::writePaced(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || !writeAll(bytes.first(1)))
        return;
    const auto firstSent = Clock::now();
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        std::this_thread::sleep_until(firstSent + kCharacterTime * static_cast<int>(i));
        if (!writeAll(bytes.subspan(i, 1)))
            return;
    }
}

bool SimServer::writeAll(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            recordSent(bytes.first(static_cast<std::size_t>(n)));
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, 100) > 0 && fds[1].revents != 0)
            return false;
    }
    return true;
}

void SimServer::recordSent(std::span<const std::uint8_t> bytes) {
    const auto at = Clock::now();
    {
        std::lock_guard lock(receivedMutex_);
        sent_.push_back({at, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
        sentBytes_ += bytes.size();
    }
    receivedChanged_.notify_all();
}

std::vector<ReceivedFrame> SimServer::received() const {
    std::lock_guard lock(receivedMutex_);
    return received_;
}

std::vector<SentChunk> SimServer::sent() const {
    std::lock_guard lock(receivedMutex_);
    return sent_;
}

void SimServer::clearReceived() {
    std::lock_guard lock(receivedMutex_);
    received_.clear();
    sent_.clear();
    sentBytes_ = 0;
}

bool SimServer::waitForReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(receivedMutex_);
    return receivedChanged_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool SimServer::waitForSent(std::size_t byteCount, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(receivedMutex_);
    return receivedChanged_.wait_for(lock, timeout, [&] { return sentBytes_ >= byteCount; });
}

void SimServer::traceLine(const char *prefix, std::span<const std::uint8_t> bytes) const {
    if (trace_)
        trace_(std::string(prefix) + ' ' + toHex(bytes));
}

} // namespace chambersim

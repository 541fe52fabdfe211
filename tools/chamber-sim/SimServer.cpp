#include "SimServer.h"

#include <algorithm>
#include <cerrno>
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
    : bus_(bus), fd_(-1), stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), clockAt_(Clock::now()) {
    if (stopFd_ < 0 || wakeFd_ < 0) {
        ::close(stopFd_);
        ::close(wakeFd_);
        throw std::runtime_error("eventfd failed");
    }
    setDescriptor(fd);
}

SimServer::~SimServer() {
    ::close(stopFd_);
    ::close(wakeFd_);
}

void SimServer::stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
}

void SimServer::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void SimServer::setDescriptor(int fd) {
    fd_ = fd;
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0)
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    framer_ = RequestFramer{};
    lineFreeAt_ = {};
}

void SimServer::startNoise(std::chrono::microseconds spacing, std::chrono::milliseconds duration) {
    {
        std::lock_guard lock(noiseMutex_);
        const auto now = Clock::now();
        noiseOn_ = true;
        noiseSpacing_ = std::max(spacing, std::chrono::microseconds{1});
        noiseUntil_ = duration.count() > 0 ? now + duration : Clock::time_point::max();
        nextNoiseAt_ = now;
        noiseRecord_ = NoiseRecord{};
    }
    wake();
}

void SimServer::stopNoise() {
    {
        std::lock_guard lock(noiseMutex_);
        noiseOn_ = false;
    }
    wake();
}

bool SimServer::noiseOn() const {
    std::lock_guard lock(noiseMutex_);
    return noiseOn_ && Clock::now() < noiseUntil_;
}

NoiseRecord SimServer::noise() const {
    std::lock_guard lock(noiseMutex_);
    return noiseRecord_;
}

// One byte when it is due. A byte the line has no room for is dropped: noise is no reply.
void SimServer::makeNoise() {
    std::lock_guard lock(noiseMutex_);
    const auto now = Clock::now();
    if (!noiseOn_)
        return;
    if (now >= noiseUntil_) {
        noiseOn_ = false;
        return;
    }
    if (now < nextNoiseAt_)
        return;
    // A server held up does not catch up with a burst: the line carries one byte at a time.
    nextNoiseAt_ = std::max(nextNoiseAt_ + noiseSpacing_, now);
    const std::uint8_t byte = kNoiseByte;
    if (::write(fd_, &byte, 1) != 1)
        return;
    if (noiseRecord_.bytes > 0)
        noiseRecord_.longestGap = std::max(noiseRecord_.longestGap, now - lastNoiseAt_);
    ++noiseRecord_.bytes;
    lastNoiseAt_ = now;
}

bool SimServer::waitForStop(std::chrono::milliseconds timeout) const {
    pollfd p{stopFd_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

std::optional<Clock::time_point> SimServer::nextWakeUp() const {
    std::optional<Clock::time_point> at;
    if (framer_.hasPending())
        at = lastByteAt_ + kFrameGap;
    std::lock_guard lock(noiseMutex_);
    if (noiseOn_) {
        const auto noiseAt = std::min(nextNoiseAt_, noiseUntil_);
        at = at ? std::min(*at, noiseAt) : noiseAt;
    }
    return at;
}

void SimServer::run() {
    // Each stop ends one run: consumed here, so that the server can serve again.
    struct ConsumeStop {
        int fd;
        ~ConsumeStop() {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
        }
    } consumeStop{stopFd_};
    while (true) {
        pollfd fds[3] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        timespec timeout{};
        const auto wakeUp = nextWakeUp();
        if (wakeUp) {
            const auto left = std::max(
                std::chrono::duration_cast<std::chrono::nanoseconds>(*wakeUp - Clock::now()),
                std::chrono::nanoseconds{0});
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
        }
        const int ready = ppoll(fds, 3, wakeUp ? &timeout : nullptr, nullptr);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        if (fds[2].revents != 0) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
        makeNoise();
        if (ready <= 0 || fds[0].revents == 0) {
            if (framer_.hasPending() && Clock::now() >= lastByteAt_ + kFrameGap)
                serve(framer_.lineFellSilent());
            continue;
        }
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

#include "platform/LineExchange.h"

#include "platform/LineTrace.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr std::size_t kReadChunk = 256;

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= left.zero())
        return 0;
    // Rounded up, so that a wait never ends just before its deadline and spins.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// The serial port's descriptor, watched together with the stop descriptor.
class PortLine : public LineIo {
public:
    PortLine(SerialPort &port, int stopFd) : port_(port), stopFd_(stopFd) {}

    Clock::time_point now() const override { return Clock::now(); }

    Wait waitForBytes(Clock::time_point deadline, std::vector<std::uint8_t> &bytes,
                      int *errorNumber) override {
        bytes.clear();
        const int fd = port_.handle();
        while (true) {
            pollfd watched[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            const int ready = ::poll(watched, 2, MillisecondsUntil(deadline));
            if (ready < 0 && errno != EINTR)
                return Wait::Silence;
            if (watched[1].revents != 0)
                return Wait::Stop;
            if (ready == 0 && Clock::now() >= deadline)
                return Wait::Silence;
            if (ready <= 0)
                continue;
            const short events = watched[0].revents;
            const bool hungUp = (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            int error = 0;
            if (events & POLLIN) {
                std::uint8_t chunk[kReadChunk];
                const ssize_t count = ::read(fd, chunk, sizeof chunk);
                if (count > 0) {
                    TraceFrame("rx", chunk, static_cast<std::size_t>(count));
                    bytes.assign(chunk, chunk + count);
                    return Wait::Bytes;
                }
                if (count < 0 && errno != EAGAIN && errno != EINTR)
                    error = errno;
            }
            if (error == 0 && !hungUp)
                continue;
            // A hung-up terminal reads as the end of a file, without an error of its own: EIO is
            // what the next write to it would say.
            *errorNumber = error != 0 ? error : (events & POLLNVAL) ? EBADF : EIO;
            return Wait::Lost;
        }
    }

    bool write(std::span<const std::uint8_t> frame, int *errorNumber) override {
        if (port_.write(frame.data(), frame.size()))
            return true;
        *errorNumber = errno;
        return false;
    }

private:
    SerialPort &port_;
    int stopFd_;
};

} // namespace

bool IsLostDeviceError(int errorNumber) {
    return errorNumber == EIO || errorNumber == ENODEV || errorNumber == ENXIO ||
           errorNumber == EBADF;
}

// Nothing is known of the line before it is watched: a frame may be under way, so silence
// counts from here.
LineExchange::LineExchange(SerialPort &port, int stopFd)
    : ownLine_(std::make_unique<PortLine>(port, stopFd)), line_(*ownLine_),
      lastActivity_(line_.now()) {}

LineExchange::LineExchange(LineIo &line) : line_(line), lastActivity_(line_.now()) {}

LineExchange::~LineExchange() = default;

LineIo::Wait LineExchange::waitForBytes(Clock::time_point deadline,
                                        std::vector<std::uint8_t> &bytes, int *errorNumber) {
    const LineIo::Wait wait = line_.waitForBytes(deadline, bytes, errorNumber);
    if (wait == LineIo::Wait::Bytes)
        lastActivity_ = line_.now();
    return wait;
}

// A late reply to an earlier request must not be taken for the next one's: the line has to be
// quiet for a frame gap, and what arrives meanwhile is dropped. A line that never pauses (a node
// stuck transmitting, a noisy cable) must not hold the caller beyond the give-up time.
LineExchange::Quiet LineExchange::awaitQuietLine(Clock::time_point giveUpAt, int *errorNumber) {
    std::vector<std::uint8_t> stale;
    while (true) {
        const auto quietAt = lastActivity_ + kFrameGap;
        switch (waitForBytes(std::min(quietAt, giveUpAt), stale, errorNumber)) {
        case LineIo::Wait::Silence:
            return quietAt <= giveUpAt ? Quiet::Quiet : Quiet::NeverQuiet;
        case LineIo::Wait::Stop:
            return Quiet::Stop;
        case LineIo::Wait::Lost:
            return Quiet::Lost;
        case LineIo::Wait::Bytes:
            if (lastActivity_ >= giveUpAt)
                return Quiet::NeverQuiet;
            break;
        }
    }
}

ExchangeResult LineExchange::exchange(std::span<const std::uint8_t> request,
                                      std::chrono::milliseconds silenceTimeout) {
    using Outcome = ExchangeResult::Outcome;
    ExchangeResult result;
    switch (awaitQuietLine(line_.now() + giveUpAfter(silenceTimeout), &result.errorNumber)) {
    case Quiet::Quiet:
        break;
    case Quiet::NeverQuiet:
        result.outcome = Outcome::LineNeverQuiet;
        return result;
    case Quiet::Stop:
        result.outcome = Outcome::Stopped;
        return result;
    case Quiet::Lost:
        result.outcome = Outcome::PortLost;
        return result;
    }
    if (!line_.write(request, &result.errorNumber)) {
        result.outcome =
            IsLostDeviceError(result.errorNumber) ? Outcome::PortLost : Outcome::WriteFailed;
        return result;
    }
    // The request is still on its way when write() returns: silence counts from its last byte.
    const auto sentAt = line_.now() + kByteTime * static_cast<int>(request.size());
    lastActivity_ = sentAt;
    // Noise that never pauses must not hold the line forever.
    const auto giveUpAt = sentAt + giveUpAfter(silenceTimeout);

    ReplyFramer framer(request);
    std::vector<std::uint8_t> bytes;
    while (true) {
        const auto deadline = std::min(lastActivity_ + silenceTimeout, giveUpAt);
        const LineIo::Wait wait = waitForBytes(deadline, bytes, &result.errorNumber);
        if (wait == LineIo::Wait::Stop) {
            result.outcome = Outcome::Stopped;
            return result;
        }
        if (wait == LineIo::Wait::Lost) {
            result.outcome = Outcome::PortLost;
            return result;
        }
        const bool gaveUp = wait == LineIo::Wait::Silence || lastActivity_ >= giveUpAt;
        if (wait == LineIo::Wait::Bytes) {
            switch (framer.feed(bytes)) {
            case ReplyFramer::State::Waiting:
                break;
            case ReplyFramer::State::Reply:
                result.outcome = Outcome::Ok;
                result.reply = framer.reply();
                return result;
            case ReplyFramer::State::Exception:
                result.outcome = Outcome::Exception;
                result.exceptionCode = framer.exceptionCode();
                return result;
            }
        }
        if (gaveUp) {
            result.outcome = framer.sawDamagedReply() ? Outcome::BadCrc : Outcome::Timeout;
            return result;
        }
    }
}

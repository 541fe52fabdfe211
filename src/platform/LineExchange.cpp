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

} // namespace

LineExchange::LineExchange(SerialPort &port, int stopFd) : port_(port), stopFd_(stopFd) {}

LineExchange::Wait LineExchange::waitForBytes(Clock::time_point deadline,
                                              std::vector<std::uint8_t> &bytes) {
    bytes.clear();
    const int fd = port_.handle();
    bool lineGone = false; // a hang-up keeps reporting readiness: wait on the stop alone
    while (true) {
        pollfd watched[2] = {{lineGone ? -1 : fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        const int ready = ::poll(watched, 2, MillisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return Wait::Silence;
        if (watched[1].revents != 0)
            return Wait::Stop;
        if (ready == 0 && Clock::now() >= deadline)
            return Wait::Silence;
        if (ready <= 0)
            continue;
        if (watched[0].revents & POLLIN) {
            std::uint8_t chunk[kReadChunk];
            const ssize_t count = ::read(fd, chunk, sizeof chunk);
            if (count > 0) {
                TraceFrame("rx", chunk, static_cast<std::size_t>(count));
                bytes.assign(chunk, chunk + count);
                lastActivity_ = Clock::now();
                return Wait::Bytes;
            }
            if (count < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        lineGone = true;
    }
}

// A late reply to an earlier request must not be taken for the next one's: the line has to be
// quiet for a frame gap, and what arrives meanwhile is dropped.
bool LineExchange::awaitQuietLine() {
    std::vector<std::uint8_t> stale;
    while (true) {
        switch (waitForBytes(lastActivity_ + kFrameGap, stale)) {
        case Wait::Silence:
            return true;
        case Wait::Stop:
            return false;
        case Wait::Bytes:
            break;
        }
    }
}

ExchangeResult LineExchange::exchange(std::span<const std::uint8_t> request,
                                      std::chrono::milliseconds silenceTimeout) {
    ExchangeResult result;
    if (!awaitQuietLine()) {
        result.outcome = ExchangeResult::Outcome::Stopped;
        return result;
    }
    if (!port_.write(request.data(), request.size())) {
        result.outcome = ExchangeResult::Outcome::WriteFailed;
        result.errorNumber = errno;
        return result;
    }
    // The request is still on its way when write() returns: silence counts from its last byte.
    const auto sentAt = Clock::now() + kByteTime * static_cast<int>(request.size());
    lastActivity_ = sentAt;
    // Noise that never pauses must not hold the line forever.
    const auto giveUpAt = sentAt + 2 * silenceTimeout + std::chrono::milliseconds(100);

    ReplyFramer framer(request);
    std::vector<std::uint8_t> bytes;
    while (true) {
        const auto deadline = std::min(lastActivity_ + silenceTimeout, giveUpAt);
        const Wait wait = waitForBytes(deadline, bytes);
        if (wait == Wait::Stop) {
            result.outcome = ExchangeResult::Outcome::Stopped;
            return result;
        }
        if (wait == Wait::Silence) {
            result.outcome = framer.sawDamagedReply() ? ExchangeResult::Outcome::BadCrc
                                                      : ExchangeResult::Outcome::Timeout;
            return result;
        }
        switch (framer.feed(bytes)) {
        case ReplyFramer::State::Waiting:
            break;
        case ReplyFramer::State::Reply:
            result.outcome = ExchangeResult::Outcome::Ok;
            result.reply = framer.reply();
            return result;
        case ReplyFramer::State::Exception:
            result.outcome = ExchangeResult::Outcome::Exception;
            result.exceptionCode = framer.exceptionCode();
            return result;
        }
    }
}

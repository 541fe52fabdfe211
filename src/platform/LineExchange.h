#pragma once
// Request and reply at the line's own pace: the reply is read from the port as its bytes
// arrive and the exchange ends the moment it is complete and valid. The time-out bounds only
// silence; noise that never pauses is bounded by the give-up time, before the request as after
// it. Uses the port's descriptor directly; the port's receive thread must not run.
#include "core/ExchangeOutcome.h"
#include "core/ReplyFramer.h"
#include "platform/SerialPort.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct ExchangeResult {
    // Timeout covers noise without a reply too; Exception: exceptionCode says which;
    // WriteFailed: errorNumber says why; PortLost: errorNumber says why (EIO for a hang-up
    // without an error of its own), and the port must be reopened to go on.
    using Outcome = ExchangeOutcome;
    Outcome outcome = Outcome::Timeout;
    std::vector<std::uint8_t> reply;
    std::uint8_t exceptionCode = 0;
    int errorNumber = 0;
};

// Errors of a read or write that mean the device itself is gone (unplugged, hung up).
bool IsLostDeviceError(int errorNumber);

// The exchange's view of the line. The serial port's is the one in use; unit tests put a
// scripted line with a clock of its own in its place.
class LineIo {
public:
    using Clock = std::chrono::steady_clock;
    enum class Wait { Bytes, Silence, Stop, Lost };

    virtual ~LineIo() = default;
    virtual Clock::time_point now() const = 0;
    // Waits until bytes arrive (then `bytes` holds them), the deadline passes, a stop is
    // requested or the line is lost (then *errorNumber says why).
    virtual Wait waitForBytes(Clock::time_point deadline, std::vector<std::uint8_t> &bytes,
                              int *errorNumber) = 0;
    // Writes the whole frame; false with *errorNumber set when it could not.
    virtual bool write(std::span<const std::uint8_t> frame, int *errorNumber) = 0;
};

class LineExchange {
public:
    // Modbus RTU frames are separated by at least 3.5 character times: 1.75 ms at 57600 baud.
    static constexpr std::chrono::microseconds kFrameGap{1750};
    // Ten bits per byte at 57600 baud.
    static constexpr std::chrono::microseconds kByteTime{174};

    // How long a try may wait for a quiet line before its request, and for the end of the
    // reply's noise after it: twice the silence time-out and 100 ms.
    static constexpr std::chrono::milliseconds giveUpAfter(std::chrono::milliseconds timeout) {
        return 2 * timeout + std::chrono::milliseconds(100);
    }

    // stopFd: a descriptor that, once readable, ends any exchange at once (-1: none).
    explicit LineExchange(SerialPort &port, int stopFd = -1);
    // On a line of the caller's, which must outlive the exchange.
    explicit LineExchange(LineIo &line);
    ~LineExchange();
    LineExchange(const LineExchange &) = delete;
    LineExchange &operator=(const LineExchange &) = delete;

    // Sends the request after the line has been quiet for a frame gap (bytes that arrive
    // meanwhile are dropped), then waits for its reply. When the line has not fallen quiet
    // within giveUpAfter(silenceTimeout), nothing is sent and the try is LineNeverQuiet.
    ExchangeResult exchange(std::span<const std::uint8_t> request,
                            std::chrono::milliseconds silenceTimeout);

private:
    using Clock = LineIo::Clock;
    enum class Quiet { Quiet, NeverQuiet, Stop, Lost };

    LineIo::Wait waitForBytes(Clock::time_point deadline, std::vector<std::uint8_t> &bytes,
                              int *errorNumber);
    Quiet awaitQuietLine(Clock::time_point giveUpAt, int *errorNumber);

    std::unique_ptr<LineIo> ownLine_;
    LineIo &line_;
    Clock::time_point lastActivity_;
};

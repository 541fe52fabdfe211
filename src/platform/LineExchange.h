#pragma once
// Request and reply at the line's own pace: the reply is read from the port as its bytes
// arrive and the exchange ends the moment it is complete and valid. The time-out bounds only
// silence. Uses the port's descriptor directly; the port's receive thread must not run.
#include "core/ReplyFramer.h"
#include "platform/SerialPort.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

struct ExchangeResult {
    enum class Outcome {
        Ok,          // reply holds the complete, valid reply
        Timeout,     // the line stayed silent (or held only noise) for the time-out
        BadCrc,      // a reply came but was damaged (CRC or layout)
        Exception,   // the slave answered with an exception; exceptionCode says which
        WriteFailed, // the request could not be written; errorNumber says why
        Stopped,     // the stop descriptor became readable
        LineNeverQuiet, // the line never fell quiet before the request could be sent
        PortLost,    // the device hung up or vanished; errorNumber says why
    };
    Outcome outcome = Outcome::Timeout;
    std::vector<std::uint8_t> reply;
    std::uint8_t exceptionCode = 0;
    int errorNumber = 0;
};

class LineExchange {
public:
    // Modbus RTU frames are separated by at least 3.5 character times: 1.75 ms at 57600 baud.
    static constexpr std::chrono::microseconds kFrameGap{1750};
    // Ten bits per byte at 57600 baud.
    static constexpr std::chrono::microseconds kByteTime{174};

    // stopFd: a descriptor that, once readable, ends any exchange at once (-1: none).
    explicit LineExchange(SerialPort &port, int stopFd = -1);

    // Sends the request after the line has been quiet for a frame gap (bytes that arrive
    // meanwhile are dropped), then waits for its reply.
    ExchangeResult exchange(std::span<const std::uint8_t> request,
                            std::chrono::milliseconds silenceTimeout);

private:
    using Clock = std::chrono::steady_clock;
    enum class Wait { Bytes, Silence, Stop };

    // Waits until bytes arrive, the deadline passes or a stop is requested; reads what came.
    Wait waitForBytes(Clock::time_point deadline, std::vector<std::uint8_t> &bytes);
    bool awaitQuietLine();

    SerialPort &port_;
    int stopFd_;
    Clock::time_point lastActivity_{};
};

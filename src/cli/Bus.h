#pragma once
// The tool's one serial line: the port opened exclusively, and exchanges with retries.
#include "CommandLine.h"
#include "platform/LineExchange.h"
#include "platform/SerialPort.h"

#include <memory>
#include <span>

class Bus {
public:
    // Opens the port. Throws CliError(kExitPort) naming the port, its device and the reason;
    // "is in use" when another program of ours holds it. stopFd: see LineExchange.
    Bus(const CommonOptions &options, int stopFd = -1);

    // Up to `tries` exchanges until one gets an answer (a reply, or an exception, which a retry
    // would not change). The result of the last try.
    ExchangeResult exchange(std::span<const std::uint8_t> request);
    // One try, whatever its outcome.
    ExchangeResult exchangeOnce(std::span<const std::uint8_t> request);

    const CommonOptions &options() const { return options_; }

private:
    CommonOptions options_;
    SerialPort port_;
    std::unique_ptr<LineExchange> line_;
};

// "no answer", "damaged reply", "exception 2 (illegal data address)" ...
QString OutcomeText(const ExchangeResult &result);

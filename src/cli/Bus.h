#pragma once
// The tool's one serial line: the port opened exclusively, and exchanges with retries.
#include "CommandLine.h"
#include "platform/LineExchange.h"
#include "platform/SerialPort.h"

#include <functional>
#include <memory>
#include <span>

class Bus {
public:
    // Opens the port. Throws CliError(kExitPort) naming the port, its device and the reason;
    // "is in use" when another program of ours holds it. stopFd: see LineExchange.
    Bus(const CommonOptions &options, int stopFd = -1);

    // Up to `tries` exchanges until one gets an answer (a reply, or an exception, which a retry
    // would not change); the one retry rule of every command. onEachTry, when given, sees the
    // result of every try. The result of the last try.
    ExchangeResult exchange(std::span<const std::uint8_t> request,
                            const std::function<void(const ExchangeResult &)> &onEachTry = {});

    const CommonOptions &options() const { return options_; }
    const QString &portName() const { return options_.port; }
    const QString &devicePath() const { return device_; }

    // Closes the port and opens the configured one again, its device path looked up anew (a
    // /dev/serial/by-id/ name then follows a replugged adapter). False with *reason when it
    // cannot be opened yet.
    bool reopen(QString *reason);

private:
    CommonOptions options_;
    int stopFd_;
    QString device_;
    SerialPort port_;
    std::unique_ptr<LineExchange> line_;
};

// "no answer", "damaged reply", "exception 2 (illegal data address)" ...
QString OutcomeText(const ExchangeResult &result);

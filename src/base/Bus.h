#pragma once
// The tool's one serial line: the port opened exclusively, and exchanges with retries.
#include "base/CommandLine.h"
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
    // would not change) or the port is lost; the one retry rule of every command. onEachTry,
    // when given, sees the result of every try. The result of the last try.
    ExchangeResult exchange(std::span<const std::uint8_t> request,
                            const std::function<void(const ExchangeResult &)> &onEachTry = {});
    // One exchange. While the port is closed (a reopen failed) it is PortLost at once, with the
    // reopen's error.
    ExchangeResult exchangeOnce(std::span<const std::uint8_t> request);
    // Called before every try of exchange(): the bus's other masters go between two tries.
    void setBeforeEachTry(std::function<void()> hook) { beforeEachTry_ = std::move(hook); }

    // Closes the port and opens the configured port again, its device looked up anew, so that a
    // /dev/serial/by-id/ link follows the adapter to its new node. On failure *reason gets the
    // system's reason and *errorNumber its errno; the port stays closed until a reopen succeeds.
    bool reopen(QString *reason = nullptr, int *errorNumber = nullptr);
    bool isOpen() const { return port_.isOpen(); }

    const CommonOptions &options() const { return options_; }
    // As configured ("COM1", or a path), and the device it was last opened at.
    const QString &portName() const { return options_.port; }
    const QString &devicePath() const { return device_; }

    // OutcomeText, naming the port and its device where the port itself failed.
    QString outcomeText(const ExchangeResult &result) const;
    // "port COM1 (/dev/ttyUSB0) lost: Input/output error"
    QString portLostText(int errorNumber) const;

private:
    CommonOptions options_;
    int stopFd_;
    QString device_;
    SerialPort port_;
    std::unique_ptr<LineExchange> line_;
    int closedError_ = 0; // why the last reopen failed
    std::function<void()> beforeEachTry_;
};

// "no answer", "damaged reply", "exception 2 (illegal data address)", "line never quiet" ...
QString OutcomeText(const ExchangeResult &result);

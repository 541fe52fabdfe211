#include "Bus.h"

#include "platform/PortNames.h"

#include <cerrno>
#include <cstring>

Bus::Bus(const CommonOptions &options, int stopFd) : options_(options), stopFd_(stopFd) {
    const QString device = DevicePathForPort(options.port);
    device_ = device;
    QString reason;
    int errorNumber = 0;
    if (!port_.open(device, &reason, &errorNumber)) {
        if (errorNumber == EBUSY)
            throw CliError{kExitPort,
                           QStringLiteral("port %1 (%2) is in use").arg(options.port, device)};
        throw CliError{kExitPort, PortOpenErrorText(options.port, device, reason, errorNumber)};
    }
    line_ = std::make_unique<LineExchange>(port_, stopFd);
}

bool Bus::reopen(QString *reason) {
    line_.reset();
    port_.close();
    device_ = DevicePathForPort(options_.port);
    if (!port_.open(device_, reason))
        return false;
    line_ = std::make_unique<LineExchange>(port_, stopFd_);
    return true;
}

ExchangeResult Bus::exchange(std::span<const std::uint8_t> request,
                             const std::function<void(const ExchangeResult &)> &onEachTry) {
    using Outcome = ExchangeResult::Outcome;
    ExchangeResult result;
    for (int attempt = 0; attempt < options_.tries; ++attempt) {
        result = line_->exchange(request, options_.timeout);
        if (onEachTry)
            onEachTry(result);
        // Silence and damage may pass; an answer, a stop or a dead port will not.
        if (result.outcome != Outcome::Timeout && result.outcome != Outcome::BadCrc)
            break;
    }
    return result;
}

QString OutcomeText(const ExchangeResult &result) {
    using Outcome = ExchangeResult::Outcome;
    switch (result.outcome) {
    case Outcome::Ok:
        return QStringLiteral("answered");
    case Outcome::Timeout:
        return QStringLiteral("no answer");
    case Outcome::BadCrc:
        return QStringLiteral("damaged reply (CRC or layout)");
    case Outcome::Exception: {
        static const char *const names[] = {"",
                                            "illegal function",
                                            "illegal data address",
                                            "illegal data value",
                                            "slave device failure",
                                            "acknowledge",
                                            "slave device busy"};
        const int code = result.exceptionCode;
        const QString name = code >= 1 && code <= 6 ? QString::fromLatin1(names[code])
                                                    : QStringLiteral("unknown");
        return QStringLiteral("exception %1 (%2)").arg(code).arg(name);
    }
    case Outcome::WriteFailed:
        return QStringLiteral("cannot write to the port: %1")
            .arg(QString::fromLocal8Bit(std::strerror(result.errorNumber)));
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    case Outcome::LineNeverQuiet:
        return QStringLiteral("line never quiet");
    case Outcome::PortLost:
        return QStringLiteral("port lost: %1")
            .arg(QString::fromLocal8Bit(std::strerror(result.errorNumber)));
    }
    return QString();
}

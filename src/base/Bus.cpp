#include "base/Bus.h"

#include "platform/PortNames.h"

#include <cerrno>
#include <cstring>

namespace {

QString SystemReason(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

} // namespace

Bus::Bus(const CommonOptions &options, int stopFd)
    : options_(options), stopFd_(stopFd), device_(DevicePathForPort(options.port)) {
    QString reason;
    int errorNumber = 0;
    if (!port_.open(device_, &reason, &errorNumber)) {
        if (errorNumber == EBUSY)
            throw CliError{kExitPort,
                           QStringLiteral("port %1 (%2) is in use").arg(options.port, device_)};
        throw CliError{kExitPort, PortOpenErrorText(options.port, device_, reason, errorNumber)};
    }
    line_ = std::make_unique<LineExchange>(port_, stopFd_);
}

bool Bus::reopen(QString *reason, int *errorNumber) {
    line_.reset();
    port_.close();
    device_ = DevicePathForPort(options_.port);
    QString why;
    int error = 0;
    if (!port_.open(device_, &why, &error)) {
        closedError_ = error;
        if (reason)
            *reason = why;
        if (errorNumber)
            *errorNumber = error;
        return false;
    }
    closedError_ = 0;
    line_ = std::make_unique<LineExchange>(port_, stopFd_);
    return true;
}

ExchangeResult Bus::exchangeOnce(std::span<const std::uint8_t> request) {
    if (!line_) {
        ExchangeResult result;
        result.outcome = ExchangeResult::Outcome::PortLost;
        result.errorNumber = closedError_ != 0 ? closedError_ : ENODEV;
        return result;
    }
    return line_->exchange(request, options_.timeout);
}

ExchangeResult Bus::exchange(std::span<const std::uint8_t> request,
                             const std::function<void(const ExchangeResult &)> &onEachTry) {
    using Outcome = ExchangeResult::Outcome;
    ExchangeResult result;
    for (int attempt = 0; attempt < options_.tries; ++attempt) {
        if (beforeEachTry_)
            beforeEachTry_();
        result = exchangeOnce(request);
        if (onEachTry)
            onEachTry(result);
        // Silence, damage and noise may pass; an answer, a stop or a lost port will not.
        if (result.outcome != Outcome::Timeout && result.outcome != Outcome::BadCrc &&
            result.outcome != Outcome::LineNeverQuiet)
            break;
    }
    return result;
}

QString Bus::portLostText(int errorNumber) const {
    return QStringLiteral("port %1 (%2) lost: %3")
        .arg(options_.port, device_, SystemReason(errorNumber));
}

QString Bus::outcomeText(const ExchangeResult &result) const {
    switch (result.outcome) {
    case ExchangeResult::Outcome::PortLost:
        return portLostText(result.errorNumber);
    case ExchangeResult::Outcome::WriteFailed:
        return QStringLiteral("cannot write to port %1 (%2): %3")
            .arg(options_.port, device_, SystemReason(result.errorNumber));
    default:
        return OutcomeText(result);
    }
}

QString OutcomeText(const ExchangeResult &result) {
    using Outcome = ExchangeResult::Outcome;
    const QString words = OutcomeEnglish(result.outcome, result.exceptionCode);
    switch (result.outcome) {
    case Outcome::Exception: {
        static const char *const names[] = {"",
                                            "illegal function",
                                            "illegal data address",
                                            "illegal data value",
                                            "slave device failure",
                                            "acknowledge",
                                            "slave device busy",
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            "gateway path unavailable",
                                            "gateway target device failed to respond"};
        const int code = result.exceptionCode;
        const char *known = code >= 1 && code <= 11 ? names[code] : nullptr;
        const QString name = known ? QString::fromLatin1(known) : QStringLiteral("unknown");
        return QStringLiteral("%1 (%2)").arg(words, name);
    }
    case Outcome::WriteFailed:
    case Outcome::PortLost:
        return QStringLiteral("%1: %2").arg(words, SystemReason(result.errorNumber));
    default:
        return words;
    }
}

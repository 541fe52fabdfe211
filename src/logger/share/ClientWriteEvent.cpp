#include "logger/share/ClientWriteEvent.h"

#include <QJsonArray>

QString ClientAnswerText(const ExchangeResult &result) {
    using Outcome = ExchangeResult::Outcome;
    switch (result.outcome) {
    case Outcome::Ok:
        return QStringLiteral("ok");
    case Outcome::Exception:
        return QStringLiteral("exception %1").arg(result.exceptionCode);
    case Outcome::Timeout:
        return QStringLiteral("silence");
    case Outcome::BadCrc:
        return QStringLiteral("damaged");
    case Outcome::LineNeverQuiet:
        return QStringLiteral("line never quiet");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    case Outcome::PortLost:
    case Outcome::WriteFailed:
        return QStringLiteral("port lost");
    }
    return QString();
}

WrittenRegisters RegistersOf(std::span<const std::uint8_t> write) {
    const auto word = [&write](std::size_t at) {
        return static_cast<std::uint16_t>(write[at] << 8 | write[at + 1]);
    };
    // address, 16, start (2), count (2), byte count, values (2 each), CRC (2)
    WrittenRegisters written{write[0], word(2), {}};
    for (std::size_t at = 7; at + 3 < write.size(); at += 2)
        written.values.push_back(word(at));
    return written;
}

QJsonObject ClientWriteMembers(const QString &link, std::span<const std::uint8_t> write,
                               const ExchangeResult &result) {
    const auto word = [&write](std::size_t at) { return write[at] << 8 | write[at + 1]; };
    QJsonArray values;
    for (std::uint16_t value : RegistersOf(write).values)
        values.append(value);
    return {{QStringLiteral("link"), link},
            {QStringLiteral("chamber"), write[0]},
            {QStringLiteral("start"), word(2)},
            {QStringLiteral("count"), word(4)},
            {QStringLiteral("values"), values},
            {QStringLiteral("answer"), ClientAnswerText(result)}};
}

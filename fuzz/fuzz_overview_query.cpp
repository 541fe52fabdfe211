// Any bytes, read as UTF-8, as each parameter of the overview server's requests: a chamber
// number in a path, a history's minutes, the moment events are wanted from. Each outcome is
// compared with a plain reference, and an accepted time with Qt's own reading of it.
#include "FuzzCheck.h"
#include "core/OverviewQuery.h"

#include <QDateTime>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

// Digits only: their value, capped at one above `cap`.
std::optional<long long> Reference(const QString &text, long long cap) {
    if (text.isEmpty())
        return std::nullopt;
    long long value = 0;
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return std::nullopt;
        value = std::min(cap + 1, value * 10 + (c.unicode() - '0'));
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const ChamberInPath chamber = ParseChamberInPath(text);
    const auto number = Reference(text, 250);
    FUZZ_CHECK(chamber.isNumber == number.has_value(), Shown(text));
    FUZZ_CHECK(chamber.address ==
                   (number && *number <= 250 ? std::optional<int>(int(*number)) : std::nullopt),
               Shown(text) + QStringLiteral(" gave chamber %1").arg(chamber.address.value_or(-1)));

    const auto minutes = ParseHistoryMinutes(text);
    const auto whole = Reference(text, kMaxHistoryMinutes);
    FUZZ_CHECK(minutes == (whole && *whole >= 1 && *whole <= kMaxHistoryMinutes
                               ? std::optional<int>(int(*whole))
                               : std::nullopt),
               Shown(text) + QStringLiteral(" gave minutes %1").arg(minutes.value_or(-1)));
    FUZZ_CHECK(ParseHistoryMinutes(std::nullopt) == kDefaultHistoryMinutes, Shown(text));

    const auto since = ParseSinceTime(text);
    if (since) {
        // The shape the journal writes, read by Qt: the same moment to the millisecond.
        QString iso = text;
        if (iso.size() >= 6 && iso[iso.size() - 6] == QLatin1Char(' '))
            iso[iso.size() - 6] = QLatin1Char('+');
        const qsizetype dot = iso.indexOf(QLatin1Char('.'));
        if (dot > 0) { // Qt reads a fraction's first three digits only when there are three
            qsizetype end = dot + 1;
            while (end < iso.size() && iso[end].isDigit())
                ++end;
            iso = iso.left(dot + 1) +
                  (iso.mid(dot + 1, end - dot - 1) + QStringLiteral("000")).left(3) + iso.mid(end);
        }
        const QDateTime qt = QDateTime::fromString(iso, Qt::ISODateWithMs);
        FUZZ_CHECK(qt.isValid() && qt.toMSecsSinceEpoch() == *since,
                   Shown(text) + QStringLiteral(" gave %1, Qt %2")
                                     .arg(*since)
                                     .arg(qt.isValid() ? qt.toMSecsSinceEpoch() : -1));
        // Written back in UTC, it reads as the same moment.
        const QString utc =
            QDateTime::fromMSecsSinceEpoch(*since, Qt::UTC).toString(Qt::ISODateWithMs);
        FUZZ_CHECK(ParseSinceTime(utc) == since, Shown(utc));
    }
    return 0;
}

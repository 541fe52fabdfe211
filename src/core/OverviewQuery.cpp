#include "OverviewQuery.h"

#include "BusAddress.h"
#include "IsoTime.h"

namespace {

bool AllDigits(QStringView text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// The value of up to nine digits; a longer run only says "large".
std::optional<long long> DigitsValue(QStringView text) {
    if (!AllDigits(text))
        return std::nullopt;
    qsizetype first = 0;
    while (first + 1 < text.size() && text[first] == QLatin1Char('0'))
        ++first;
    if (text.size() - first > 9)
        return 1'000'000'000LL;
    long long value = 0;
    for (qsizetype i = first; i < text.size(); ++i)
        value = value * 10 + (text[i].unicode() - '0');
    return value;
}

} // namespace

ChamberInPath ParseChamberInPath(QStringView text) {
    const auto value = DigitsValue(text);
    if (!value)
        return {};
    if (*value > kHighestBusAddress)
        return {true, std::nullopt};
    return {true, static_cast<int>(*value)};
}

std::optional<int> ParseHistoryMinutes(const std::optional<QString> &text) {
    if (!text)
        return kDefaultHistoryMinutes;
    const auto value = DigitsValue(*text);
    if (!value || *value < 1 || *value > kMaxHistoryMinutes)
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<qint64> ParseSinceTime(QStringView text) {
    QString spelled = text.toString();
    if (spelled.size() > 6 && spelled[spelled.size() - 6] == QLatin1Char(' '))
        spelled[spelled.size() - 6] = QLatin1Char('+');
    const auto moment = ParseIsoTime(spelled);
    if (!moment || !moment->utcOffsetSeconds)
        return std::nullopt;
    return EpochSeconds(moment->date, moment->time, *moment->utcOffsetSeconds) * 1000 +
           moment->milliseconds;
}

#include "OverviewQuery.h"

#include <QDate>
#include <QTime>

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

std::optional<int> Field(QStringView text, qsizetype from, qsizetype count) {
    if (from + count > text.size())
        return std::nullopt;
    const QStringView digits = text.mid(from, count);
    if (!AllDigits(digits))
        return std::nullopt;
    return static_cast<int>(*DigitsValue(digits));
}

} // namespace

ChamberInPath ParseChamberInPath(QStringView text) {
    const auto value = DigitsValue(text);
    if (!value)
        return {};
    if (*value > 250)
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
    if (text.size() < 20 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-') ||
        text[10] != QLatin1Char('T') || text[13] != QLatin1Char(':') ||
        text[16] != QLatin1Char(':'))
        return std::nullopt;
    const auto year = Field(text, 0, 4), month = Field(text, 5, 2), day = Field(text, 8, 2),
               hour = Field(text, 11, 2), minute = Field(text, 14, 2), second = Field(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const QDate date(*year, *month, *day);
    const QTime time(*hour, *minute, *second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    qsizetype pos = 19;
    int millis = 0;
    if (text[pos] == QLatin1Char('.')) {
        const qsizetype first = ++pos;
        while (pos < text.size() && text[pos].isDigit() && text[pos].unicode() < 0x80)
            ++pos;
        if (pos == first)
            return std::nullopt;
        for (qsizetype i = first; i < first + 3; ++i)
            millis = millis * 10 + (i < pos ? text[i].unicode() - '0' : 0);
    }
    const QStringView zone = text.mid(pos);
    int offsetSeconds = 0;
    if (zone != QLatin1String("Z")) {
        if (zone.size() != 6 || zone[3] != QLatin1Char(':'))
            return std::nullopt;
        const QChar sign = zone[0];
        if (sign != QLatin1Char('+') && sign != QLatin1Char('-') && sign != QLatin1Char(' '))
            return std::nullopt;
        const auto hours = Field(zone, 1, 2), minutes = Field(zone, 4, 2);
        if (!hours || !minutes || *hours > 23 || *minutes > 59)
            return std::nullopt;
        offsetSeconds = (*hours * 3600 + *minutes * 60) * (sign == QLatin1Char('-') ? -1 : 1);
    }
    constexpr qint64 kEpochJulianDay = 2440588;
    const qint64 seconds = (date.toJulianDay() - kEpochJulianDay) * 86400 +
                           time.msecsSinceStartOfDay() / 1000 - offsetSeconds;
    return seconds * 1000 + millis;
}

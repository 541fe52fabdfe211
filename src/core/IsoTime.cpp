#include "IsoTime.h"

#include "NumberText.h"

#include <cstdlib>

namespace {

char16_t Unit(QChar c) { return c.unicode(); }
char16_t Unit(char c) { return static_cast<unsigned char>(c); }

template <typename Text> bool IsDigit(Text text, qsizetype i) {
    return i < text.size() && Unit(text[i]) >= u'0' && Unit(text[i]) <= u'9';
}

template <typename Text> std::optional<int> Digits(Text text, qsizetype from, qsizetype count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (!IsDigit(text, i))
            return std::nullopt;
        value = value * 10 + (Unit(text[i]) - u'0');
    }
    return value;
}

template <typename Text> bool Is(Text text, qsizetype i, char16_t c) {
    return i < text.size() && Unit(text[i]) == c;
}

template <typename Text> std::optional<IsoTime> Parse(Text text) {
    if (!Is(text, 4, u'-') || !Is(text, 7, u'-') || !Is(text, 10, u'T') || !Is(text, 13, u':') ||
        !Is(text, 16, u':'))
        return std::nullopt;
    const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2),
               hour = Digits(text, 11, 2), minute = Digits(text, 14, 2),
               second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    IsoTime result;
    result.date = QDate(*year, *month, *day);
    result.time = QTime(*hour, *minute, *second);
    if (!result.date.isValid() || !result.time.isValid())
        return std::nullopt;
    qsizetype pos = 19;
    if (Is(text, pos, u'.')) {
        const qsizetype first = ++pos;
        while (IsDigit(text, pos))
            ++pos;
        if (pos == first)
            return std::nullopt;
        for (qsizetype i = first; i < first + 3; ++i)
            result.milliseconds = result.milliseconds * 10 + (i < pos ? Unit(text[i]) - u'0' : 0);
    }
    const qsizetype rest = text.size() - pos;
    if (rest == 0)
        return result;
    if (rest == 1 && Is(text, pos, u'Z')) {
        result.utcOffsetSeconds = 0;
        return result;
    }
    const bool plus = Is(text, pos, u'+');
    if (rest != 6 || (!plus && !Is(text, pos, u'-')) || !Is(text, pos + 3, u':'))
        return std::nullopt;
    const auto hours = Digits(text, pos + 1, 2), minutes = Digits(text, pos + 4, 2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59)
        return std::nullopt;
    result.utcOffsetSeconds = (plus ? 1 : -1) * (*hours * 3600 + *minutes * 60);
    return result;
}

QString TwoDigits(int value) { return TwoDigitText(static_cast<unsigned>(value)); }

} // namespace

std::optional<IsoTime> ParseIsoTime(QStringView text) { return Parse(text); }
std::optional<IsoTime> ParseIsoTime(QByteArrayView text) { return Parse(text); }

QString IsoLocalTime(const QDate &date, const QTime &time, int utcOffsetSeconds) {
    const int offsetMinutes = std::abs(utcOffsetSeconds) / 60;
    return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODate) +
           QLatin1Char(utcOffsetSeconds < 0 ? '-' : '+') + TwoDigits(offsetMinutes / 60) +
           QLatin1Char(':') + TwoDigits(offsetMinutes % 60);
}

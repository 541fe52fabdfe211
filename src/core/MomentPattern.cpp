#include "MomentPattern.h"

namespace {

struct MomentFields {
    int year = -1;
    int month = -1;
    int day = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    int afternoon = -1; // 0 before noon, 1 after, -1 not given
};

// Reads up to maxDigits digits at pos; conversions that pad with a space may start with one.
bool ReadNumber(QStringView text, qsizetype &pos, int maxDigits, bool spacePadded, int &value) {
    if (spacePadded && pos < text.size() && text[pos] == QLatin1Char(' '))
        ++pos;
    int digits = 0;
    value = 0;
    while (digits < maxDigits && pos < text.size() && text[pos].isDigit() &&
           text[pos].unicode() < 128) {
        value = value * 10 + (text[pos].unicode() - '0');
        ++pos;
        ++digits;
    }
    return digits > 0;
}

// Locales without a morning/afternoon text write an empty %p.
bool ReadMeridiem(QStringView text, qsizetype &pos, int &afternoon) {
    for (const auto &[marker, value] :
         {std::pair{QStringLiteral("AM"), 0}, std::pair{QStringLiteral("PM"), 1}}) {
        if (text.mid(pos, 2).compare(marker, Qt::CaseInsensitive) == 0) {
            pos += 2;
            afternoon = value;
            return true;
        }
    }
    return true;
}

bool ReadConversion(QChar conversion, QStringView text, qsizetype &pos, MomentFields &fields) {
    switch (conversion.unicode()) {
    case 'Y':
        return ReadNumber(text, pos, 4, false, fields.year);
    case 'y': {
        int shortYear = 0;
        if (!ReadNumber(text, pos, 2, false, shortYear))
            return false;
        // As POSIX strptime: 69..99 are the 1900s, 00..68 the 2000s.
        fields.year = shortYear + (shortYear < 69 ? 2000 : 1900);
        return true;
    }
    case 'm':
        return ReadNumber(text, pos, 2, false, fields.month);
    case 'd':
        return ReadNumber(text, pos, 2, false, fields.day);
    case 'e':
        return ReadNumber(text, pos, 2, true, fields.day);
    case 'H':
    case 'I':
        return ReadNumber(text, pos, 2, false, fields.hour);
    case 'k':
    case 'l':
        return ReadNumber(text, pos, 2, true, fields.hour);
    case 'M':
        return ReadNumber(text, pos, 2, false, fields.minute);
    case 'S':
        return ReadNumber(text, pos, 2, false, fields.second);
    case 'p':
    case 'P':
        return ReadMeridiem(text, pos, fields.afternoon);
    case 'n':
    case 't':
        while (pos < text.size() && text[pos].isSpace())
            ++pos;
        return true;
    case '%':
        return pos < text.size() && text[pos++] == QLatin1Char('%');
    default:
        return false;
    }
}

bool ReadFields(QStringView text, const QString &pattern, MomentFields &fields) {
    const QString expanded = ExpandMomentPattern(pattern);
    qsizetype pos = 0;
    for (qsizetype i = 0; i < expanded.size(); ++i) {
        if (expanded[i] == QLatin1Char('%') && i + 1 < expanded.size()) {
            if (!ReadConversion(expanded[++i], text, pos, fields))
                return false;
        } else if (pos >= text.size() || text[pos++] != expanded[i]) {
            return false;
        }
    }
    return pos == text.size();
}

std::optional<QTime> TimeOf(const MomentFields &fields) {
    if (fields.hour < 0 || fields.minute < 0)
        return std::nullopt;
    int hour = fields.hour;
    if (fields.afternoon >= 0) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + 12 * fields.afternoon;
    }
    const QTime time(hour, fields.minute, fields.second < 0 ? 0 : fields.second);
    return time.isValid() ? std::optional(time) : std::nullopt;
}

std::optional<QDate> DateOf(const MomentFields &fields) {
    const QDate date(fields.year, fields.month, fields.day);
    if (fields.year < 0 || !date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

QString ExpandMomentPattern(const QString &pattern) {
    QString expanded;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('%') || i + 1 >= pattern.size()) {
            expanded += pattern[i];
            continue;
        }
        QChar conversion = pattern[++i];
        if ((conversion == QLatin1Char('E') || conversion == QLatin1Char('O')) &&
            i + 1 < pattern.size())
            conversion = pattern[++i];
        switch (conversion.unicode()) {
        case 'T':
            expanded += QStringLiteral("%H:%M:%S");
            break;
        case 'R':
            expanded += QStringLiteral("%H:%M");
            break;
        case 'D':
            expanded += QStringLiteral("%m/%d/%y");
            break;
        case 'F':
            expanded += QStringLiteral("%Y-%m-%d");
            break;
        case 'r':
            expanded += QStringLiteral("%I:%M:%S %p");
            break;
        default:
            expanded += QLatin1Char('%') + conversion;
        }
    }
    return expanded;
}

std::optional<QTime> ReadTime(const QString &text, const QString &pattern) {
    MomentFields fields;
    return ReadFields(text, pattern, fields) ? TimeOf(fields) : std::nullopt;
}

std::optional<QDate> ReadDate(const QString &text, const QString &pattern) {
    MomentFields fields;
    return ReadFields(text, pattern, fields) ? DateOf(fields) : std::nullopt;
}

std::optional<LocalMoment> ReadMoment(const QString &text, const QString &datePattern,
                                      const QString &timePattern) {
    MomentFields fields;
    if (!ReadFields(text, ExpandMomentPattern(datePattern) + QLatin1Char(' ') + timePattern,
                    fields))
        return std::nullopt;
    const auto date = DateOf(fields);
    const auto time = TimeOf(fields);
    if (!date || !time)
        return std::nullopt;
    return LocalMoment{*date, *time};
}

#pragma once
// Times as the logger's files and its server write them: local time with its offset from UTC,
// "2026-12-10T14:03:04+03:00" (the readings CSV files, the events journal, the page's "since").
// One reader and one writer of that form, and the one scale the program counts days on.
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QStringView>
#include <QTime>
#include <optional>

// QDate counts Julian days; the Unix epoch, 1970-01-01, is this one.
constexpr qint64 kUnixEpochJulianDay = 2440588;

// Seconds of local time on one scale (from Julian day 0), for ordering and distances.
inline qint64 LocalSeconds(const QDate &date, const QTime &time) {
    return date.toJulianDay() * 86400 + time.msecsSinceStartOfDay() / 1000;
}

// Seconds since the epoch of a local time with its offset from UTC.
inline qint64 EpochSeconds(const QDate &date, const QTime &time, int utcOffsetSeconds) {
    return LocalSeconds(date, time) - kUnixEpochJulianDay * 86400 - utcOffsetSeconds;
}

struct IsoTime {
    QDate date;
    QTime time;                          // whole seconds
    int milliseconds = 0;                // of the fraction, cut after three digits
    std::optional<int> utcOffsetSeconds; // none when the text has no offset
};

// "YYYY-MM-DDTHH:MM:SS", then an optional fraction of at least one digit, then "Z", "+HH:MM",
// "-HH:MM" (hours below 24, minutes below 60) or nothing; ASCII digits only, nothing else
// before or after. A reader that needs the instant checks that the offset is there.
std::optional<IsoTime> ParseIsoTime(QStringView text);
std::optional<IsoTime> ParseIsoTime(QByteArrayView text);

// "2026-12-10T14:03:04+03:00": whole seconds, the offset always written out, "+00:00" included.
QString IsoLocalTime(const QDate &date, const QTime &time, int utcOffsetSeconds);

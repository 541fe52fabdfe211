#pragma once
// Reads dates and times back from texts that strftime wrote with a known pattern, the inverse
// of the regional formatting. Month and weekday names are not supported (no regional short
// date or long time format of interest uses them).
#include <QDate>
#include <QString>
#include <QTime>
#include <optional>

// The pattern with its composite conversions (%T, %R, %D, %F, %r) spelt out and the E and O
// modifiers dropped, so that only single-field conversions and literal characters remain.
QString ExpandMomentPattern(const QString &pattern);

// The whole text must match the pattern; false for any mismatch or an impossible value.
std::optional<QTime> ReadTime(const QString &text, const QString &pattern);
std::optional<QDate> ReadDate(const QString &text, const QString &pattern);

struct LocalMoment {
    QDate date;
    QTime time;
};

// Date and time from one text written with dateText + " " + timeText under the given patterns.
std::optional<LocalMoment> ReadMoment(const QString &text, const QString &datePattern,
                                      const QString &timePattern);

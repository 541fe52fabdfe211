#pragma once
#include <QChar>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <ctime>

// The system's regional formats, read once at start-up. Formats are strftime patterns.
struct RegionalSettings {
    QString shortDateFormat = QStringLiteral("%d.%m.%Y");
    QString longTimeFormat = QStringLiteral("%H:%M:%S");
    QChar decimalSeparator = QLatin1Char(',');
};

// A local date and time as the formats take them (daylight saving time left open).
std::tm AsTm(const QDate &date, const QTime &time);
inline std::tm AsTm(const QDateTime &moment) { return AsTm(moment.date(), moment.time()); }

QString FormatDate(const RegionalSettings &settings, const std::tm &moment);
QString FormatTime(const RegionalSettings &settings, const std::tm &moment);

// What the clock label shows: date, two spaces, time.
QString ClockText(const RegionalSettings &settings, const std::tm &date, const std::tm &time);

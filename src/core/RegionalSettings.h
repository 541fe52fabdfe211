#pragma once
#include <QChar>
#include <QString>
#include <ctime>

// The system's regional formats, read once at start-up. Formats are strftime patterns.
struct RegionalSettings {
    QString shortDateFormat = QStringLiteral("%d.%m.%Y");
    QString longTimeFormat = QStringLiteral("%H:%M:%S");
    QChar decimalSeparator = QLatin1Char(',');
};

QString FormatDate(const RegionalSettings &settings, const std::tm &moment);
QString FormatTime(const RegionalSettings &settings, const std::tm &moment);

// What the clock label shows: date, two spaces, time.
QString ClockText(const RegionalSettings &settings, const std::tm &date, const std::tm &time);

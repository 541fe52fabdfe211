#pragma once
// Qt date/time formats for the time axis from the regional strftime patterns.
#include <QString>

// The long time format without seconds, as QDateTime::toString takes it: "%H:%M:%S" -> "HH:mm".
QString QtTimeFormat(const QString &longTimeFormat);
// Short date and time without seconds: "%d.%m.%Y", "%H:%M:%S" -> "dd.MM.yyyy HH:mm".
QString QtDateTimeFormat(const QString &shortDateFormat, const QString &longTimeFormat);

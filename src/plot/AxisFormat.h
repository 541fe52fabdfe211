#pragma once
// Qt date/time formats for the time axis from the regional strftime patterns.
#include <QString>
#include <QStringList>
#include <functional>

// The long time format without seconds, as QDateTime::toString takes it: "%H:%M:%S" -> "HH:mm".
QString QtTimeFormat(const QString &longTimeFormat);
// Short date and time without seconds: "%d.%m.%Y", "%H:%M:%S" -> "dd.MM.yyyy HH:mm".
QString QtDateTimeFormat(const QString &shortDateFormat, const QString &longTimeFormat);

// The time axis: which format and how many evenly spread ticks, so that no two labels read
// alike ("14:07 14:07 14:08" says nothing). A tick's label as the axis writes it:
using TimeLabel = std::function<QString(qint64 msecsSinceEpoch, const QString &format)>;
// Local time in Qt's format, as QDateTimeAxis writes its labels.
QString LocalTimeLabel(qint64 msecsSinceEpoch, const QString &format);

struct TimeAxisLayout {
    QString format;
    int ticks = 2;
};

// The labels of `ticks` ticks spread evenly from `from` to `to` (milliseconds since the epoch).
QStringList TimeAxisLabels(qreal from, qreal to, int ticks, const QString &format,
                           const TimeLabel &label);

// The plainest format that lets every label differ: the time alone (over spans up to a day and
// a half), the date and time, each first without and then with seconds, then with
// milliseconds; within a format, the most ticks up to mostTicks, and no fewer than half of
// them before more detail is added.
TimeAxisLayout FitTimeAxis(qreal from, qreal to, int mostTicks, const QString &shortDateFormat,
                           const QString &longTimeFormat, const TimeLabel &label = LocalTimeLabel);

#pragma once
// What the chart shows, worked out from the readings: line pieces split at gaps, the places
// where program, step or cycle change, the title. No drawing here.
#include "LocalClock.h"
#include "PlotInput.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

// Figure colours of the window program: current temperature green, set temperature red.
const QColor kCurrentTemperatureColour(0, 128, 0);
const QColor kSetTemperatureColour(255, 0, 0);

struct ChangeMark {
    qreal x = 0;  // milliseconds since the epoch
    QString text; // "шаг 3(12)", "цикл 2(5)", "программа 2"
};

struct LineModel {
    QString label;
    QColor colour;
    bool dashed = false;
    QList<QList<QPointF>> pieces; // x in milliseconds since the epoch, y in °C
};

struct ChamberModel {
    QString label;
    LineModel current;
    std::optional<LineModel> set;
    QList<ChangeMark> marks;
    QList<Reading> readings;            // for the value under the pointer
    QList<qreal> instants;              // x of each reading
    QList<QPair<qreal, qreal>> outages; // shaded spans, x from and to
};

struct ChartModel {
    QString title;
    QList<ChamberModel> chambers;
    qreal xMin = 0, xMax = 0;
    qreal yMin = 0, yMax = 0;
    bool empty = true; // no temperature at all
};

// Readings farther apart than twice the usual distance between them get no line between them.
qint64 GapSeconds(const QList<Reading> &readings);

QList<QList<QPointF>> LinePieces(const QList<Reading> &readings, const QList<qreal> &instants,
                                 std::optional<double> Reading::*figure, qint64 gapSeconds);

QList<ChangeMark> ChangeMarks(const QList<Reading> &readings, const QList<qreal> &instants);

// "Камера №3, 09.12.2017 14:05:33 – 10.12.2017 09:12:00" in the regional formats.
QString DefaultTitle(const QList<ChamberReadings> &chambers, const RegionalSettings &settings);

ChartModel BuildChartModel(const QList<ChamberReadings> &chambers, const QString &title,
                           LocalClock &clock);

// "14:05:33  23,5 °C  программа 2  шаг 3(12)  цикл 2(5)"
QString ReadingText(const Reading &reading, const RegionalSettings &settings);

#include "ChartModel.h"

#include "core/IntegerText.h"
#include "core/NumberText.h"

#include <algorithm>

namespace {

constexpr qint64 kLogPeriodSeconds = 60;

// The first chamber takes the window's colours; further chambers need colours of their own.
const QColor kOtherChamberColours[] = {QColor(0, 0, 200), QColor(128, 0, 128), QColor(0, 128, 128),
                                       QColor(160, 96, 0), QColor(96, 96, 96)};

QColor ChamberColour(qsizetype index) {
    if (index == 0)
        return kCurrentTemperatureColour;
    return kOtherChamberColours[(index - 1) % std::size(kOtherChamberColours)];
}

QString PairText(const std::optional<int> &current, const std::optional<int> &total) {
    return IntToText(current.value_or(0)) + QLatin1Char('(') + IntToText(total.value_or(0)) +
           QLatin1Char(')');
}

QString MomentText(const Reading &reading, const RegionalSettings &settings) {
    const std::tm moment = AsTm(reading.date, reading.time);
    return FormatDate(settings, moment) + QLatin1Char(' ') + FormatTime(settings, moment);
}

LineModel Line(const QString &label, const QColor &colour, bool dashed,
               const QList<Reading> &readings, const QList<qreal> &instants,
               std::optional<double> Reading::*figure) {
    return {label, colour, dashed, LinePieces(readings, instants, figure, GapSeconds(readings))};
}

void Widen(ChartModel &model, const LineModel &line) {
    for (const auto &piece : line.pieces) {
        for (const QPointF &point : piece) {
            if (model.empty) {
                model.xMin = model.xMax = point.x();
                model.yMin = model.yMax = point.y();
                model.empty = false;
            }
            model.xMin = std::min(model.xMin, point.x());
            model.xMax = std::max(model.xMax, point.x());
            model.yMin = std::min(model.yMin, point.y());
            model.yMax = std::max(model.yMax, point.y());
        }
    }
}

} // namespace

qint64 GapSeconds(const QList<Reading> &readings) {
    QList<qint64> steps;
    for (qsizetype i = 1; i < readings.size(); ++i) {
        const qint64 step = LocalSeconds(readings[i]) - LocalSeconds(readings[i - 1]);
        if (step > 0)
            steps.append(step);
    }
    if (steps.isEmpty())
        return 2 * kLogPeriodSeconds;
    // The lower median: a file with as many gaps as steps still shows its usual step.
    const auto middle = steps.begin() + (steps.size() - 1) / 2;
    std::nth_element(steps.begin(), middle, steps.end());
    return 2 * *middle;
}

QList<QList<QPointF>> LinePieces(const QList<Reading> &readings, const QList<qreal> &instants,
                                 std::optional<double> Reading::*figure, qint64 gapSeconds) {
    QList<QList<QPointF>> pieces;
    bool broken = true;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        const auto &value = readings[i].*figure;
        if (!value) {
            broken = true; // an empty figure is no reading to draw a line through
            continue;
        }
        // By the moments, not the local times: a clock change is no gap.
        if (!broken && (instants[i] - instants[i - 1]) / 1000 > gapSeconds)
            broken = true;
        if (broken)
            pieces.append(QList<QPointF>());
        pieces.last().append(QPointF(instants[i], *value));
        broken = false;
    }
    return pieces;
}

QList<ChangeMark> ChangeMarks(const QList<Reading> &readings, const QList<qreal> &instants) {
    QList<ChangeMark> marks;
    const Reading *previous = nullptr;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        const Reading &reading = readings[i];
        if (!reading.program && !reading.step && !reading.cycle)
            continue;
        const bool first = previous == nullptr;
        const bool programChanged = first || reading.program != previous->program;
        const bool stepChanged =
            programChanged || reading.step != previous->step || reading.steps != previous->steps;
        const bool cycleChanged = programChanged || reading.cycle != previous->cycle ||
                                  reading.cycles != previous->cycles;
        previous = &reading;
        QStringList parts;
        if (programChanged && reading.program)
            parts.append(QStringLiteral("программа ") + IntToText(*reading.program));
        if (stepChanged && reading.step)
            parts.append(QStringLiteral("шаг ") + PairText(reading.step, reading.steps));
        if (cycleChanged && reading.cycle)
            parts.append(QStringLiteral("цикл ") + PairText(reading.cycle, reading.cycles));
        if (!parts.isEmpty())
            marks.append({instants[i], parts.join(QStringLiteral(", "))});
    }
    return marks;
}

QString DefaultTitle(const QList<ChamberReadings> &chambers, const RegionalSettings &settings) {
    QStringList labels;
    const Reading *first = nullptr;
    const Reading *last = nullptr;
    for (const ChamberReadings &chamber : chambers) {
        labels.append(chamber.label);
        if (chamber.readings.isEmpty())
            continue;
        if (!first || LocalSeconds(chamber.readings.first()) < LocalSeconds(*first))
            first = &chamber.readings.first();
        if (!last || LocalSeconds(chamber.readings.last()) > LocalSeconds(*last))
            last = &chamber.readings.last();
    }
    QString title = labels.join(QStringLiteral(", "));
    if (first)
        title += QStringLiteral(", ") + MomentText(*first, settings) + QStringLiteral(" – ") +
                 MomentText(*last, settings);
    return title;
}

ChartModel BuildChartModel(const QList<ChamberReadings> &chambers, const QString &title,
                           LocalClock &clock) {
    ChartModel model;
    model.title = title;
    const bool several = chambers.size() > 1;
    for (qsizetype index = 0; index < chambers.size(); ++index) {
        const ChamberReadings &chamber = chambers[index];
        ChamberModel chamberModel;
        chamberModel.label = chamber.label;
        chamberModel.readings = chamber.readings;
        for (const Reading &reading : chamber.readings)
            chamberModel.instants.append(static_cast<qreal>(clock.Instant(reading)));
        chamberModel.current = Line(chamber.label, ChamberColour(index), false, chamber.readings,
                                    chamberModel.instants, &Reading::temperature);
        if (chamber.hasSetTemperature) {
            const QString label = several ? chamber.label + QStringLiteral(": заданная температура")
                                          : QStringLiteral("Заданная температура");
            chamberModel.set =
                Line(label, index == 0 ? kSetTemperatureColour : ChamberColour(index), index != 0,
                     chamber.readings, chamberModel.instants, &Reading::setTemperature);
        }
        chamberModel.marks = ChangeMarks(chamber.readings, chamberModel.instants);
        Widen(model, chamberModel.current);
        if (chamberModel.set)
            Widen(model, *chamberModel.set);
        model.chambers.append(chamberModel);
    }
    return model;
}

QString ReadingText(const Reading &reading, const RegionalSettings &settings) {
    QStringList parts = {MomentText(reading, settings)};
    if (reading.temperature)
        parts.append(FloatToText(*reading.temperature, settings.decimalSeparator) +
                     QStringLiteral(" °C"));
    if (reading.setTemperature)
        parts.append(QStringLiteral("задано ") +
                     FloatToText(*reading.setTemperature, settings.decimalSeparator) +
                     QStringLiteral(" °C"));
    if (reading.program)
        parts.append(QStringLiteral("программа ") + IntToText(*reading.program));
    if (reading.step)
        parts.append(QStringLiteral("шаг ") + PairText(reading.step, reading.steps));
    if (reading.cycle)
        parts.append(QStringLiteral("цикл ") + PairText(reading.cycle, reading.cycles));
    return parts.join(QStringLiteral("  "));
}

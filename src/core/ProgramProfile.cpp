#include "ProgramProfile.h"

namespace {

QString Duration(std::int64_t minutes, const char *days, const char *hours, const char *mins) {
    const std::int64_t d = minutes / (24 * 60);
    const std::int64_t h = minutes / 60 % 24;
    const std::int64_t m = minutes % 60;
    const QString two = QStringLiteral("%1");
    if (d > 0)
        return QStringLiteral("%1 %2 %3 %4 %5 %6")
            .arg(d)
            .arg(QString::fromUtf8(days))
            .arg(two.arg(h, 2, 10, QLatin1Char('0')), QString::fromUtf8(hours))
            .arg(two.arg(m, 2, 10, QLatin1Char('0')), QString::fromUtf8(mins));
    if (h > 0)
        return QStringLiteral("%1 %2 %3 %4")
            .arg(h)
            .arg(QString::fromUtf8(hours))
            .arg(two.arg(m, 2, 10, QLatin1Char('0')), QString::fromUtf8(mins));
    return QStringLiteral("%1 %2").arg(m).arg(QString::fromUtf8(mins));
}

} // namespace

std::int64_t StepMinutes(const StepValues &step) {
    return std::int64_t{step.timeToModeHours} * 60 + step.timeToModeMinutes +
           std::int64_t{step.stabilisationHours} * 60 + step.stabilisationMinutes;
}

ProgramProfile BuildProgramProfile(const ProgramInput &program, int startTemperature) {
    ProgramProfile profile;
    profile.segments.reserve(static_cast<std::size_t>(program.cycles) * program.steps);
    std::int64_t minute = 0;
    int temperature = startTemperature;
    for (int step = 1; step <= program.steps; ++step) {
        const StepValues &values = program.rows[step - 1];
        if (values.timeToModeHours == 0 && values.timeToModeMinutes == 0)
            profile.stepsWithJumps.push_back(step);
    }
    for (int cycle = 1; cycle <= program.cycles; ++cycle)
        for (int step = 1; step <= program.steps; ++step) {
            const StepValues &values = program.rows[step - 1];
            ProfileSegment segment;
            segment.cycle = cycle;
            segment.step = step;
            segment.rampStartMinute = minute;
            segment.holdStartMinute =
                minute + std::int64_t{values.timeToModeHours} * 60 + values.timeToModeMinutes;
            segment.endMinute = minute + StepMinutes(values);
            segment.fromTemperature = temperature;
            segment.toTemperature = values.temperature;
            profile.segments.push_back(segment);
            minute = segment.endMinute;
            temperature = values.temperature;
        }
    profile.totalMinutes = minute;
    return profile;
}

QString DurationText(std::int64_t minutes) { return Duration(minutes, "d", "h", "min"); }

QString DurationTextRu(std::int64_t minutes) { return Duration(minutes, "сут", "ч", "мин"); }

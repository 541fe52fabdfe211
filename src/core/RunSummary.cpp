#include "RunSummary.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kDefaultRecordInterval = 60;
constexpr qint64 kOpenEnd = std::numeric_limits<qint64>::max();
// Temperatures come with one decimal; their differences are not exact in binary.
constexpr double kBandSlack = 1e-6;

RunMoment MomentOf(const Reading &reading, qint64 instant) {
    return {reading.date, reading.time, instant};
}

RunMoment MomentOf(const StoredJournalEvent &event) {
    return {event.date, event.time, event.instant};
}

qint64 EndOf(const RunEvent &event) { return event.end ? event.end->instant : kOpenEnd; }

// The lower median of the distances between neighbouring records.
qint64 RecordInterval(const QList<qint64> &instants) {
    QList<qint64> steps;
    for (qsizetype i = 1; i < instants.size(); ++i)
        if (instants[i] > instants[i - 1])
            steps.append(instants[i] - instants[i - 1]);
    if (steps.isEmpty())
        return kDefaultRecordInterval;
    const auto middle = steps.begin() + (steps.size() - 1) / 2;
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

void AddDistinct(QList<int> &numbers, const std::optional<int> &number) {
    if (number && !numbers.contains(*number))
        numbers.insert(std::lower_bound(numbers.begin(), numbers.end(), *number), *number);
}

// Programs, steps and cycles count from 1: a chamber without a program shows 0 (0) for them.
Reading WithoutZeroNumbers(Reading reading) {
    if (reading.program == 0)
        reading.program.reset();
    if (reading.step == 0) {
        reading.step.reset();
        reading.steps.reset();
    }
    if (reading.cycle == 0) {
        reading.cycle.reset();
        reading.cycles.reset();
    }
    return reading;
}

bool OnLastStepOfLastCycle(const Reading &reading) {
    return reading.step && reading.steps && reading.cycle && reading.cycles &&
           *reading.step == *reading.steps && *reading.cycle == *reading.cycles;
}

int CyclesCompleted(const QList<Reading> &readings) {
    int completed = 0;
    const Reading *previous = nullptr;
    for (const Reading &reading : readings) {
        if (previous) {
            const bool sameProgram = reading.program && reading.program == previous->program;
            if (sameProgram && reading.cycle && previous->cycle &&
                *reading.cycle > *previous->cycle)
                completed += *reading.cycle - *previous->cycle;
            else if ((!sameProgram ||
                      (reading.cycle && previous->cycle && *reading.cycle < *previous->cycle)) &&
                     OnLastStepOfLastCycle(*previous))
                ++completed; // the run left its last step of its last cycle: it ended
        }
        previous = reading.program ? &reading : nullptr;
    }
    return completed;
}

// A step of a running program whose time to mode has run out. The chamber's time-to-mode
// counter stops once the set temperature is reached and the stabilisation time counts on, so
// the time into the step is their sum.
bool InHold(const Reading &reading) {
    return reading.program && reading.step && reading.temperature && reading.setTemperature &&
           reading.timeToModeMinutes && reading.timeToModeSetPointMinutes &&
           *reading.timeToModeMinutes + reading.stabilisationMinutes.value_or(0) >=
               *reading.timeToModeSetPointMinutes;
}

// The journal's outages of the chamber: its own lost/back and those of the port. An outage
// without its "back" ends with the logger's next start or stop, or the next record.
QList<RunEvent> JournalOutages(const QList<StoredJournalEvent> &events,
                               const QList<qint64> &instants, const QList<Reading> &readings) {
    QList<RunEvent> outages;
    std::optional<qsizetype> openChamber, openPort;
    auto close = [&](std::optional<qsizetype> &open, const StoredJournalEvent &event) {
        if (open)
            outages[*open].end = MomentOf(event);
        open.reset();
    };
    for (const StoredJournalEvent &event : events) {
        const bool lost = event.event == QLatin1String("chamber_lost") ||
                          event.event == QLatin1String("port_lost");
        std::optional<qsizetype> &open =
            event.event.startsWith(QLatin1String("port_")) ? openPort : openChamber;
        if (lost && !open) {
            RunEvent outage;
            outage.kind = RunEventKind::Outage;
            outage.start = MomentOf(event);
            outage.detail = event.event == QLatin1String("port_lost")
                                ? QStringLiteral("port lost: ") + event.reason
                                : event.reason;
            open = outages.size();
            outages.append(outage);
        } else if (event.event == QLatin1String("chamber_back") ||
                   event.event == QLatin1String("port_back")) {
            close(open, event);
        } else if (event.event == QLatin1String("started") ||
                   event.event == QLatin1String("stopped")) {
            close(openChamber, event);
            close(openPort, event);
        }
    }
    for (RunEvent &outage : outages) {
        if (outage.end)
            continue;
        const auto next = std::upper_bound(instants.begin(), instants.end(), outage.start.instant);
        if (next != instants.end())
            outage.end = MomentOf(readings[next - instants.begin()], *next);
    }
    std::stable_sort(outages.begin(), outages.end(), [](const RunEvent &a, const RunEvent &b) {
        return a.start.instant < b.start.instant;
    });
    // A chamber lost with its port is one outage.
    QList<RunEvent> merged;
    for (const RunEvent &outage : outages) {
        if (!merged.isEmpty() && outage.start.instant <= EndOf(merged.last())) {
            if (EndOf(outage) > EndOf(merged.last()))
                merged.last().end = outage.end;
            continue;
        }
        merged.append(outage);
    }
    return merged;
}

// Whether a clear (or a repeat) is of the rule that raised this alarm. Two rules of one kind
// for one chamber differ in their limit; a line without one matches any.
bool SameAlarmRule(const StoredJournalEvent &raised, const StoredJournalEvent &event) {
    return raised.chamber == event.chamber && raised.kind == event.kind &&
           (!raised.limit || !event.limit || *raised.limit == *event.limit);
}

// One row an alarm, from its raise to its clear. A repeated raise of an open alarm adds no
// row; a repeat whose raise is not in the journal opens the row. A logger's start or stop ends
// the watch: an alarm open then keeps no end, since no clear of it was written.
QList<RunEvent> Alarms(const QList<StoredJournalEvent> &events) {
    QList<RunEvent> alarms;
    QList<std::pair<qsizetype, StoredJournalEvent>> open; // the row, and the line that opened it
    auto openOf = [&open](const StoredJournalEvent &event) {
        return std::find_if(open.begin(), open.end(),
                            [&event](const auto &row) { return SameAlarmRule(row.second, event); });
    };
    for (const StoredJournalEvent &event : events) {
        if (event.event == QLatin1String("alarm_raised")) {
            if (event.repeated && openOf(event) != open.end())
                continue;
            RunEvent alarm;
            alarm.kind = RunEventKind::Alarm;
            alarm.start = MomentOf(event);
            alarm.detail = event.kind;
            alarm.message = event.messageRu.isEmpty() ? event.message : event.messageRu;
            alarm.value = event.value;
            alarm.limit = event.limit;
            open.append({alarms.size(), event});
            alarms.append(alarm);
        } else if (event.event == QLatin1String("alarm_cleared")) {
            const auto row = openOf(event);
            if (row == open.end())
                continue;
            alarms[row->first].end = MomentOf(event);
            open.erase(row);
        } else if (event.event == QLatin1String("started") ||
                   event.event == QLatin1String("stopped")) {
            open.clear();
        }
    }
    return alarms;
}

QList<RunEvent> LoggerRuns(const QList<StoredJournalEvent> &events) {
    QList<RunEvent> runs;
    for (const StoredJournalEvent &event : events) {
        if (event.event == QLatin1String("started")) {
            RunEvent run;
            run.kind = RunEventKind::LoggerRunning;
            run.start = MomentOf(event);
            run.message = event.version;
            runs.append(run);
        } else if (event.event == QLatin1String("stopped") && !runs.isEmpty() && !runs.last().end) {
            runs.last().end = MomentOf(event);
            runs.last().detail = event.signal.isEmpty() ? event.reason : event.signal;
        }
    }
    return runs;
}

QList<RunEvent> ProgramRuns(const QList<Reading> &readings, const QList<qint64> &instants) {
    QList<RunEvent> runs;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        const Reading &reading = readings[i];
        const bool running = !runs.isEmpty() && !runs.last().end;
        if (running && reading.program == runs.last().program)
            continue;
        if (running)
            runs.last().end = MomentOf(reading, instants[i]);
        if (reading.program) {
            RunEvent run;
            run.kind = RunEventKind::Program;
            run.start = MomentOf(reading, instants[i]);
            run.program = reading.program;
            runs.append(run);
        }
    }
    // The data end while it still runs: it ran at least until the last record.
    if (!runs.isEmpty() && !runs.last().end && runs.last().start.instant != instants.last())
        runs.last().end = MomentOf(readings.last(), instants.last());
    return runs;
}

} // namespace

RunSummary SummariseRun(const RunInput &input) {
    RunSummary summary;
    summary.damagedLines = input.damagedLines;
    const qint64 from = input.from.value_or(std::numeric_limits<qint64>::min());
    const qint64 to = input.to.value_or(std::numeric_limits<qint64>::max());

    QList<Reading> readings;
    QList<qint64> instants;
    for (qsizetype i = 0; i < input.readings.size() && i < input.instants.size(); ++i) {
        if (input.instants[i] >= from && input.instants[i] <= to) {
            readings.append(WithoutZeroNumbers(input.readings[i]));
            instants.append(input.instants[i]);
        }
    }
    QList<StoredJournalEvent> events = input.events;
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredJournalEvent &a, const StoredJournalEvent &b) {
                         return a.instant < b.instant;
                     });

    summary.records = static_cast<int>(readings.size());
    summary.recordIntervalSeconds = RecordInterval(instants);
    const qint64 gap = 2 * summary.recordIntervalSeconds;
    if (!readings.isEmpty()) {
        summary.first = MomentOf(readings.first(), instants.first());
        summary.last = MomentOf(readings.last(), instants.last());
        summary.durationSeconds = instants.last() - instants.first();
    }

    double sum = 0;
    int counted = 0;
    qint64 inBand = 0, withSet = 0;
    bool anySet = false;
    for (qsizetype i = 0; i < readings.size(); ++i) {
        const Reading &reading = readings[i];
        AddDistinct(summary.programs, reading.program);
        AddDistinct(summary.steps, reading.step);
        AddDistinct(summary.cycles, reading.cycle);
        anySet |= reading.setTemperature.has_value();
        summary.hasHoldFigures |=
            reading.timeToModeMinutes.has_value() && reading.timeToModeSetPointMinutes.has_value();
        if (!reading.temperature)
            continue;
        const double t = *reading.temperature;
        sum += t;
        ++counted;
        if (!summary.minimum || t < summary.minimum->value)
            summary.minimum = RunFigure{t, MomentOf(reading, instants[i])};
        if (!summary.maximum || t > summary.maximum->value)
            summary.maximum = RunFigure{t, MomentOf(reading, instants[i])};
        if (InHold(reading)) {
            const double deviation = t - *reading.setTemperature;
            if (!summary.largestHoldDeviation ||
                std::abs(deviation) > std::abs(summary.largestHoldDeviation->value))
                summary.largestHoldDeviation = RunFigure{deviation, MomentOf(reading, instants[i])};
        }
        const qint64 span = i + 1 < readings.size() ? instants[i + 1] - instants[i] : 0;
        if (reading.setTemperature && span > 0 && span <= gap) {
            withSet += span;
            if (std::abs(t - *reading.setTemperature) <= input.band + kBandSlack)
                inBand += span;
        }
    }
    if (counted > 0)
        summary.mean = sum / counted;
    summary.cyclesCompleted = CyclesCompleted(readings);
    if (anySet) {
        summary.inBandSeconds = inBand;
        summary.withSetSeconds = withSet;
        if (withSet > 0)
            summary.inBandShare = static_cast<double>(inBand) / static_cast<double>(withSet);
    }

    QList<RunEvent> outages = JournalOutages(events, instants, readings);
    const QList<RunEvent> told = outages;
    for (qsizetype i = 1; i < readings.size(); ++i) {
        if (instants[i] - instants[i - 1] <= gap)
            continue;
        const bool known = std::any_of(told.begin(), told.end(), [&](const RunEvent &outage) {
            return outage.start.instant <= instants[i] && EndOf(outage) >= instants[i - 1];
        });
        if (!known) {
            RunEvent outage;
            outage.kind = RunEventKind::Outage;
            outage.start = MomentOf(readings[i - 1], instants[i - 1]);
            outage.end = MomentOf(readings[i], instants[i]);
            outages.append(outage);
        }
    }

    // The period: as given, else the records' span; events reaching into it are kept.
    const qint64 periodStart = input.from      ? *input.from
                               : summary.first ? summary.first->instant
                                               : std::numeric_limits<qint64>::min();
    const qint64 periodEnd = input.to       ? *input.to
                             : summary.last ? summary.last->instant
                                            : std::numeric_limits<qint64>::max();
    QList<RunEvent> all = outages + Alarms(events) + LoggerRuns(events) + input.writes;
    if (!readings.isEmpty())
        all += ProgramRuns(readings, instants);
    for (const RunEvent &event : all) {
        if (event.start.instant > periodEnd || EndOf(event) < periodStart)
            continue;
        // A write is a moment: one before the period is not in it.
        if (event.kind == RunEventKind::Write && event.start.instant < periodStart)
            continue;
        summary.events.append(event);
        if (event.kind != RunEventKind::Outage)
            continue;
        ++summary.outages;
        if (event.end)
            summary.outageSeconds += std::min(event.end->instant, periodEnd) -
                                     std::max(event.start.instant, periodStart);
    }
    std::stable_sort(
        summary.events.begin(), summary.events.end(),
        [](const RunEvent &a, const RunEvent &b) { return a.start.instant < b.start.instant; });
    return summary;
}

#pragma once
// The figures of a test report for one chamber: span, extremes, program, time within the band
// of the set temperature, holds, outages and the events of the run, from its readings and the
// logger's events journal. Pure: instants are given with the readings.
#include "EventsJournal.h"
#include "Reading.h"

#include <QList>
#include <QString>
#include <optional>

// A moment as the file wrote it, and as an instant.
struct RunMoment {
    QDate date;
    QTime time;
    qint64 instant = 0;
};

struct RunFigure {
    double value = 0;
    RunMoment at;
};

enum class RunEventKind {
    Outage,        // detail: the journal's reason, empty for a gap in the records
    Alarm,         // detail: the alarm's kind; message: its text, in Russian where known
    Program,       // a program running from start to end; program: its number
    LoggerRunning, // the logger from its start to its stop; detail: signal or reason
    Write,         // a write to the chamber, a moment; detail: the command in words; message:
                   // the reason given; who and outcome as the audit trail says them
};

struct RunEvent {
    RunEventKind kind = RunEventKind::Outage;
    RunMoment start;
    std::optional<RunMoment> end; // empty: not over when the data ends
    QString detail;
    QString message;
    std::optional<int> program;
    std::optional<double> value, limit;
    QString who, outcome;

    std::optional<qint64> seconds() const {
        return end ? std::optional<qint64>(end->instant - start.instant) : std::nullopt;
    }
};

struct RunInput {
    QList<Reading> readings; // one chamber, in time order
    QList<qint64> instants;  // seconds since the epoch, one per reading
    // Journal events of this chamber and of the logger as a whole (no "chamber"), any order.
    QList<StoredJournalEvent> events;
    QList<RunEvent> writes; // to the chamber, from audit trails (RunEventKind::Write), any order
    std::optional<qint64> from, to; // the period to report, seconds since the epoch, inclusive
    double band = 2.0;              // ± °C around the set temperature
    int damagedLines = 0;           // of the chamber's files and of the journal
};

struct RunSummary {
    std::optional<RunMoment> first, last; // records within the period
    int records = 0;
    qint64 durationSeconds = 0;
    qint64 recordIntervalSeconds = 0; // the usual distance between records
    std::optional<RunFigure> minimum, maximum;
    std::optional<double> mean;
    QList<int> programs, steps, cycles; // distinct numbers seen, ascending
    int cyclesCompleted = 0;

    // Empty without any set temperature in the data: unknown, not zero.
    std::optional<qint64> inBandSeconds;
    std::optional<qint64> withSetSeconds; // the time the band share is taken of
    std::optional<double> inBandShare;    // 0..1
    // The largest deviation from the set temperature once the step's time to mode has run out
    // (time to mode and stabilisation time together reach the time-to-mode set-point), signed;
    // empty when the data hold no such reading.
    std::optional<RunFigure> largestHoldDeviation;
    bool hasHoldFigures = false; // the data give time to mode and its set-point

    int outages = 0;
    qint64 outageSeconds = 0; // of the outages that ended
    int damagedLines = 0;
    QList<RunEvent> events; // by start
};

// Outages are gaps longer than twice the usual record interval, and the journal's lost/back
// pairs; where both tell of one outage the journal's times stand. Time counts between
// neighbouring records not split by an outage, each span taking the first record's figures.
RunSummary SummariseRun(const RunInput &input);

#pragma once
// Reads the readings log back: the file name's chamber and moment, and the records.
#include "LocalOffsets.h"
#include "Reading.h"
#include "RegionalSettings.h"

#include <QByteArray>
#include <QString>
#include <optional>

struct LogFileNameParts {
    std::optional<int> chamber; // empty while the name still holds the ">" placeholder
    std::optional<QDate> date;  // the moment logging was ticked
    std::optional<QTime> time;
};

// Parts of a log file's name (folder left out), or of the readings CSV named after it;
// nothing when the name is not built like one.
std::optional<LogFileNameParts> ParseLogFileName(const QString &fileName,
                                                 const RegionalSettings &settings);

struct LogReadOptions {
    RegionalSettings settings;
    QDate startDate;                // from the file's name, or given
    std::optional<QTime> startTime; // from the file's name, when it could be read
    UtcOffsetAt utcOffsetAt;        // the writer's zone; empty: records get dates only
};

// The records of a log's Windows-1251 bytes; nothing when the first line is not the log header.
// Dating: the first record goes to the day (the start date or a neighbour) that puts it nearest
// the start moment; each later record earlier than the one before it starts a new day, unless
// both lie in the hour the clock went back that day: then it is that hour's second pass.
// With a zone, each record gets its offset; a record of the repeated hour takes the pass its
// run of records shows (a run follows or precedes the step back, or reaches out of the hour),
// and stays without an offset when the file alone cannot tell (see SettleRepeatedHour).
// Repeated header lines and a record equal to the one before are skipped; other lines count
// as damaged.
std::optional<ReadingsFile> ReadLog(const QByteArray &bytes, const LogReadOptions &options);

// Gives the records that ReadLog left without an offset, each file's run of them in the hour a
// clock went back, the pass the chamber's other logs leave free: one chamber's logs never hold
// the same local time of the same pass twice. A run that overlaps another log's first pass is
// the second; one that overlaps a second pass is the first. Of runs that overlap only each
// other, the later-starting one is the first pass (the logger split there), and a run that
// overlaps nothing is the first pass. Every record then has its offset.
void SettleRepeatedHour(QList<QList<Reading>> &logs, const UtcOffsetAt &utcOffsetAt);

// True when the bytes begin with the log header.
bool LooksLikeLog(const QByteArray &bytes);

// The readings of several files of one chamber in time order. Readings of the same moment
// (a log and the readings CSV written beside it) become one, each figure taken from the first
// reading that has it. With a zone, readings without an offset get one and order and sameness
// go by the moment; without, by the local time.
QList<Reading> JoinReadings(const QList<QList<Reading>> &files,
                            const UtcOffsetAt &utcOffsetAt = {});

#pragma once
// Reads the readings log back: the file name's chamber and moment, and the records.
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
};

// The records of a log's Windows-1251 bytes; nothing when the first line is not the log header.
// Dating: the first record goes to the day (the start date or a neighbour) that puts it nearest
// the start moment; each later record earlier than the one before it starts a new day. Repeated
// header lines and a record equal to the one before are skipped; other lines count as damaged.
std::optional<ReadingsFile> ReadLog(const QByteArray &bytes, const LogReadOptions &options);

// True when the bytes begin with the log header.
bool LooksLikeLog(const QByteArray &bytes);

// The readings of several files of one chamber in time order. Readings of the same moment
// (a log and the readings CSV written beside it) become one, each figure taken from the first
// reading that has it.
QList<Reading> JoinReadings(const QList<QList<Reading>> &files);

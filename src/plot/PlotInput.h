#pragma once
// Reads the given log and readings CSV files and gathers their readings per chamber.
#include "LocalClock.h"
#include "core/Errors.h"
#include "core/LocalOffsets.h"
#include "core/EventsJournal.h"
#include "core/Reading.h"
#include "core/RegionalSettings.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct InputSettings {
    RegionalSettings settings;         // the machine's, with --date-format/--time-format applied
    std::optional<QDate> fallbackDate; // --date: for logs whose name gives none
    bool allowEmptyFiles = false;      // a followed log may not have its first record yet
    // The zone the logs were written in, this machine's; empty: local times only.
    UtcOffsetAt utcOffsetAt = MachineUtcOffsetAt;
};

// The readings of one chamber, joined from all its files.
struct ChamberReadings {
    std::optional<int> chamber; // empty for files whose name gives no chamber number
    QString label;              // "Камера №3", or the file's name
    QList<Reading> readings;
    bool hasSetTemperature = false;
    int damagedLines = 0; // skipped in its files
};

// A file as it was read, for matching a report to its raw data.
struct SourceFile {
    QString path;
    QByteArray sha256; // of the bytes read
    std::optional<int> chamber;
    bool journal = false;
};

struct LoadedInput {
    QList<ChamberReadings> chambers; // by chamber number, files without one last
    QStringList warnings;            // "<file>: 2 damaged lines skipped (the first is line 9)"
    QList<SourceFile> sources;       // in the order given
    QList<StoredJournalEvent> events;      // of the logger's events journals, in file order
    int journalDamagedLines = 0;
};

// "<file>: <cause>", for one line on stderr.
class InputError : public KalvoraError {
public:
    using KalvoraError::KalvoraError;
};

// Throws InputError for a file that cannot be read, is neither a log, a readings CSV nor an
// events journal, has no records (unless allowed) or a log whose date is unknown.
LoadedInput LoadInput(const QStringList &files, const InputSettings &input);

QString ChamberLabel(int chamber);

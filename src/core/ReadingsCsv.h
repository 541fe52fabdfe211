#pragma once
// CSV files of readings: the rows that the command-line tool writes beside its logs (read), and
// the rows that the plotting tool writes for spreadsheets (written). UTF-8, numbers with a dot,
// times in ISO 8601 with the offset from UTC, empty cells for empty figures.
#include "IsoTime.h"
#include "Reading.h"

#include <QByteArray>
#include <QDate>
#include <QTime>
#include <functional>
#include <optional>

// Header row of the command-line tool's readings files, without its line end.
QByteArray ReadingsCsvHeader();
// Header row of the plotting tool's files.
extern const char kPlotCsvHeader[];

// True when the bytes begin with the readings header row.
bool LooksLikeReadingsCsv(const QByteArray &bytes);

// Rows of a readings file; nothing when the header row is missing. Damaged rows are counted.
std::optional<ReadingsFile> ReadReadingsCsv(const QByteArray &bytes);

// The offset from UTC, in seconds, of a local time of this machine.
using UtcOffsetOf = std::function<int(const QDate &, const QTime &)>;

// Header and one row per reading, each ending with LF. A reading that knows its offset keeps
// it; the others get utcOffsetOf's.
QByteArray PlotCsv(const QList<Reading> &readings, const UtcOffsetOf &utcOffsetOf);

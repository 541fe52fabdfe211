#pragma once
// The logger's events journal (docs/events.md): one JSON object a line, read back for reports.
// Members and events not used here are ignored, as the format asks of readers.
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

// One line of a journal as read back, with its time (a line to write is a JournalEvent of the
// logger, without one).
struct StoredJournalEvent {
    // Local time of the logger's machine and its offset from UTC, as the line gives them.
    QDate date;
    QTime time;
    int utcOffsetSeconds = 0;
    qint64 instant = 0; // seconds since the epoch
    QString event;      // "started", "chamber_lost", ...
    int line = 0;       // 1-based line of the journal

    std::optional<int> chamber;
    QString reason;    // chamber_lost, port_lost, stopped (on an error), delivery_failed
    QString signal;    // stopped
    QString kind;      // alarm_raised, alarm_cleared, notice
    QString message;   // alarm_raised, alarm_cleared, notice
    QString messageRu; // the same in Russian, where the line has it
    QString version;   // started
    QString port;      // started, port_lost, port_back
    std::optional<double> value, limit;
    bool repeated = false; // alarm_raised sent again while the alarm stays raised
    std::optional<int> program, previousProgram, exitCode;
    std::optional<qint64> outageSeconds;
};

struct EventsJournal {
    QList<StoredJournalEvent> events; // in file order
    int damagedLines = 0;             // lines that are no event object: skipped
    int firstDamagedLine = 0;         // 1-based; 0 when none
};

// True when the first line opens an event object ({"time":...).
bool LooksLikeEventsJournal(const QByteArray &bytes);

// The events of a journal's UTF-8 bytes; nothing when it does not look like one. A line that is
// not a JSON object with a "time" (with its offset) and an "event" counts as damaged.
std::optional<EventsJournal> ReadEventsJournal(const QByteArray &bytes);

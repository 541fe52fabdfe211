#pragma once
// The events journal of a logging run: one JSON object a line, "time" (local ISO 8601 with
// its offset) and "event" first, each line written whole the moment it happens, so that a
// reader may follow the file while the run goes on. See docs/events.md for the events.
#include "base/LoggerClock.h"

#include <QJsonObject>
#include <QString>
#include <mutex>

class EventJournal {
public:
    // Opens (creating) the file for appending. Throws CliError(kExitFile) naming it.
    EventJournal(const QString &path, const LoggerClock &clock);
    ~EventJournal();
    EventJournal(const EventJournal &) = delete;
    EventJournal &operator=(const EventJournal &) = delete;

    // A failed write is warned about once on stderr and never ends the run: the journal
    // reports the logging, it must not stop it. Safe from several threads.
    void write(const QString &event, const QJsonObject &members = {});
    const QString &path() const { return path_; }

private:
    QString path_;
    const LoggerClock &clock_;
    int fd_ = -1;
    std::mutex mutex_;
    bool failureReported_ = false;
    bool lineCut_ = false; // the file ends inside a line that a failed write began
};

// One line of the journal, without its line end: {"time":...,"event":...,<members>}.
QByteArray JournalLine(const QString &isoTime, const QString &event, const QJsonObject &members);

// 2026-12-10T14:03:04+03:00: the offset always written out, "+00:00" included.
QString IsoLocalTime(const QDateTime &moment);

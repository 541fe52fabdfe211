#pragma once
// This machine's local time zone, for turning the files' local times into instants.
#include "core/Reading.h"

#include <QHash>

// Offset from UTC, in seconds, of this machine's local time at a moment since the epoch.
int MachineUtcOffsetAt(qint64 utcSeconds);

class LocalClock {
public:
    // Offset from UTC in seconds of a local time here.
    int UtcOffset(const QDate &date, const QTime &time);
    // Milliseconds since the epoch; a reading that carries its offset keeps it.
    qint64 Instant(const Reading &reading);

private:
    // Time zone look-ups are slow beside a 43,200-record log: one per local hour is enough.
    QHash<qint64, int> offsetByHour_;
};

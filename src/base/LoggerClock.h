#pragma once
// The logger's wall clock: the local moment of a reading, with its offset from UTC, names files
// and dates records. Behind an interface so that tests drive it across midnight and clock
// changes; the rounds themselves run on the steady clock.
#include <QDateTime>
#include <mutex>

class LoggerClock {
public:
    virtual ~LoggerClock() = default;
    virtual QDateTime now() const = 0;
};

// The machine's local time, fixed to the offset it has at that moment: whatever formats the
// moment later, on whatever thread (the journal, alarm mail), needs no look-up in the time-zone
// database, whose state the C library shares between threads. The look-ups themselves are
// made one at a time.
class SystemClock : public LoggerClock {
public:
    QDateTime now() const override;
};

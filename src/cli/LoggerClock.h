#pragma once
// The logger's wall clock: the local moment of a reading, with its offset from UTC, names files
// and dates records. Behind an interface so that tests drive it across midnight and clock
// changes; the rounds themselves run on the steady clock.
#include <QDateTime>

class LoggerClock {
public:
    virtual ~LoggerClock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock : public LoggerClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

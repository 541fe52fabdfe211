#include "LocalClock.h"

#include <QDateTime>

int MachineUtcOffsetAt(qint64 utcSeconds) {
    return QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::LocalTime).offsetFromUtc();
}

int LocalClock::UtcOffset(const QDate &date, const QTime &time) {
    const qint64 hour = LocalSeconds(date, time) / 3600;
    const auto found = offsetByHour_.constFind(hour);
    if (found != offsetByHour_.cend())
        return *found;
    const int offset = QDateTime(date, QTime(time.hour(), 0), Qt::LocalTime).offsetFromUtc();
    offsetByHour_.insert(hour, offset);
    return offset;
}

qint64 LocalClock::Instant(const Reading &reading) {
    const int offset = reading.utcOffsetSeconds ? *reading.utcOffsetSeconds
                                                : UtcOffset(reading.date, reading.time);
    return EpochSeconds(reading.date, reading.time, offset) * 1000;
}

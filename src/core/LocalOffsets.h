#pragma once
// The offsets from UTC a local time of the writing machine can have. Log records carry a local
// time only; around a clock change one local time may stand for two moments, or for none.
#include <QDate>
#include <QHash>
#include <QList>
#include <QTime>
#include <functional>

// Offset from UTC, in seconds, of the local time zone at a moment (seconds since the epoch).
using UtcOffsetAt = std::function<int(qint64 utcSeconds)>;

class LocalOffsets {
public:
    explicit LocalOffsets(UtcOffsetAt offsetAt) : offsetAt_(std::move(offsetAt)) {}

    // One offset; two in the hour a clock goes back, the earlier moment's first. A local time
    // the clock skipped gets the offset from before the change.
    QList<int> Of(const QDate &date, const QTime &time);
    bool Repeated(const QDate &date, const QTime &time) { return Of(date, time).size() > 1; }

private:
    UtcOffsetAt offsetAt_;
    // Zones change their offset on a quarter hour: one look-up per local quarter hour.
    QHash<qint64, QList<int>> byQuarterHour_;
};

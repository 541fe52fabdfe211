#pragma once
// The recent readings of every chamber a logger reads, in memory for its overview page: every
// good reading of the last hour, one a minute (the minute's last) for the day before that, and
// an empty point where an outage began, so that a chart breaks its line there. Times are
// milliseconds since the epoch, given by the caller: the class reads no clock.
#include "Reading.h"
#include "ReadingValues.h"

#include <QList>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

struct HistoryPoint {
    qint64 t = 0;
    bool gap = false; // an outage began here; every value is empty
    std::optional<double> currentTemperature;
    std::optional<double> setTemperature;
    std::optional<unsigned> program;
    std::optional<unsigned> step;
    std::optional<unsigned> cycle;
    bool operator==(const HistoryPoint &) const = default;
};

HistoryPoint HistoryPointOf(qint64 t, const ReadingValues &values);

class ReadingHistory {
public:
    static constexpr qint64 kFullResolutionMs = 3'600'000;
    static constexpr qint64 kKeptMs = 24 * kFullResolutionMs;
    static constexpr qint64 kMinuteMs = 60'000;

    // maxRecentPoints bounds the full-resolution part whatever the rate of readings; beyond it
    // the oldest go to the minutes' part early.
    explicit ReadingHistory(std::size_t maxRecentPoints = 8192);

    // A point older than the chamber's newest is taken for a clock set back: every point kept
    // so far, of every chamber, moves back by as much, so that none is lost and the newest
    // still comes last (the order the readings came in, on the clock as it reads now). A gap
    // after a gap, or before any reading, is not kept.
    void addReading(int address, const HistoryPoint &point);
    void addGap(int address, qint64 t);
    // Moves what is older than an hour to the minutes' part, and drops what is older than a day.
    void expire(qint64 now);

    // Points at or after now - spanMs, oldest first.
    std::vector<HistoryPoint> points(int address, qint64 now, qint64 spanMs) const;
    std::size_t pointCount() const;

private:
    // 40 bytes a point: NaN and -1 for an empty value.
    struct Stored {
        qint64 t;
        double currentTemperature;
        double setTemperature;
        std::int32_t program;
        std::int32_t step;
        std::int32_t cycle;
        bool gap;
    };
    struct Series {
        std::deque<Stored> minutes; // one reading a minute, an outage's start kept beside it
        std::deque<Stored> recent;  // every point
    };

    static Stored Store(const HistoryPoint &point);
    static HistoryPoint Load(const Stored &stored);
    void add(Series &series, const Stored &point);
    void moveBack(qint64 ms);
    void expire(Series &series, qint64 now) const;
    static void toMinutes(Series &series, const Stored &point);

    std::size_t maxRecentPoints_;
    std::map<int, Series> series_;
};

// Fills a chamber's history from the rows of its readings CSV files (any order, any files):
// the rows at or after `from`; a row without a temperature, and a pause longer than gapAfterMs
// between two rows or between the last row and `until` (the logger's start), becomes an outage.
void FillHistory(ReadingHistory &history, int address, const QList<Reading> &readings, qint64 from,
                 qint64 until, qint64 gapAfterMs);

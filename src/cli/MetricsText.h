#pragma once
// The Prometheus text exposition of the chambers a `log` run reads.
#include "core/ReadingValues.h"

#include <QString>
#include <optional>
#include <vector>

struct ExchangeCounts {
    unsigned long long ok = 0;
    unsigned long long timeout = 0;
    unsigned long long badCrc = 0;
    unsigned long long exception = 0;
    unsigned long long lineNeverQuiet = 0;
};

struct ChamberMetrics {
    int address = 0;
    bool up = false;
    std::optional<ReadingValues> values;         // of the last good reading, while up
    std::optional<double> lastGoodReadingAt;     // Unix time, seconds
    std::optional<bool> sensorOk;                // of the last reply; none before the first
    ExchangeCounts exchanges;
};

struct BusMetrics {
    bool portUp = true;
    std::vector<ChamberMetrics> chambers;
    QString alarmsText; // the alarms' own metrics, appended as they are
    QString shareText;  // the shared links' metrics, appended as they are
};

// Every metric with its # HELP and # TYPE; a chamber that is down, or a value that failed its
// bound, has no sample for that value (no stale figures).
QString PrometheusText(const BusMetrics &bus);

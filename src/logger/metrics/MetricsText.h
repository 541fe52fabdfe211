#pragma once
// What /metrics and the pages show of a `log` run: the bus, each chamber, the alarms and the
// shared links, and its Prometheus text.
#include "logger/metrics/AlarmMetrics.h"
#include "logger/metrics/SharedLinkMetrics.h"

#include "core/ReadingValues.h"

#include <QDateTime>
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

struct ActiveAlarm {
    QString kind;    // "high", as the rules and the metrics name it
    QDateTime since; // when it was raised; invalid when not known
};

struct ChamberMetrics {
    int address = 0;
    bool up = false;
    std::optional<ReadingValues> values;     // of the last good reading, while up
    std::optional<double> lastGoodReadingAt; // Unix time, seconds
    std::optional<bool> sensorOk;            // of the last reply; none before the first
    ExchangeCounts exchanges;
    // For the overview page, which shows the last reading through an outage, marked as old.
    std::optional<ReadingValues> lastValues; // of the last good reading, kept while down
    QDateTime lastGoodReading;               // invalid before the first
    QDateTime silentSince;                   // the outage's start; invalid while up
    std::vector<ActiveAlarm> alarms;
};

struct BusMetrics {
    bool portUp = true;
    std::vector<ChamberMetrics> chambers;
    std::optional<AlarmMetrics> alarms;         // with --alarm
    std::vector<SharedLinkMetrics> sharedLinks; // with --share
    unsigned long long failedLogins = 0;        // of the server's login (--web-config)
    // The run, for the overview page.
    QString version;
    QDateTime started;
    QString port;
    QString device;
    int periodSeconds = 0;
};

// Every metric with its # HELP and # TYPE; a chamber that is down, or a value that failed its
// bound, has no sample for that value (no stale figures). The alarms' and the shared links'
// families come only with alarms and links.
QString PrometheusText(const BusMetrics &bus);

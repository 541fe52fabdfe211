#pragma once
// The alarms' part of /metrics: kalvora_alarm_active{chamber,kind} (0 or 1 for every chamber
// and kind with a rule) and kalvora_alarm_delivery_failures_total{channel} (every configured
// channel).
#include "logger/metrics/PrometheusWriter.h"

#include "core/AlarmRules.h"

#include <QString>
#include <vector>

struct ChannelFailures {
    QString channel; // "command", "webhook", "mail"
    unsigned long long failures = 0;
};

struct AlarmMetrics {
    std::vector<AlarmStatus> status;
    std::vector<ChannelFailures> failures;
};

void WriteAlarmMetrics(PrometheusWriter &out, const AlarmMetrics &alarms);
// Those two families alone.
QString AlarmMetricsText(const AlarmMetrics &alarms);

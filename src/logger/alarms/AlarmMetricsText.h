#pragma once
// The alarm part of the Prometheus text of a `log` run, appended after PrometheusText().
#include "core/AlarmRules.h"

#include <QString>
#include <utility>
#include <vector>

struct ChannelFailures {
    QString channel; // "command", "webhook", "mail"
    unsigned long long failures = 0;
};

// kalvora_alarm_active{chamber,kind} (0 or 1 for every chamber and kind with a rule) and
// kalvora_alarm_delivery_failures_total{channel} (every configured channel), with # HELP and
// # TYPE even when empty, so that a rule written against them sees the metric exists.
QString AlarmMetricsText(const std::vector<AlarmStatus> &status,
                         const std::vector<ChannelFailures> &failures);

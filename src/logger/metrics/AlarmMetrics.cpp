#include "logger/metrics/AlarmMetrics.h"

void WriteAlarmMetrics(PrometheusWriter &out, const AlarmMetrics &alarms) {
    auto &active = out.family(
        QStringLiteral("kalvora_alarm_active"), PrometheusWriter::Type::Gauge,
        QStringLiteral("Whether an alarm of this kind is raised at the chamber (1) or not (0)."));
    for (const AlarmStatus &s : alarms.status)
        active.add({{QStringLiteral("chamber"), QString::number(s.chamber)},
                    {QStringLiteral("kind"), AlarmKindName(s.kind)}},
                   s.active ? 1 : 0);
    auto &failures = out.family(
        QStringLiteral("kalvora_alarm_delivery_failures_total"), PrometheusWriter::Type::Counter,
        QStringLiteral("Failed attempts to deliver an alarm notification, by channel."));
    for (const ChannelFailures &f : alarms.failures)
        failures.addCount({{QStringLiteral("channel"), f.channel}}, f.failures);
}

QString AlarmMetricsText(const AlarmMetrics &alarms) {
    PrometheusWriter out;
    WriteAlarmMetrics(out, alarms);
    return out.text();
}

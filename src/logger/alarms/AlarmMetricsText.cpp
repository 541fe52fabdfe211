#include "logger/alarms/AlarmMetricsText.h"

QString AlarmMetricsText(const std::vector<AlarmStatus> &status,
                         const std::vector<ChannelFailures> &failures) {
    QString text = QStringLiteral(
        "# HELP kalvora_alarm_active Whether an alarm of this kind is raised at the chamber (1) or "
        "not (0).\n# TYPE kalvora_alarm_active gauge\n");
    for (const AlarmStatus &s : status)
        text += QStringLiteral("kalvora_alarm_active{chamber=\"%1\",kind=\"%2\"} %3\n")
                    .arg(s.chamber)
                    .arg(AlarmKindName(s.kind))
                    .arg(s.active ? 1 : 0);
    text += QStringLiteral("# HELP kalvora_alarm_delivery_failures_total Failed attempts to "
                           "deliver an alarm notification, by channel.\n"
                           "# TYPE kalvora_alarm_delivery_failures_total counter\n");
    for (const ChannelFailures &f : failures)
        text += QStringLiteral("kalvora_alarm_delivery_failures_total{channel=\"%1\"} %2\n")
                    .arg(f.channel)
                    .arg(f.failures);
    return text;
}

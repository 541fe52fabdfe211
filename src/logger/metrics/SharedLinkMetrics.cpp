#include "logger/metrics/SharedLinkMetrics.h"

#include "core/ExchangeOutcome.h"

#include <utility>

void WriteSharedLinkMetrics(PrometheusWriter &out, const std::vector<SharedLinkMetrics> &links) {
    using Type = PrometheusWriter::Type;
    const auto link = [](const SharedLinkMetrics &l) {
        return MetricLabel{QStringLiteral("link"), l.path};
    };
    auto &requests = out.family(
        QStringLiteral("kalvora_client_requests_total"), Type::Counter,
        QStringLiteral("Requests of clients on a shared link sent on the bus (one try each), by "
                       "result: ok, exception, timeout (no reply), bad_crc (damaged reply), "
                       "not_sent (port lost or the line never quiet)."));
    for (const SharedLinkMetrics &l : links) {
        using O = ExchangeOutcome;
        const std::pair<O, unsigned long long> results[] = {
            {O::Ok, l.ok},
            {O::Exception, l.exception},
            {O::Timeout, l.timeout},
            {O::BadCrc, l.damagedReply},
            {O::PortLost, l.notSent}};
        for (const auto &[result, count] : results)
            requests.addCount({link(l), {QStringLiteral("result"), ClientRequestLabel(result)}},
                              count);
    }
    auto &dropped = out.family(
        QStringLiteral("kalvora_client_dropped_total"), Type::Counter,
        QStringLiteral("Requests of clients on a shared link dropped before the bus, by reason: "
                       "damaged (CRC), unsupported (not function 4 or 16, a wrong count, an "
                       "address above 250), incomplete (silence before the end), replaced (a "
                       "read, or the same write, not yet sent when the client sent it again), "
                       "stale (waited too long for the bus), overflow (more than 32 waiting)."));
    for (const SharedLinkMetrics &l : links) {
        const std::pair<const char *, unsigned long long> reasons[] = {
            {"damaged", l.damaged},       {"unsupported", l.unsupported},
            {"incomplete", l.incomplete}, {"replaced", l.replaced},
            {"stale", l.stale},           {"overflow", l.overflow}};
        for (const auto &[reason, count] : reasons)
            dropped.addCount({link(l), {QStringLiteral("reason"), QLatin1String(reason)}}, count);
    }
    auto &bus = out.family(QStringLiteral("kalvora_client_bus_seconds_total"), Type::Counter,
                           QStringLiteral("Seconds the bus spent on the requests of a shared "
                                          "link's clients."));
    for (const SharedLinkMetrics &l : links)
        bus.add({link(l)}, l.busSeconds);
    auto &wait = out.family(QStringLiteral("kalvora_client_wait_seconds_total"), Type::Counter,
                            QStringLiteral("Seconds the requests of a shared link's clients "
                                           "waited for the bus."));
    for (const SharedLinkMetrics &l : links)
        wait.add({link(l)}, l.waitSeconds);
}

#include "logger/metrics/MetricsText.h"

#include "core/ExchangeOutcome.h"

#include <functional>

namespace {

MetricLabel Chamber(int address) { return {QStringLiteral("chamber"), QString::number(address)}; }

struct Gauge {
    const char *name;
    const char *help;
    std::function<std::optional<double>(const ChamberMetrics &)> value;
};

std::optional<double> FromReading(const ChamberMetrics &c,
                                  const std::function<std::optional<double>(const ReadingValues &)> &f) {
    if (!c.up || !c.values)
        return std::nullopt;
    return f(*c.values);
}

template <class T> std::optional<double> AsDouble(const std::optional<T> &v) {
    return v ? std::optional<double>(static_cast<double>(*v)) : std::nullopt;
}

const std::vector<Gauge> &Gauges() {
    static const std::vector<Gauge> gauges{
        {"kalvora_chamber_up", "Whether the chamber answered its last reading (1) or not (0).",
         [](const ChamberMetrics &c) { return std::optional<double>(c.up ? 1 : 0); }},
        {"kalvora_chamber_temperature_celsius", "Current temperature of the chamber in degrees Celsius.",
         [](const ChamberMetrics &c) {
             return FromReading(c, [](const ReadingValues &v) { return v.currentTemperature; });
         }},
        {"kalvora_chamber_set_temperature_celsius", "Set temperature of the chamber in degrees Celsius.",
         [](const ChamberMetrics &c) {
             return FromReading(c, [](const ReadingValues &v) { return v.setTemperature; });
         }},
        {"kalvora_chamber_program", "Number of the chamber's current program.",
         [](const ChamberMetrics &c) {
             return FromReading(c, [](const ReadingValues &v) { return AsDouble(v.program); });
         }},
        {"kalvora_chamber_step", "Current step of the chamber's program.",
         [](const ChamberMetrics &c) {
             return FromReading(c, [](const ReadingValues &v) { return AsDouble(v.step); });
         }},
        {"kalvora_chamber_cycle", "Current cycle of the chamber's program.",
         [](const ChamberMetrics &c) {
             return FromReading(c, [](const ReadingValues &v) { return AsDouble(v.cycle); });
         }},
        {"kalvora_chamber_sensor_ok",
         "Whether the chamber's last reply held a plausible temperature (1) or not (0).",
         [](const ChamberMetrics &c) {
             return c.sensorOk ? std::optional<double>(*c.sensorOk ? 1 : 0) : std::nullopt;
         }},
        {"kalvora_chamber_last_reading_timestamp_seconds",
         "Unix time of the chamber's last good reading.",
         [](const ChamberMetrics &c) { return c.lastGoodReadingAt; }},
    };
    return gauges;
}

} // namespace

QString PrometheusText(const BusMetrics &bus) {
    using Type = PrometheusWriter::Type;
    PrometheusWriter out;
    out.family(QStringLiteral("kalvora_port_up"), Type::Gauge,
               QStringLiteral("Whether the serial port is open and working (1) or lost (0)."))
        .add({}, bus.portUp ? 1 : 0);
    for (const Gauge &gauge : Gauges()) {
        auto &family = out.family(QLatin1String(gauge.name), Type::Gauge,
                                  QLatin1String(gauge.help));
        for (const ChamberMetrics &c : bus.chambers)
            if (const auto value = gauge.value(c))
                family.add({Chamber(c.address)}, *value);
    }
    auto &exchanges = out.family(
        QStringLiteral("kalvora_chamber_exchanges_total"), Type::Counter,
        QStringLiteral("Exchanges with the chamber by result: ok, timeout (no reply), bad_crc "
                       "(damaged reply), exception (refused), line_never_quiet (the line never "
                       "fell quiet for the request)."));
    for (const ChamberMetrics &c : bus.chambers) {
        using O = ExchangeOutcome;
        const std::pair<O, unsigned long long> results[] = {
            {O::Ok, c.exchanges.ok},
            {O::Timeout, c.exchanges.timeout},
            {O::BadCrc, c.exchanges.badCrc},
            {O::Exception, c.exchanges.exception},
            {O::LineNeverQuiet, c.exchanges.lineNeverQuiet}};
        for (const auto &[result, count] : results)
            exchanges.addCount(
                {Chamber(c.address), {QStringLiteral("result"), OutcomeMetricLabel(result)}}, count);
    }
    out.family(QStringLiteral("kalvora_http_failed_logins_total"), Type::Counter,
               QStringLiteral("Requests to the pages, the API or /metrics with a wrong user or "
                              "password (0 without a login)."))
        .addCount({}, bus.failedLogins);
    if (bus.alarms)
        WriteAlarmMetrics(out, *bus.alarms);
    if (!bus.sharedLinks.empty())
        WriteSharedLinkMetrics(out, bus.sharedLinks);
    return out.text();
}

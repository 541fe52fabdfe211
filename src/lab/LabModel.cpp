#include "lab/LabModel.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace {

std::map<QString, QString> Labels(const QJsonObject &metric) {
    std::map<QString, QString> labels;
    for (auto it = metric.begin(); it != metric.end(); ++it)
        labels[it.key()] = it.value().toString();
    return labels;
}

// Prometheus writes sample values as strings: "25.1", "NaN", "+Inf".
std::optional<double> Value(const QJsonValue &value) {
    bool ok = false;
    const double number = value.toString().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

QJsonArray Result(const QByteArray &json, const char *type, QString &error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        error = QStringLiteral("not a Prometheus answer: ") + parseError.errorString();
        return {};
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("status")).toString() != QLatin1String("success")) {
        error = root.value(QStringLiteral("error")).toString();
        if (error.isEmpty())
            error = QStringLiteral("Prometheus answered without success");
        return {};
    }
    const QJsonObject data = root.value(QStringLiteral("data")).toObject();
    if (data.value(QStringLiteral("resultType")).toString() != QLatin1String(type)) {
        error = QStringLiteral("Prometheus answered a %1, not a %2")
                    .arg(data.value(QStringLiteral("resultType")).toString(), QLatin1String(type));
        return {};
    }
    return data.value(QStringLiteral("result")).toArray();
}

struct Key {
    QString job, instance;
    bool operator<(const Key &other) const {
        return std::tie(job, instance) < std::tie(other.job, other.instance);
    }
};

Key KeyOf(const PromSample &sample) {
    const auto at = [&](const char *name) {
        const auto found = sample.labels.find(QLatin1String(name));
        return found == sample.labels.end() ? QString() : found->second;
    };
    return {at("job"), at("instance")};
}

std::optional<int> ChamberOf(const PromSample &sample) {
    const auto found = sample.labels.find(QStringLiteral("chamber"));
    if (found == sample.labels.end())
        return std::nullopt;
    bool ok = false;
    const int address = found->second.toInt(&ok);
    return ok ? std::optional<int>(address) : std::nullopt;
}

QString Label(const PromSample &sample, const char *name) {
    const auto found = sample.labels.find(QLatin1String(name));
    return found == sample.labels.end() ? QString() : found->second;
}

QJsonValue Number(const std::optional<double> &value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString Moment(double unixSeconds) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(unixSeconds * 1000)))
        .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODate);
}

} // namespace

PromVector ParsePromVector(const QByteArray &json) {
    PromVector vector;
    for (const QJsonValue &entry : Result(json, "vector", vector.error)) {
        const QJsonObject sample = entry.toObject();
        const QJsonArray pair = sample.value(QStringLiteral("value")).toArray();
        if (const auto value = Value(pair.at(1)))
            vector.samples.push_back({Labels(sample.value(QStringLiteral("metric")).toObject()), *value});
    }
    return vector;
}

PromMatrix ParsePromMatrix(const QByteArray &json) {
    PromMatrix matrix;
    for (const QJsonValue &entry : Result(json, "matrix", matrix.error)) {
        const QJsonObject line = entry.toObject();
        PromSeries series{Labels(line.value(QStringLiteral("metric")).toObject()), {}};
        for (const QJsonValue &point : line.value(QStringLiteral("values")).toArray()) {
            const QJsonArray pair = point.toArray();
            if (const auto value = Value(pair.at(1)))
                series.points.emplace_back(pair.at(0).toDouble(), *value);
        }
        matrix.series.push_back(std::move(series));
    }
    return matrix;
}

const std::vector<QString> &LabChamberMetrics() {
    static const std::vector<QString> metrics{
        QStringLiteral("kalvora_chamber_up"),
        QStringLiteral("kalvora_chamber_temperature_celsius"),
        QStringLiteral("kalvora_chamber_set_temperature_celsius"),
        QStringLiteral("kalvora_chamber_program"),
        QStringLiteral("kalvora_chamber_step"),
        QStringLiteral("kalvora_chamber_cycle"),
        QStringLiteral("kalvora_chamber_sensor_ok"),
        QStringLiteral("kalvora_chamber_last_reading_timestamp_seconds"),
    };
    return metrics;
}

std::vector<LabBench> BuildLab(const LabInputs &inputs) {
    std::map<Key, LabBench> benches;
    // A logger is a target whose series include kalvora_port_up in the look-back window.
    for (const PromSample &sample : inputs.portUp) {
        LabBench &bench = benches[KeyOf(sample)];
        bench.job = KeyOf(sample).job;
        bench.instance = KeyOf(sample).instance;
        bench.name = Label(sample, "bench");
        if (bench.name.isEmpty())
            bench.name = bench.instance;
        bench.page = Label(sample, "page");
        if (bench.page.isEmpty())
            bench.page = QStringLiteral("http://%1/").arg(bench.instance);
        bench.portUp = sample.value == 1;
    }
    for (const PromSample &sample : inputs.up) {
        const auto found = benches.find(KeyOf(sample));
        if (found != benches.end())
            found->second.up = sample.value == 1;
    }
    std::map<Key, std::map<int, LabChamber>> chambers;
    for (const auto &[metric, samples] : inputs.chamberLast) {
        for (const PromSample &sample : samples) {
            const auto address = ChamberOf(sample);
            if (!address || !benches.count(KeyOf(sample)))
                continue;
            LabChamber &chamber = chambers[KeyOf(sample)][*address];
            chamber.address = *address;
            const double value = sample.value;
            if (metric == QLatin1String("kalvora_chamber_up"))
                chamber.silent = value != 1;
            else if (metric == QLatin1String("kalvora_chamber_temperature_celsius"))
                chamber.temperature = value;
            else if (metric == QLatin1String("kalvora_chamber_set_temperature_celsius"))
                chamber.setTemperature = value;
            else if (metric == QLatin1String("kalvora_chamber_program"))
                chamber.program = value;
            else if (metric == QLatin1String("kalvora_chamber_step"))
                chamber.step = value;
            else if (metric == QLatin1String("kalvora_chamber_cycle"))
                chamber.cycle = value;
            else if (metric == QLatin1String("kalvora_chamber_sensor_ok"))
                chamber.sensorFailed = value != 1;
            else if (metric == QLatin1String("kalvora_chamber_last_reading_timestamp_seconds"))
                chamber.lastReadingAt = value;
        }
    }
    for (const PromSample &sample : inputs.alarms) {
        const auto address = ChamberOf(sample);
        const auto bench = chambers.find(KeyOf(sample));
        if (!address || bench == chambers.end() || !bench->second.count(*address))
            continue;
        bench->second[*address].alarms.push_back(Label(sample, "kind"));
    }
    std::vector<LabBench> out;
    for (auto &[key, bench] : benches) {
        for (auto &[address, chamber] : chambers[key]) {
            std::sort(chamber.alarms.begin(), chamber.alarms.end());
            // A bench that cannot be scraped tells nothing new of its chambers: all are old.
            chamber.answering = bench.up && bench.portUp && !chamber.silent;
            if (!bench.up)
                chamber.state = QStringLiteral("bench_down");
            else if (!chamber.alarms.empty())
                chamber.state = QStringLiteral("alarm");
            else if (chamber.silent || !bench.portUp)
                chamber.state = QStringLiteral("silent");
            else if (chamber.sensorFailed)
                chamber.state = QStringLiteral("sensor");
            else
                chamber.state = QStringLiteral("answering");
            bench.chambers.push_back(chamber);
        }
        out.push_back(bench);
    }
    std::sort(out.begin(), out.end(), [](const LabBench &a, const LabBench &b) {
        return std::tie(a.name, a.instance, a.job) < std::tie(b.name, b.instance, b.job);
    });
    return out;
}

QJsonObject LabJson(const std::vector<LabBench> &benches, double now, const QString &prometheus,
                    const QString &prometheusError) {
    QJsonArray benchArray;
    for (const LabBench &bench : benches) {
        QJsonArray chamberArray;
        for (const LabChamber &c : bench.chambers) {
            QJsonArray alarms;
            for (const QString &kind : c.alarms)
                alarms.append(kind);
            chamberArray.append(QJsonObject{
                {QStringLiteral("address"), c.address},
                {QStringLiteral("current_temperature"), Number(c.temperature)},
                {QStringLiteral("set_temperature"), Number(c.setTemperature)},
                {QStringLiteral("program"), Number(c.program)},
                {QStringLiteral("step"), Number(c.step)},
                {QStringLiteral("cycle"), Number(c.cycle)},
                {QStringLiteral("answering"), c.answering},
                {QStringLiteral("sensor_ok"), !c.sensorFailed},
                {QStringLiteral("last_good_reading"),
                 c.lastReadingAt ? QJsonValue(Moment(*c.lastReadingAt)) : QJsonValue()},
                {QStringLiteral("age_seconds"),
                 c.lastReadingAt ? QJsonValue(std::max(0.0, now - *c.lastReadingAt))
                                 : QJsonValue()},
                {QStringLiteral("alarms"), alarms},
                {QStringLiteral("state"), c.state},
                {QStringLiteral("page"),
                 bench.page + (bench.page.endsWith(QLatin1Char('/')) ? QString()
                                                                     : QStringLiteral("/")) +
                     QStringLiteral("chamber/%1").arg(c.address)},
            });
        }
        benchArray.append(QJsonObject{
            {QStringLiteral("name"), bench.name},
            {QStringLiteral("instance"), bench.instance},
            {QStringLiteral("job"), bench.job},
            {QStringLiteral("page"), bench.page},
            {QStringLiteral("up"), bench.up},
            {QStringLiteral("port_up"), bench.portUp},
            {QStringLiteral("chambers"), chamberArray},
        });
    }
    return QJsonObject{
        {QStringLiteral("prometheus"),
         QJsonObject{{QStringLiteral("url"), prometheus},
                     {QStringLiteral("reachable"), prometheusError.isEmpty()},
                     {QStringLiteral("error"), prometheusError.isEmpty()
                                                   ? QJsonValue()
                                                   : QJsonValue(prometheusError)}}},
        {QStringLiteral("now"), Moment(now)},
        {QStringLiteral("benches"), benchArray},
    };
}

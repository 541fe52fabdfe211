#include "logger/http/OverviewJson.h"

#include "base/ReadingReport.h"

#include "core/NumberText.h"
#include "core/OverviewQuery.h"
#include "core/ReadingsCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QByteArray Quoted(const QString &text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray Time(const QDateTime &moment) {
    if (!moment.isValid())
        return "null";
    return Quoted(IsoLocalTime(moment.date(), moment.time(), moment.offsetFromUtc()));
}

QByteArray Number(const std::optional<double> &value) {
    return value ? FloatToText(*value, QLatin1Char('.')).toUtf8() : QByteArray("null");
}

QByteArray Whole(const std::optional<unsigned> &value) {
    return value ? QByteArray::number(*value) : QByteArray("null");
}

QByteArray Flag(bool value) { return value ? "true" : "false"; }

QByteArray ChamberJson(const ChamberMetrics &c, const QDateTime &now, bool portUp) {
    // The reading's members exactly as `read --json` writes them.
    QByteArray json = ReadingJson(c.address, c.lastValues.value_or(ReadingValues{})).toUtf8();
    json.chop(1);
    json += ", \"answering\": " + Flag(c.up && portUp);
    json += ", \"last_good_reading\": " + Time(c.lastGoodReading);
    json += ", \"age_seconds\": ";
    json += c.lastGoodReading.isValid()
                ? Number(std::max<qint64>(0, c.lastGoodReading.msecsTo(now)) / 1000.0)
                : QByteArray("null");
    json += ", \"silent_since\": " + (c.up ? QByteArray("null") : Time(c.silentSince));
    json += ", \"sensor_ok\": " + (c.sensorOk ? Flag(*c.sensorOk) : QByteArray("null"));
    json += ", \"alarms\": [";
    for (std::size_t i = 0; i < c.alarms.size(); ++i)
        json += (i ? ", " : "") + QByteArray("{\"kind\": ") + Quoted(c.alarms[i].kind) +
                ", \"since\": " + Time(c.alarms[i].since) + '}';
    return json + "]}";
}

} // namespace

QByteArray ChambersJson(const BusMetrics &bus, const QDateTime &now) {
    QByteArray json = "{\"logger\": {\"version\": " + Quoted(bus.version) +
                      ", \"started\": " + Time(bus.started) + ", \"port\": " + Quoted(bus.port) +
                      ", \"device\": " + Quoted(bus.device) + ", \"port_up\": " + Flag(bus.portUp) +
                      ", \"period_seconds\": " + QByteArray::number(bus.periodSeconds) +
                      ", \"now\": " + Time(now) + "},\n\"chambers\": [";
    for (std::size_t i = 0; i < bus.chambers.size(); ++i)
        json += (i ? ",\n" : "\n") + ChamberJson(bus.chambers[i], now, bus.portUp);
    return json + "\n]}\n";
}

QByteArray HistoryJson(int address, int minutes, const std::vector<HistoryPoint> &points) {
    QByteArray json = "{\"address\": " + QByteArray::number(address) +
                      ", \"minutes\": " + QByteArray::number(minutes) +
                      ", \"columns\": [\"t\", \"current_temperature\", \"set_temperature\", "
                      "\"program\", \"step\", \"cycle\"],\n\"points\": [";
    json.reserve(json.size() + static_cast<qsizetype>(points.size()) * 48);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const HistoryPoint &p = points[i];
        json += (i ? ",\n[" : "\n[") + QByteArray::number(p.t) + ", " +
                Number(p.currentTemperature) + ", " + Number(p.setTemperature) + ", " +
                Whole(p.program) + ", " + Whole(p.step) + ", " + Whole(p.cycle) + ']';
    }
    return json + "\n]}\n";
}

QByteArray ErrorJson(const QString &text) { return "{\"error\": " + Quoted(text) + "}\n"; }

EventLines SelectEventLines(const QByteArray &tail, bool whole, std::optional<qint64> since,
                            int count) {
    EventLines out;
    QList<QByteArray> newestFirst;
    qsizetype end = tail.size();
    while (end > 0 && static_cast<int>(newestFirst.size()) < count) {
        const qsizetype newline = tail.lastIndexOf('\n', end - 1);
        if (newline < 0 && !whole)
            break; // the cut first line
        const qsizetype start = newline + 1;
        const QByteArray line = tail.mid(start, end - start).trimmed();
        end = std::max<qsizetype>(newline, 0);
        if (newline < 0)
            end = 0;
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            continue;
        const QJsonValue time = document.object().value(QStringLiteral("time"));
        if (!time.isString() || !document.object().value(QStringLiteral("event")).isString())
            continue;
        if (since) {
            const auto at = ParseSinceTime(time.toString());
            if (at && *at < *since) {
                out.reachedOlder = true;
                break;
            }
        }
        newestFirst.push_back(line);
    }
    if (static_cast<int>(newestFirst.size()) >= count)
        out.reachedOlder = true;
    for (auto line = newestFirst.rbegin(); line != newestFirst.rend(); ++line)
        out.lines.push_back(*line);
    return out;
}

QByteArray EventsJson(const QList<QByteArray> &lines) {
    QByteArray json = "{\"events\": [";
    for (qsizetype i = 0; i < lines.size(); ++i)
        json += (i ? ",\n" : "\n") + lines[i];
    return json + "\n]}\n";
}

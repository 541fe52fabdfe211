#include "logger/http/OverviewJson.h"

#include "base/ReadingReport.h"

#include "core/OverviewQuery.h"
#include "core/ReadingsCsv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QJsonValue Time(const QDateTime &moment) {
    if (!moment.isValid())
        return QJsonValue::Null;
    return IsoLocalTime(moment.date(), moment.time(), moment.offsetFromUtc());
}

QJsonValue Number(const std::optional<double> &value) {
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue Whole(const std::optional<unsigned> &value) {
    return value ? QJsonValue(static_cast<qint64>(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonObject ChamberJson(const ChamberMetrics &c, const QDateTime &now, bool portUp) {
    // The reading's members exactly as `read --json` writes them, and the chamber's state.
    QJsonObject json = ReadingJsonObject(c.address, c.lastValues.value_or(ReadingValues{}));
    json.insert(QStringLiteral("answering"), c.up && portUp);
    json.insert(QStringLiteral("last_good_reading"), Time(c.lastGoodReading));
    json.insert(QStringLiteral("age_seconds"),
                c.lastGoodReading.isValid()
                    ? QJsonValue(std::max<qint64>(0, c.lastGoodReading.msecsTo(now)) / 1000.0)
                    : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("silent_since"),
                c.up ? QJsonValue(QJsonValue::Null) : Time(c.silentSince));
    json.insert(QStringLiteral("sensor_ok"),
                c.sensorOk ? QJsonValue(*c.sensorOk) : QJsonValue(QJsonValue::Null));
    QJsonArray alarms;
    for (const auto &alarm : c.alarms)
        alarms.append(QJsonObject{{QStringLiteral("kind"), alarm.kind},
                                  {QStringLiteral("since"), Time(alarm.since)}});
    json.insert(QStringLiteral("alarms"), alarms);
    const RunEnd &run = c.runEnd;
    const bool estimated = run.basis == RunEndBasis::Estimated;
    json.insert(QStringLiteral("run_end_estimate"),
                estimated ? Time(run.end) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("run_seconds_left"),
                estimated ? QJsonValue(std::max<qint64>(0, now.secsTo(run.end)))
                          : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("run_end_basis"), QString::fromLatin1(RunEndBasisName(run.basis)));
    return json;
}

} // namespace

QByteArray ChambersJson(const BusMetrics &bus, const QDateTime &now) {
    const QJsonObject logger{{QStringLiteral("version"), bus.version},
                             {QStringLiteral("started"), Time(bus.started)},
                             {QStringLiteral("port"), bus.port},
                             {QStringLiteral("device"), bus.device},
                             {QStringLiteral("port_up"), bus.portUp},
                             {QStringLiteral("period_seconds"), bus.periodSeconds},
                             {QStringLiteral("now"), Time(now)}};
    QJsonArray chambers;
    for (const ChamberMetrics &chamber : bus.chambers)
        chambers.append(ChamberJson(chamber, now, bus.portUp));
    // Indented: small, and read by people with curl as often as by the page.
    return QJsonDocument(QJsonObject{{QStringLiteral("logger"), logger},
                                     {QStringLiteral("chambers"), chambers}})
        .toJson(QJsonDocument::Indented);
}

QByteArray HistoryJson(int address, int minutes, const std::vector<HistoryPoint> &points) {
    QJsonArray rows;
    for (const HistoryPoint &p : points)
        rows.append(QJsonArray{static_cast<qint64>(p.t), Number(p.currentTemperature),
                               Number(p.setTemperature), Whole(p.program), Whole(p.step),
                               Whole(p.cycle)});
    const QJsonArray columns{QStringLiteral("t"), QStringLiteral("current_temperature"),
                             QStringLiteral("set_temperature"), QStringLiteral("program"),
                             QStringLiteral("step"), QStringLiteral("cycle")};
    return QJsonDocument(QJsonObject{{QStringLiteral("address"), address},
                                     {QStringLiteral("minutes"), minutes},
                                     {QStringLiteral("columns"), columns},
                                     {QStringLiteral("points"), rows}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

QByteArray ErrorJson(const QString &text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

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
    QJsonArray events;
    for (const QByteArray &line : lines) {
        const QJsonDocument event = QJsonDocument::fromJson(line);
        if (event.isObject())
            events.append(event.object());
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("events"), events}})
               .toJson(QJsonDocument::Compact) +
           '\n';
}

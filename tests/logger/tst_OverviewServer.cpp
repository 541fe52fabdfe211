// The overview server in process, fed snapshots as the logger publishes them: the history it
// builds from them (readings, outages, implausible temperatures), the chambers' JSON with its
// alarms, and a chart library that is not installed.
#include "logger/http/OverviewServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HttpClient.h"
#include "LoopbackPort.h"
#include "TimingSlack.h"

namespace {

class FixedClock : public LoggerClock {
public:
    QDateTime now() const override { return at; }
    QDateTime at = QDateTime(QDate(2026, 12, 10), QTime(17, 0), Qt::OffsetFromUTC, 3600);
};

struct Served {
    int status = 0;
    QByteArray body;
};

// A server of chambers 1 and 2, listening when constructed.
class Fixture {
public:
    explicit Fixture(const QString &dygraphs = QStringLiteral("/nonexistent"))
        : port_(FreePort()), server_(QStringLiteral("127.0.0.1:%1").arg(port_)) {
        server_.serveOverview({{1, 2}, QStringLiteral("/nonexistent/events.jsonl"), dygraphs},
                              clock, [this](const QString &path, const QString &) {
                                  std::lock_guard lock(mutex_);
                                  warned << path;
                              });
        server_.start([this](const HttpServerEvent &event) {
            std::lock_guard lock(mutex_);
            listening_ = event.kind == HttpServerEvent::Kind::Listening;
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kEventTimeout, [this] { return listening_; });
    }
    Served get(const std::string &path) {
        HttpRequest request;
        request.timeoutMs = kEventTimeoutMs;
        const HttpReply reply = HttpGet(port_, QString::fromStdString(path), request);
        return Served{int(reply.status), reply.body};
    }
    QJsonObject json(const std::string &path) {
        return QJsonDocument::fromJson(get(path).body).object();
    }
    void publish(const std::vector<ChamberMetrics> &chambers, bool portUp = true) {
        BusMetrics bus;
        bus.portUp = portUp;
        bus.chambers = chambers;
        bus.started = clock.at;
        bus.periodSeconds = 4;
        server_.update(bus);
    }
    void fill(int address, const QList<Reading> &readings, qint64 gapAfterMs) {
        const qint64 now = clock.at.toMSecsSinceEpoch();
        server_.fillHistory(address, readings, now - 24 * 3600 * 1000LL, now, gapAfterMs);
    }
    QStringList warnings() {
        std::lock_guard lock(mutex_);
        return warned;
    }

    FixedClock clock;

private:
    int port_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool listening_ = false;
    QStringList warned;
    OverviewServer server_;
};

ChamberMetrics Answering(int address, const QDateTime &at, double temperature) {
    ChamberMetrics c;
    c.address = address;
    c.up = true;
    c.sensorOk = true;
    ReadingValues values;
    values.currentTemperature = temperature;
    values.setTemperature = 80;
    values.program = 1;
    c.values = c.lastValues = values;
    c.lastGoodReading = at;
    return c;
}

// The history's points as "R<seconds after 17:00>" and "G<seconds>".
QString Points(const QJsonObject &history, const QDateTime &start) {
    QStringList out;
    for (const QJsonValue &p : history.value("points").toArray()) {
        const QJsonArray point = p.toArray();
        const qint64 seconds = (qint64(point[0].toDouble()) - start.toMSecsSinceEpoch()) / 1000;
        out << (point[1].isNull() ? 'G' : 'R') + QString::number(seconds);
    }
    return out.join(' ');
}

} // namespace

class tst_OverviewServer : public QObject {
    Q_OBJECT
private slots:
    void historyFollowsTheSnapshots();
    void chambersCarryTheirAlarmsAndOutages();
    void missingChartLibraryIsWarnedOnce();
    void historyFilledAtStartIsThinnedAtOnce();
};

// Rows of a run that ended two hours ago, filled before any round: served one a minute.
void tst_OverviewServer::historyFilledAtStartIsThinnedAtOnce() {
    Fixture f;
    QList<Reading> rows;
    const QDateTime first = f.clock.at.addSecs(-3 * 3600);
    for (int i = 0; i < 1800; ++i) { // an hour, a row every 2 s
        const QDateTime t = first.addSecs(2 * i);
        Reading r;
        r.date = t.date();
        r.time = t.time();
        r.utcOffsetSeconds = t.offsetFromUtc();
        r.temperature = 30.5;
        rows << r;
    }
    f.fill(1, rows, 10000);
    const QJsonArray points =
        f.json("/api/chambers/1/history?minutes=240").value("points").toArray();
    qsizetype readings = 0;
    for (const QJsonValue &p : points)
        readings += !p.toArray()[1].isNull();
    QVERIFY2(readings >= 60 && readings <= 61, QByteArray::number(readings).constData());
}

// A silent chamber, a lost port and an implausible temperature each break the line once.
void tst_OverviewServer::historyFollowsTheSnapshots() {
    Fixture f;
    const QDateTime start = f.clock.at;
    const auto at = [&](int seconds) { return start.addSecs(seconds); };
    f.publish({Answering(1, at(0), 20)});
    f.publish({Answering(1, at(0), 20)}); // the same reading published again
    f.publish({Answering(1, at(4), 21)});
    ChamberMetrics silent = Answering(1, at(4), 21);
    silent.up = false;
    silent.values.reset();
    silent.silentSince = at(8);
    f.publish({silent});
    f.publish({silent});
    f.publish({Answering(1, at(12), 22)});
    ChamberMetrics implausible = Answering(1, at(16), 0);
    implausible.sensorOk = false;
    implausible.lastValues->currentTemperature.reset();
    f.publish({implausible});
    f.publish({Answering(1, at(20), 23)});
    ChamberMetrics lost = Answering(1, at(20), 23);
    lost.up = false;
    lost.silentSince = at(22);
    f.publish({lost}, false);
    f.clock.at = at(30);
    QCOMPARE(Points(f.json("/api/chambers/1/history?minutes=1"), start),
             QStringLiteral("R0 R4 G8 R12 G16 R20 G22"));
    f.clock.at = at(60 + 10);
    QCOMPARE(Points(f.json("/api/chambers/1/history?minutes=1"), start),
             QStringLiteral("R12 G16 R20 G22"));
    QCOMPARE(Points(f.json("/api/chambers/2/history"), start), QString());
}

void tst_OverviewServer::chambersCarryTheirAlarmsAndOutages() {
    Fixture f;
    ChamberMetrics first = Answering(1, f.clock.at.addSecs(-3), 61.25);
    first.alarms = {{QStringLiteral("high"), f.clock.at.addSecs(-60)},
                    {QStringLiteral("deviation"), QDateTime()}};
    ChamberMetrics second = Answering(2, f.clock.at.addSecs(-90), 20);
    second.up = false;
    second.values.reset();
    second.silentSince = f.clock.at.addSecs(-86);
    f.publish({first, second});
    const QJsonArray chambers = f.json("/api/chambers").value("chambers").toArray();
    const QJsonObject one = chambers[0].toObject();
    QCOMPARE(one.value("current_temperature").toDouble(), 61.25);
    QCOMPARE(one.value("age_seconds").toDouble(), 3.0);
    QCOMPARE(one.value("alarms").toArray(),
             (QJsonArray{QJsonObject{{"kind", "high"}, {"since", "2026-12-10T16:59:00+01:00"}},
                         QJsonObject{{"kind", "deviation"}, {"since", QJsonValue::Null}}}));
    const QJsonObject two = chambers[1].toObject();
    QCOMPARE(two.value("answering").toBool(), false);
    QCOMPARE(two.value("current_temperature").toDouble(), 20.0); // the last, shown as old
    QCOMPARE(two.value("age_seconds").toDouble(), 90.0);
    QCOMPARE(two.value("silent_since").toString(), QStringLiteral("2026-12-10T16:58:34+01:00"));
    QCOMPARE(f.json("/api/chambers").value("logger").toObject().value("now").toString(),
             QStringLiteral("2026-12-10T17:00:00+01:00"));
}

void tst_OverviewServer::missingChartLibraryIsWarnedOnce() {
    QTemporaryDir empty;
    Fixture f(empty.path());
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(f.get("/static/dygraph.min.js").status, 404);
        QCOMPARE(f.get("/static/dygraph.css").status, 404);
    }
    QCOMPARE(f.warnings(),
             (QStringList{empty.filePath("dygraph.min.js"), empty.filePath("dygraph.min.css")}));
    QCOMPARE(f.get("/static/chamber.js").status, 200); // the page's own files are built in
}

QTEST_GUILESS_MAIN(tst_OverviewServer)
#include "tst_OverviewServer.moc"

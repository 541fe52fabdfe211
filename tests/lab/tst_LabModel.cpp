// The lab page's rules on Prometheus answers written by hand: which bench is down, which chamber
// silent, alarmed or old, and how Prometheus's own errors read.
#include "lab/LabModel.h"

#include <QJsonArray>
#include <QtTest>

namespace {

PromSample Sample(const QString &instance, std::optional<int> chamber, double value,
                  std::map<QString, QString> more = {}) {
    more[QStringLiteral("job")] = QStringLiteral("kalvora");
    more[QStringLiteral("instance")] = instance;
    if (chamber)
        more[QStringLiteral("chamber")] = QString::number(*chamber);
    return {more, value};
}

// Two benches: bench1 scraped, chamber 1 answering, 2 silent, 3 with a failed sensor and an
// alarm; bench2 no longer scraped, its chamber 7 known from the look-back window.
LabInputs TwoBenches() {
    LabInputs in;
    in.now = 1000;
    const QString one = QStringLiteral("pc1:9731"), two = QStringLiteral("pc2:9731");
    in.up = {Sample(one, {}, 1), Sample(two, {}, 0)};
    in.portUp = {Sample(one, {}, 1, {{QStringLiteral("bench"), QStringLiteral("bench1")}}),
                 Sample(two, {}, 1, {{QStringLiteral("bench"), QStringLiteral("bench2")},
                                     {QStringLiteral("page"), QStringLiteral("https://pc2:9731")}})};
    in.chamberLast[QStringLiteral("kalvora_chamber_up")] = {
        Sample(one, 1, 1), Sample(one, 2, 0), Sample(one, 3, 1), Sample(two, 7, 1)};
    in.chamberLast[QStringLiteral("kalvora_chamber_temperature_celsius")] = {
        Sample(one, 1, 25.5), Sample(one, 2, 40), Sample(two, 7, -20)};
    in.chamberLast[QStringLiteral("kalvora_chamber_sensor_ok")] = {
        Sample(one, 1, 1), Sample(one, 3, 0)};
    in.chamberLast[QStringLiteral("kalvora_chamber_last_reading_timestamp_seconds")] = {
        Sample(one, 1, 998), Sample(two, 7, 400)};
    in.alarms = {Sample(one, 3, 1, {{QStringLiteral("kind"), QStringLiteral("sensor")}})};
    return in;
}

} // namespace

class tst_LabModel : public QObject {
    Q_OBJECT

private slots:
    void benchesAndStates();
    void apiAnswer();
    void promAnswers_data();
    void promAnswers();
};

void tst_LabModel::benchesAndStates() {
    const std::vector<LabBench> lab = BuildLab(TwoBenches());
    QCOMPARE(lab.size(), std::size_t(2));
    QCOMPARE(lab[0].name, QStringLiteral("bench1"));
    QVERIFY(lab[0].up);
    QCOMPARE(lab[0].page, QStringLiteral("http://pc1:9731/"));
    QCOMPARE(lab[0].chambers.size(), std::size_t(3));
    QCOMPARE(lab[0].chambers[0].state, QStringLiteral("answering"));
    QVERIFY(lab[0].chambers[0].answering);
    QCOMPARE(lab[0].chambers[1].state, QStringLiteral("silent"));
    QVERIFY(!lab[0].chambers[1].answering); // its 40 °C is the last before the outage
    QCOMPARE(lab[0].chambers[2].state, QStringLiteral("alarm"));
    QVERIFY(lab[0].chambers[2].sensorFailed);
    // The bench Prometheus cannot scrape keeps its chamber, every figure old.
    QCOMPARE(lab[1].name, QStringLiteral("bench2"));
    QVERIFY(!lab[1].up);
    QCOMPARE(lab[1].chambers.size(), std::size_t(1));
    QCOMPARE(lab[1].chambers[0].state, QStringLiteral("bench_down"));
    QVERIFY(!lab[1].chambers[0].answering);
    QCOMPARE(lab[1].chambers[0].temperature, std::optional<double>(-20));
}

void tst_LabModel::apiAnswer() {
    const QJsonObject json = LabJson(BuildLab(TwoBenches()), 1000,
                                     QStringLiteral("http://prom:9090"), QString());
    QVERIFY(json[QStringLiteral("prometheus")][QStringLiteral("reachable")].toBool());
    const QJsonArray benches = json[QStringLiteral("benches")].toArray();
    const QJsonObject seven = benches[1][QStringLiteral("chambers")][0].toObject();
    QCOMPARE(seven[QStringLiteral("page")].toString(), QStringLiteral("https://pc2:9731/chamber/7"));
    QCOMPARE(seven[QStringLiteral("age_seconds")].toDouble(), 600.0);
    const QJsonObject one = benches[0][QStringLiteral("chambers")][0].toObject();
    QCOMPARE(one[QStringLiteral("current_temperature")].toDouble(), 25.5);
    QVERIFY(one[QStringLiteral("set_temperature")].isNull());
    const QJsonObject down = LabJson({}, 1000, QStringLiteral("http://prom:9090"),
                                     QStringLiteral("Couldn't connect to server"));
    QVERIFY(!down[QStringLiteral("prometheus")][QStringLiteral("reachable")].toBool());
    QCOMPARE(down[QStringLiteral("prometheus")][QStringLiteral("error")].toString(),
             QStringLiteral("Couldn't connect to server"));
}

void tst_LabModel::promAnswers_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QString>("error");
    QTest::newRow("vector") << QByteArray(R"({"status":"success","data":{"resultType":"vector",
        "result":[{"metric":{"instance":"a"},"value":[1000,"25.5"]},
                  {"metric":{"instance":"b"},"value":[1000,"NaN"]}]}})")
                            << 1 << QString();
    QTest::newRow("Prometheus's error")
        << QByteArray(R"({"status":"error","errorType":"bad_data","error":"parse error"})") << 0
        << "parse error";
    QTest::newRow("a matrix where a vector was asked")
        << QByteArray(R"({"status":"success","data":{"resultType":"matrix","result":[]}})") << 0
        << "Prometheus answered a matrix, not a vector";
    QTest::newRow("not JSON") << QByteArray("<html>") << 0 << "not a Prometheus answer";
}

void tst_LabModel::promAnswers() {
    QFETCH(QByteArray, json);
    QFETCH(int, samples);
    QFETCH(QString, error);
    const PromVector vector = ParsePromVector(json);
    QCOMPARE(static_cast<int>(vector.samples.size()), samples);
    QVERIFY2(error.isEmpty() ? vector.error.isEmpty() : vector.error.startsWith(error),
             qPrintable(vector.error));
}

QTEST_GUILESS_MAIN(tst_LabModel)
#include "tst_LabModel.moc"

// The logger's rounds against the simulated chambers, driven by round moments of the test's own:
// the alarms see each round's readings at the moment the round was due.
#include "base/Bus.h"
#include "logger/alarms/AlarmCenter.h"
#include "logger/alarms/AlarmRuleText.h"
#include "logger/EventJournal.h"
#include "logger/Logger.h"

#include "core/RegionalSettings.h"

#include "SimulatedLine.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

class tst_Logger : public QObject {
    Q_OBJECT
private slots:
    void alarmDelayCountsRoundMoments_data();
    void alarmDelayCountsRoundMoments();
    void publishedStateCarriesTheAlarms();
};

void tst_Logger::alarmDelayCountsRoundMoments_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("periodSeconds");
    QTest::addColumn<std::uint16_t>("temperature"); // from round 1 on, in tenths
    QTest::addColumn<int>("raisedInRound");
    // The rounds run back to back here: only their moments are a period apart, so a logger that
    // timed the readings itself would raise nothing.
    QTest::newRow("delay of two whole periods")
        << "1 high 60 delay=2" << 1 << std::uint16_t(612) << 3;
    QTest::newRow("delay between whole periods")
        << "1 sensor delay=3" << 2 << std::uint16_t(5000) << 3;
}

void tst_Logger::alarmDelayCountsRoundMoments() {
    QFETCH(QString, rule);
    QFETCH(int, periodSeconds);
    QFETCH(std::uint16_t, temperature);
    QFETCH(int, raisedInRound);
    SimulatedLine line({1});
    line.setTemperatures(1, 235, 250);
    QTemporaryDir dir;
    LogSettings settings;
    settings.dir = dir.path();
    settings.period = std::chrono::seconds(periodSeconds);
    settings.addresses = {1};
    const SystemClock clock;
    EventJournal journal(dir.filePath(QStringLiteral("events.jsonl")), clock);
    Bus bus(CommonOptions{line.slavePath(), 1, 1000ms});
    const AlarmRuleResult parsed = ParseAlarmRule(rule);
    QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
    QList<int> raised;
    int round = 0;
    AlarmCenter alarms({parsed.rule}, AlarmDeliverySettings{}, settings.addresses,
                       [&](const JournalEvent &event) {
                           if (event.event == QLatin1String("alarm_raised"))
                               raised << round;
                       },
                       {});
    Logger logger(settings, bus, clock, journal, RegionalSettings{}, {}, &alarms);
    logger.createFiles();
    const auto start = AlarmClock::now();
    for (round = 0; round <= raisedInRound + 1; ++round) {
        if (round == 1)
            line.setRawInput(1, 0, temperature);
        QCOMPARE(logger.readRound(start + round * settings.period), Logger::RoundEnd::Done);
    }
    QCOMPARE(raised, QList<int>{raisedInRound});
}

// What /metrics serves comes from the published state: every rule's alarm with its 0 or 1, also
// when silence raises it between rounds, with no exchange to publish it.
void tst_Logger::publishedStateCarriesTheAlarms() {
    SimulatedLine line({1});
    line.setTemperatures(1, 235, 250);
    QTemporaryDir dir;
    LogSettings settings;
    settings.dir = dir.path();
    settings.period = 1s;
    settings.addresses = {1};
    const SystemClock clock;
    EventJournal journal(dir.filePath(QStringLiteral("events.jsonl")), clock);
    Bus bus(CommonOptions{line.slavePath(), 1, 100ms});
    AlarmCenter alarms({ParseAlarmRule(QStringLiteral("1 silent 3")).rule},
                       AlarmDeliverySettings{}, settings.addresses, {}, {});
    BusMetrics published;
    Logger logger(settings, bus, clock, journal, RegionalSettings{},
                  [&published](const BusMetrics &state) { published = state; }, &alarms);
    const auto silent = [&published](int active) {
        return PrometheusText(published).contains(
            QStringLiteral("\nkalvora_alarm_active{chamber=\"1\",kind=\"silent\"} %1\n")
                .arg(active));
    };
    logger.createFiles();
    const auto start = AlarmClock::now();
    QCOMPARE(logger.readRound(start), Logger::RoundEnd::Done);
    QVERIFY(silent(0));
    line.setFaults(1, chambersim::ChamberFaults{.silentFirst = 1 << 30});
    QCOMPARE(logger.readRound(start + 1s), Logger::RoundEnd::Done);
    QVERIFY(silent(0));
    logger.advanceAlarms(start + 4s);
    QVERIFY(silent(1));
    line.setFaults(1, chambersim::ChamberFaults{});
    QCOMPARE(logger.readRound(start + 5s), Logger::RoundEnd::Done);
    QVERIFY(silent(0));
}

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_Logger.moc"

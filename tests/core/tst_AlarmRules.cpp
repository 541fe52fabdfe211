// Value traces through the alarm monitor on a clock of the test's own: each row is one rule, the
// observations of one chamber second by second, and the notifications that must come of them.
#include "core/AlarmRules.h"
#include "core/NumberText.h"

#include <QtTest>

namespace {

using namespace std::chrono_literals;

// One round's outcome at second t of the trace.
struct Step {
    enum class What { Reading, Missed, Tick };
    int t = 0;
    What what = What::Reading;
    std::optional<double> temperature; // absent in a reading: implausible
    std::optional<double> set;
    std::optional<unsigned> program;
    std::optional<unsigned> cycle;
    std::optional<unsigned> cycles;
    QString reason;
};

Step T(int t, double temperature, std::optional<double> set = std::nullopt) {
    return {t, Step::What::Reading, temperature, set, {}, {}, {}, {}};
}
Step Implausible(int t) { return {t, Step::What::Reading, std::nullopt, {}, {}, {}, {}, {}}; }
Step Miss(int t, const QString &reason = QStringLiteral("silence")) {
    return {t, Step::What::Missed, {}, {}, {}, {}, {}, reason};
}
Step Tick(int t) { return {t, Step::What::Tick, {}, {}, {}, {}, {}, {}}; }
Step P(int t, unsigned program, unsigned cycle, unsigned cycles) {
    return {t, Step::What::Reading, 25.0, 25.0, program, cycle, cycles, {}};
}

AlarmRule Rule(AlarmKind kind, double limit, std::chrono::seconds delay, double hysteresis = 0.5,
               std::chrono::seconds repeat = 0s, std::vector<int> chambers = {}) {
    AlarmRule rule;
    rule.kind = kind;
    rule.limit = limit;
    rule.delay = delay;
    rule.hysteresis = hysteresis;
    rule.repeat = repeat;
    rule.chambers = std::move(chambers);
    return rule;
}

const AlarmClock::time_point kStart{std::chrono::hours(1000)};
const QDateTime kWallStart(QDate(2026, 12, 10), QTime(3, 0), Qt::OffsetFromUTC, 3 * 3600);

// "120 raised 61": the second, the state, the value when there is one.
QString Line(const AlarmNotification &n) {
    QString line =
        QString::number(kWallStart.secsTo(n.time)) + QLatin1Char(' ') + AlarmStateName(n.state);
    if (n.repeated)
        line += QStringLiteral(" again");
    if (n.value)
        line += QLatin1Char(' ') + FloatToText(*n.value, QLatin1Char('.'));
    return line;
}

std::vector<AlarmNotification> Run(AlarmMonitor &monitor, int chamber, const QList<Step> &trace) {
    std::vector<AlarmNotification> all;
    for (const Step &s : trace) {
        const auto at = kStart + std::chrono::seconds(s.t);
        const QDateTime wall = kWallStart.addSecs(s.t);
        std::vector<AlarmNotification> out;
        if (s.what == Step::What::Tick) {
            out = monitor.advance(at, wall);
        } else if (s.what == Step::What::Missed) {
            out = monitor.observe(AlarmObservation::Missed(chamber, at, wall, s.reason));
        } else {
            ReadingValues v;
            v.currentTemperature = s.temperature;
            v.setTemperature = s.set;
            v.program = s.program;
            v.cycle = s.cycle;
            v.cycles = s.cycles;
            if (s.cycles)
                v.step = v.steps = 1u;
            out = monitor.observe(AlarmObservation::Reading(chamber, at, wall, v));
        }
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

} // namespace

Q_DECLARE_METATYPE(AlarmRule)
Q_DECLARE_METATYPE(QList<Step>)

class tst_AlarmRules : public QObject {
    Q_OBJECT
private slots:
    void traces_data();
    void traces();
    void messages_data();
    void messages();
    void statusForMetrics();
    void unreadChambers();
};

void tst_AlarmRules::traces_data() {
    QTest::addColumn<AlarmRule>("rule");
    QTest::addColumn<QList<Step>>("trace");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("chamber"); // the trace's chamber; only chamber 1 is read

    const AlarmRule high = Rule(AlarmKind::High, 60, 120s);
    QTest::newRow("high: held for the delay")
        << high << QList<Step>{T(0, 61), T(60, 61), T(119, 61.5), T(120, 61.2), T(180, 62)}
        << QStringList{"120 raised 61.2"} << 1;
    QTest::newRow("high: flapping inside the delay sends nothing")
        << high
        << QList<Step>{T(0, 61), T(60, 59.8), T(100, 61), T(160, 61), T(219, 61), T(220, 61)}
        << QStringList{"220 raised 61"} << 1;
    QTest::newRow("high: exactly at the limit is not above")
        << high << QList<Step>{T(0, 60), T(500, 60)} << QStringList{} << 1;
    QTest::newRow("high: a reading inside the limit restarts the delay")
        << high << QList<Step>{T(0, 61), T(60, 0), Miss(61), Implausible(90), T(120, 61)}
        << QStringList{} << 1;
    QTest::newRow("high: missed rounds keep the delay running")
        << high << QList<Step>{T(0, 61), Miss(60), Implausible(90), T(120, 61)}
        << QStringList{"120 raised 61"} << 1;
    QTest::newRow("high: clears past the hysteresis only")
        << Rule(AlarmKind::High, 60, 0s)
        << QList<Step>{T(0, 60.1), T(10, 59.8), T(20, 60.4), T(30, 59.5), T(40, 60.1)}
        << QStringList{"0 raised 60.1", "30 cleared 59.5", "40 raised 60.1"} << 1;
    QTest::newRow("high: repeat while active")
        << Rule(AlarmKind::High, 60, 0s, 0.5, 300s)
        << QList<Step>{T(0, 61),  T(200, 61), T(300, 61.5), Tick(599),
                       Tick(600), T(650, 59), T(1000, 59)}
        << QStringList{"0 raised 61", "300 raised again 61.5", "600 raised again 61.5",
                       "650 cleared 59"}
        << 1;
    QTest::newRow("low: raise and clear")
        << Rule(AlarmKind::Low, -20, 60s)
        << QList<Step>{T(0, -20.5), T(60, -21), T(100, -19.6), T(120, -19.5)}
        << QStringList{"60 raised -21", "120 cleared -19.5"} << 1;
    QTest::newRow("deviation: a ramp inside the delay, then a real one")
        << Rule(AlarmKind::Deviation, 2, 600s)
        << QList<Step>{T(0, 25, 60),    T(300, 45, 60),    T(590, 59, 60),    T(1000, 55, 60),
                       T(1599, 55, 60), T(1600, 55.3, 60), T(1650, 58.4, 60), T(1700, 58.5, 60)}
        << QStringList{"1600 raised -4.7", "1700 cleared -1.5"} << 1;
    QTest::newRow("deviation: the set temperature moves away")
        << Rule(AlarmKind::Deviation, 3, 0s)
        << QList<Step>{T(0, 25, 25), T(10, 25, -20), T(20, -20, -20)}
        << QStringList{"10 raised 45", "20 cleared 0"} << 1;
    QTest::newRow("silent: after the time without a good reading")
        << Rule(AlarmKind::Silent, 300, 0s, 0)
        << QList<Step>{T(0, 25), Miss(100), Miss(299), Miss(300), Miss(400), T(450, 25)}
        << QStringList{"300 raised 300", "450 cleared 450"} << 1;
    QTest::newRow("silent: an implausible reply is a reply")
        << Rule(AlarmKind::Silent, 300, 0s, 0)
        << QList<Step>{T(0, 25), Implausible(200), Implausible(400), Miss(600)} << QStringList{}
        << 1;
    QTest::newRow("silent: falls due on the clock alone (port lost)")
        << Rule(AlarmKind::Silent, 300, 0s, 0)
        << QList<Step>{T(0, 25), Miss(10, QStringLiteral("port lost")), Tick(200), Tick(301)}
        << QStringList{"301 raised 301"} << 1;
    QTest::newRow("silent: never answered since the start")
        << Rule(AlarmKind::Silent, 60, 0s, 0, 120s)
        << QList<Step>{Miss(0), Miss(59), Miss(60), Miss(179), Miss(180), T(200, 25)}
        << QStringList{"60 raised 60", "180 raised again 180", "200 cleared 200"} << 1;
    QTest::newRow("sensor: a blip, then a fault")
        << Rule(AlarmKind::Sensor, 0, 60s, 0)
        << QList<Step>{Implausible(0), T(30, 25),        Implausible(100),
                       Miss(130),      Implausible(160), T(200, 23.5)}
        << QStringList{"160 raised", "200 cleared 23.5"} << 1;
    QTest::newRow("program: the run ends, the cycles are complete")
        << Rule(AlarmKind::Program, 0, 0s, 0)
        << QList<Step>{P(0, 2, 10, 10),   P(60, 2, 10, 10),  P(100, 3, 1, 10),
                       P(200, 3, 9, 10),  P(300, 3, 10, 10), Miss(350),
                       P(400, 3, 10, 10), P(500, 0, 0, 0),   P(600, 0, 0, 0)}
        << QStringList{"100 notice 3", "300 notice 3", "500 notice 0"} << 1;
    QTest::newRow("a rule for a chamber that is not read")
        << Rule(AlarmKind::Silent, 60, 0s, 0, 0s, {7}) << QList<Step>{Miss(0), Miss(100), Tick(200)}
        << QStringList{} << 7;
    QTest::newRow("observations of a chamber that is not read")
        << Rule(AlarmKind::High, 60, 0s) << QList<Step>{T(0, 90), T(100, 90)} << QStringList{} << 9;
}

void tst_AlarmRules::traces() {
    QFETCH(AlarmRule, rule);
    QFETCH(QList<Step>, trace);
    QFETCH(QStringList, expected);
    QFETCH(int, chamber);
    AlarmMonitor monitor({rule}, {1});
    QStringList lines;
    for (const AlarmNotification &n : Run(monitor, chamber, trace)) {
        QCOMPARE(n.chamber, chamber);
        QCOMPARE(n.kind, rule.kind);
        QVERIFY(!n.messageEn.isEmpty() && !n.messageRu.isEmpty());
        lines << Line(n);
    }
    QCOMPARE(lines, expected);
}

void tst_AlarmRules::messages_data() {
    QTest::addColumn<AlarmRule>("rule");
    QTest::addColumn<QList<Step>>("trace");
    QTest::addColumn<QStringList>("english");
    QTest::addColumn<QStringList>("russian");
    QTest::newRow("high")
        << Rule(AlarmKind::High, 60, 0s) << QList<Step>{T(0, 61.2), T(9, 59.4)}
        << QStringList{"Chamber 1: temperature 61.2 °C above the limit 60 °C",
                       "Chamber 1: temperature 59.4 °C back below the limit 60 °C"}
        << QStringList{"Камера 1: температура 61,2 °C выше предела 60 °C",
                       "Камера 1: температура 59,4 °C снова ниже предела 60 °C"};
    QTest::newRow("deviation")
        << Rule(AlarmKind::Deviation, 2, 0s) << QList<Step>{T(0, 44.9, 60)}
        << QStringList{"Chamber 1: temperature 44.9 °C is -15.1 °C off the set 60 °C (band 2 °C)"}
        << QStringList{"Камера 1: температура 44,9 °C отклонилась от заданной 60 °C на -15,1 °C "
                       "(допуск 2 °C)"};
    QTest::newRow("silent")
        << Rule(AlarmKind::Silent, 60, 0s, 0, 60s)
        << QList<Step>{T(0, 25), Miss(30, QStringLiteral("port lost")), Tick(61), Tick(121)}
        << QStringList{"Chamber 1: no good reading for 61 s (port lost)",
                       "Chamber 1: no good reading for 121 s (port lost) (repeated)"}
        << QStringList{"Камера 1: нет исправных показаний 61 с (порт потерян)",
                       "Камера 1: нет исправных показаний 121 с (порт потерян) (повтор)"};
    QTest::newRow("program") << Rule(AlarmKind::Program, 0, 0s, 0)
                             << QList<Step>{P(0, 2, 9, 10), P(1, 2, 10, 10), P(2, 0, 0, 0)}
                             << QStringList{"Chamber 1: program 2 reached cycle 10 of 10",
                                            "Chamber 1: program 2 changed to 0 (run ended)"}
                             << QStringList{
                                    "Камера 1: программа 2 дошла до цикла 10 из 10",
                                    "Камера 1: программа 2 сменилась на 0 (выполнение закончено)"};
}

void tst_AlarmRules::messages() {
    QFETCH(AlarmRule, rule);
    QFETCH(QList<Step>, trace);
    QFETCH(QStringList, english);
    QFETCH(QStringList, russian);
    AlarmMonitor monitor({rule}, {1});
    QStringList en;
    QStringList ru;
    for (const AlarmNotification &n : Run(monitor, 1, trace)) {
        en << n.messageEn;
        ru << n.messageRu;
    }
    QCOMPARE(en, english);
    QCOMPARE(ru, russian);
}

void tst_AlarmRules::statusForMetrics() {
    // Two high rules at one chamber make one entry; the program notice none.
    AlarmMonitor monitor(
        {Rule(AlarmKind::High, 60, 0s), Rule(AlarmKind::High, 80, 0s, 0.5, 0s, {2}),
         Rule(AlarmKind::Sensor, 0, 0s, 0, 0s, {1}), Rule(AlarmKind::Program, 0, 0s)},
        {1, 2});
    QCOMPARE(Run(monitor, 2, {T(0, 70)}).size(), std::size_t(1));
    const std::vector<AlarmStatus> expected{
        {1, AlarmKind::High, false}, {1, AlarmKind::Sensor, false}, {2, AlarmKind::High, true}};
    QVERIFY(monitor.status() == expected);
    Run(monitor, 2, {T(10, 59)});
    QCOMPARE(monitor.status()[2].active, false);
}

void tst_AlarmRules::unreadChambers() {
    const std::vector<AlarmRule> rules{Rule(AlarmKind::High, 60, 0s, 0.5, 0s, {1, 3}),
                                       Rule(AlarmKind::Silent, 60, 0s, 0, 0s, {})};
    QCOMPARE(CheckAlarmRuleChambers(rules, {1, 2, 3}), QString());
    QCOMPARE(CheckAlarmRuleChambers(rules, {1, 2}),
             QStringLiteral("the high alarm names chamber 3, which is not read"));
}

QTEST_APPLESS_MAIN(tst_AlarmRules)
#include "tst_AlarmRules.moc"

// The alarm rule syntax: what each form means, every default, and errors that name the bad part.
#include "logger/alarms/AlarmRuleText.h"

#include <QtTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(AlarmRule)

namespace {

AlarmRule Rule(std::vector<int> chambers, AlarmKind kind, double limit, std::chrono::seconds delay,
               double hysteresis, std::chrono::seconds repeat) {
    AlarmRule rule;
    rule.chambers = std::move(chambers);
    rule.kind = kind;
    rule.limit = limit;
    rule.delay = delay;
    rule.hysteresis = hysteresis;
    rule.repeat = repeat;
    return rule;
}

} // namespace

class tst_AlarmRuleText : public QObject {
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
    void errors_data();
    void errors();
};

void tst_AlarmRuleText::rules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<AlarmRule>("rule");
    QTest::newRow("high with every setting")
        << "1,3-5 high 60 delay=120 hysteresis=1.5 repeat=1h"
        << Rule({1, 3, 4, 5}, AlarmKind::High, 60, 120s, 1.5, 3600s);
    QTest::newRow("high defaults")
        << "2 high 60.5" << Rule({2}, AlarmKind::High, 60.5, 60s, 0.5, 0s);
    QTest::newRow("low, negative, blanks and tabs")
        << "  *\tlow   -20.25  delay=90s " << Rule({}, AlarmKind::Low, -20.25, 90s, 0.5, 0s);
    QTest::newRow("deviation defaults")
        << "* deviation 3" << Rule({}, AlarmKind::Deviation, 3, 600s, 0.5, 0s);
    QTest::newRow("silent in minutes")
        << "2 silent 5m repeat=2h" << Rule({2}, AlarmKind::Silent, 300, 0s, 0, 7200s);
    QTest::newRow("sensor") << "0,250 sensor delay=0"
                            << Rule({0, 250}, AlarmKind::Sensor, 0, 0s, 0, 0s);
    QTest::newRow("program") << "* program" << Rule({}, AlarmKind::Program, 0, 0s, 0, 0s);
    QTest::newRow("hysteresis zero")
        << "1 high +60 hysteresis=0" << Rule({1}, AlarmKind::High, 60, 60s, 0, 0s);
}

void tst_AlarmRuleText::rules() {
    QFETCH(QString, text);
    QFETCH(AlarmRule, rule);
    const AlarmRuleResult parsed = ParseAlarmRule(text);
    QCOMPARE(parsed.error, QString());
    QVERIFY(parsed.rule == rule);
    // Written back, every setting spelt out, it reads as the same rule.
    const AlarmRuleResult again = ParseAlarmRule(AlarmRuleText(rule));
    QCOMPARE(again.error, QString());
    QVERIFY2(again.rule == rule, qPrintable(AlarmRuleText(rule)));
}

void tst_AlarmRuleText::errors_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty")
        << ""
        << "alarm '': give the chambers and a kind, e.g. '1,3 high 60' or '* silent 5m'";
    QTest::newRow("kind missing")
        << "1,3"
        << "alarm '1,3': give the chambers and a kind, e.g. '1,3 high 60' or '* silent 5m'";
    QTest::newRow("bad chambers")
        << "1,300 high 60"
        << "alarm '1,300 high 60': chambers: '1,300' is not a list of bus addresses ('300': "
           "addresses are 0 to 250, ranges like 5-8); or '*' for every chamber";
    QTest::newRow("unknown kind")
        << "1 hot 60"
        << "alarm '1 hot 60': unknown kind 'hot' (high, low, deviation, silent, sensor, program)";
    QTest::newRow("test is not a rule")
        << "1 test"
        << "alarm '1 test': unknown kind 'test' (high, low, deviation, silent, sensor, program)";
    QTest::newRow("limit missing")
        << "1 high delay=60"
        << "alarm '1 high delay=60': high needs a temperature in °C, e.g. 'high 60'";
    QTest::newRow("decimal comma") << "1 high 60,5"
                                   << "alarm '1 high 60,5': '60,5' is not a temperature (°C with a "
                                      "decimal point, -200 to 400)";
    QTest::newRow("limit out of range")
        << "1 low -300"
        << "alarm '1 low -300': '-300' is not a temperature (°C with a decimal point, -200 to 400)";
    QTest::newRow("band zero") << "1 deviation 0"
                               << "alarm '1 deviation 0': the deviation band must be above 0 °C";
    QTest::newRow("hysteresis as wide as the band")
        << "1 deviation 1 hysteresis=1"
        << "alarm '1 deviation 1 hysteresis=1': the hysteresis must be less than the band";
    QTest::newRow("silent without a time")
        << "1 silent"
        << "alarm '1 silent': silent needs a time, e.g. 'silent 5m'";
    QTest::newRow("silent zero")
        << "1 silent 0"
        << "alarm '1 silent 0': '0' is not a time (seconds, or 90s, 5m, 2h; above 0)";
    QTest::newRow("silent takes no delay")
        << "1 silent 60 delay=5"
        << "alarm '1 silent 60 delay=5': the time of silent is its delay: no delay=";
    QTest::newRow("bad time unit")
        << "1 high 60 delay=5d"
        << "alarm '1 high 60 delay=5d': delay='5d' is not a time (seconds, or 90s, 5m, 2h)";
    QTest::newRow("time beyond a week")
        << "1 high 60 repeat=169h"
        << "alarm '1 high 60 repeat=169h': repeat='169h' is not a time (seconds, or 90s, 5m, 2h)";
    QTest::newRow("negative hysteresis")
        << "1 high 60 hysteresis=-1"
        << "alarm '1 high 60 hysteresis=-1': hysteresis='-1' is not a temperature of 0 °C or more";
    QTest::newRow("hysteresis of sensor")
        << "1 sensor hysteresis=1"
        << "alarm '1 sensor hysteresis=1': only high, low and deviation take a hysteresis";
    QTest::newRow("program with a delay") << "* program delay=5"
                                          << "alarm '* program delay=5': a program notice is sent "
                                             "at once and never repeated: no delay=";
    QTest::newRow("stray word")
        << "1 high 60 70"
        << "alarm '1 high 60 70': '70' is not a setting (delay=, hysteresis=, repeat=)";
    QTest::newRow("unknown setting")
        << "1 high 60 hold=5"
        << "alarm '1 high 60 hold=5': unknown setting 'hold' (delay=, hysteresis=, repeat=)";
    QTest::newRow("setting twice") << "1 high 60 delay=5 delay=6"
                                   << "alarm '1 high 60 delay=5 delay=6': delay is given twice";
}

void tst_AlarmRuleText::errors() {
    QFETCH(QString, text);
    QFETCH(QString, error);
    const AlarmRuleResult parsed = ParseAlarmRule(text);
    QCOMPARE(parsed.error, error);
    QVERIFY(parsed.rule == AlarmRule{});
}

QTEST_APPLESS_MAIN(tst_AlarmRuleText)
#include "tst_AlarmRuleText.moc"

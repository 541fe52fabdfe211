// The back-off between attempts to get a lost port back.
#include "core/RetrySchedule.h"

#include <QtTest>

using namespace std::chrono_literals;
using Waits = QList<qint64>; // milliseconds

class tst_RetrySchedule : public QObject {
    Q_OBJECT
private slots:
    void waits_data();
    void waits();
    void resetStartsOver();
    void longOutageStaysAtTheCeiling();
};

void tst_RetrySchedule::waits_data() {
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("longest");
    QTest::addColumn<Waits>("expected");
    QTest::newRow("default: 2 s doubling to 30 s")
        << qint64(2000) << qint64(30000) << Waits{2000, 4000, 8000, 16000, 30000, 30000};
    QTest::newRow("ceiling a power of two away")
        << qint64(1000) << qint64(8000) << Waits{1000, 2000, 4000, 8000, 8000};
    QTest::newRow("first wait above the ceiling")
        << qint64(60000) << qint64(30000) << Waits{30000, 30000};
    QTest::newRow("first wait equals the ceiling")
        << qint64(5000) << qint64(5000) << Waits{5000, 5000};
    QTest::newRow("zero waits raised to a millisecond") << qint64(0) << qint64(0) << Waits{1, 1, 1};
}

void tst_RetrySchedule::waits() {
    QFETCH(qint64, first);
    QFETCH(qint64, longest);
    QFETCH(Waits, expected);
    RetrySchedule schedule{std::chrono::milliseconds(first), std::chrono::milliseconds(longest)};
    Waits got;
    for (qsizetype i = 0; i < expected.size(); ++i)
        got << schedule.nextWait().count();
    QCOMPARE(got, expected);
    QCOMPARE(schedule.failures(), int(expected.size()));
}

void tst_RetrySchedule::resetStartsOver() {
    RetrySchedule schedule;
    QCOMPARE(schedule.nextWait(), 2000ms);
    QCOMPARE(schedule.nextWait(), 4000ms);
    QCOMPARE(schedule.nextWait(), 8000ms);
    schedule.reset();
    QCOMPARE(schedule.failures(), 0);
    QCOMPARE(schedule.nextWait(), 2000ms);
    QCOMPARE(schedule.nextWait(), 4000ms);
}

// Weeks of retries: the wait neither overflows nor creeps past the ceiling.
void tst_RetrySchedule::longOutageStaysAtTheCeiling() {
    RetrySchedule schedule;
    std::chrono::milliseconds last{};
    for (int i = 0; i < 100000; ++i)
        last = schedule.nextWait();
    QCOMPARE(last, 30000ms);
    static_assert(RetrySchedule{}.nextWait() == 2s);
}

QTEST_GUILESS_MAIN(tst_RetrySchedule)
#include "tst_RetrySchedule.moc"

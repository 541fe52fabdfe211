#include "ProgramTables.h"
#include "core/RunEndEstimate.h"

#include <QtTest>
#include <optional>

namespace {

HoursMinutes Time(unsigned minutes) { return {minutes / 60, minutes % 60}; }

// What a chamber reports: program, step of steps, cycle of cycles, and in minutes the time to
// mode and the stabilisation, each with its set-point.
struct Counters {
    unsigned program, step, steps, cycle, cycles, timeToMode, timeToModeSet, stabilised,
        stabilisationSet;
    ReadingValues values() const {
        ReadingValues v;
        v.program = program;
        v.step = step;
        v.steps = steps;
        v.cycle = cycle;
        v.cycles = cycles;
        v.timeToMode = Time(timeToMode);
        v.timeToModeSetPoint = Time(timeToModeSet);
        v.stabilisationTime = Time(stabilised);
        v.stabilisationSetPoint = Time(stabilisationSet);
        return v;
    }
};

// 50 + 70 = 120 min a cycle.
const ProgramInput kTwoSteps = Program(5, {Step(80, 0, 30, 0, 20), Step(-40, 1, 0, 0, 10)});

} // namespace

Q_DECLARE_METATYPE(ProgramInput)
Q_DECLARE_METATYPE(std::optional<ProgramInput>)
Q_DECLARE_METATYPE(ReadingValues)
Q_DECLARE_METATYPE(RunEndBasis)

class tst_RunEndEstimate : public QObject {
    Q_OBJECT

private slots:
    // Minutes left worked out by hand from the tables and the counters.
    void estimate_data() {
        QTest::addColumn<std::optional<ProgramInput>>("table");
        QTest::addColumn<ReadingValues>("reading");
        QTest::addColumn<RunEndBasis>("basis");
        QTest::addColumn<qint64>("minutesLeft");
        using B = RunEndBasis;
        const ProgramInput one = Program(1, {Step(-40, 1, 30, 0, 45)});
        QTest::newRow("one step, ramping") << std::optional(one)
            << Counters{2, 1, 1, 1, 1, 10, 45, 0, 90}.values() << B::Estimated << qint64(35 + 90);
        QTest::newRow("one step, holding after a late ramp") << std::optional(one)
            << Counters{2, 1, 1, 1, 1, 50, 45, 30, 90}.values() << B::Estimated << qint64(60);
        QTest::newRow("holding after an early ramp") << std::optional(one)
            << Counters{2, 1, 1, 1, 1, 20, 45, 10, 90}.values() << B::Estimated << qint64(80);
        // The chamber holds the ramp until it reaches the temperature: the ramp ends now.
        QTest::newRow("ramp overdue") << std::optional(one)
            << Counters{2, 1, 1, 1, 1, 60, 45, 0, 90}.values() << B::Estimated << qint64(90);
        // 15 min a step: 6 left of step 7's hold, steps 8 to 15 whole.
        QTest::newRow("15 steps, step 7")
            << std::optional(Repeated(1, 15, Step(20, 0, 10, 0, 5)))
            << Counters{1, 7, 15, 1, 1, 5, 5, 4, 10}.values() << B::Estimated << qint64(6 + 8 * 15);
        QTest::newRow("15 steps, the first minute")
            << std::optional(Repeated(3, 15, Step(20, 0, 10, 0, 5)))
            << Counters{1, 1, 15, 1, 3, 0, 5, 0, 10}.values() << B::Estimated << qint64(3 * 15 * 15);
        // 15 + 30 of step 1, step 2 whole, cycles 3 to 5 whole.
        QTest::newRow("several cycles, cycle 2") << std::optional(kTwoSteps)
            << Counters{4, 1, 2, 2, 5, 5, 20, 0, 30}.values() << B::Estimated
            << qint64(15 + 30 + 70 + 3 * 120);
        QTest::newRow("last step of the last cycle") << std::optional(kTwoSteps)
            << Counters{4, 2, 2, 5, 5, 10, 10, 59, 60}.values() << B::Estimated << qint64(1);
        QTest::newRow("last minute over") << std::optional(kTwoSteps)
            << Counters{4, 2, 2, 5, 5, 12, 10, 61, 60}.values() << B::Estimated << qint64(0);
        QTest::newRow("zero times") << std::optional(Repeated(999, 3, Step(20, 0, 0, 0, 0)))
            << Counters{1, 2, 3, 500, 999, 7, 0, 0, 0}.values() << B::Estimated << qint64(0);
        // A time to mode of 0: the chamber's own rate, which the table does not know.
        QTest::newRow("jump") << std::optional(Program(2, {Step(60, 0, 20, 0, 0)}))
            << Counters{3, 1, 1, 1, 2, 3, 0, 0, 20}.values() << B::Estimated << qint64(20 + 20);
        QTest::newRow("longest program, at its start")
            << std::optional(Repeated(999, 15, Step(0, 99, 59, 99, 59)))
            << Counters{1, 1, 15, 1, 999, 0, 5999, 0, 5999}.values() << B::Estimated
            << qint64(179790030);

        QTest::newRow("table unknown") << std::optional<ProgramInput>()
            << Counters{4, 1, 2, 1, 5, 0, 20, 0, 30}.values() << B::TableUnknown << qint64(0);
        QTest::newRow("more steps than the table") << std::optional(kTwoSteps)
            << Counters{4, 1, 3, 1, 5, 0, 20, 0, 30}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("other cycles than the table") << std::optional(kTwoSteps)
            << Counters{4, 1, 2, 1, 6, 0, 20, 0, 30}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("other stabilisation than the table") << std::optional(kTwoSteps)
            << Counters{4, 2, 2, 1, 5, 0, 10, 0, 45}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("other time to mode than the table") << std::optional(kTwoSteps)
            << Counters{4, 2, 2, 1, 5, 0, 15, 0, 60}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("step beyond the steps") << std::optional(kTwoSteps)
            << Counters{4, 3, 2, 1, 5, 0, 20, 0, 30}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("cycle beyond the cycles") << std::optional(kTwoSteps)
            << Counters{4, 1, 2, 6, 5, 0, 20, 0, 30}.values() << B::TableMismatch << qint64(0);
        QTest::newRow("stopped") << std::optional(kTwoSteps)
            << Counters{0, 0, 0, 0, 0, 0, 0, 0, 0}.values() << B::NotRunning << qint64(0);
        QTest::newRow("step 0") << std::optional(kTwoSteps)
            << Counters{4, 0, 2, 1, 5, 0, 20, 0, 30}.values() << B::NotRunning << qint64(0);
        ReadingValues implausible = Counters{4, 1, 2, 1, 5, 0, 20, 0, 30}.values();
        implausible.stabilisationTime.reset();
        QTest::newRow("a counter out of bounds")
            << std::optional(kTwoSteps) << implausible << B::CountersUnknown << qint64(0);
        ReadingValues noProgram = Counters{4, 1, 2, 1, 5, 0, 20, 0, 30}.values();
        noProgram.program.reset();
        QTest::newRow("program out of bounds")
            << std::optional(kTwoSteps) << noProgram << B::NotRunning << qint64(0);
    }
    void estimate() {
        QFETCH(std::optional<ProgramInput>, table);
        QFETCH(ReadingValues, reading);
        QFETCH(RunEndBasis, basis);
        QFETCH(qint64, minutesLeft);
        const QDateTime readAt(QDate(2026, 12, 10), QTime(14, 3, 4),
                               QTimeZone(3 * 3600));
        const RunEnd end = EstimateRunEnd(reading, table ? &*table : nullptr, readAt);
        QCOMPARE(end.basis, basis);
        if (basis != RunEndBasis::Estimated) {
            QVERIFY(!end.end.isValid());
            return;
        }
        QCOMPARE(end.secondsLeft, minutesLeft * 60);
        QCOMPARE(end.end, readAt.addSecs(minutesLeft * 60));
        QCOMPARE(end.end.offsetFromUtc(), 3 * 3600);
    }
};

QTEST_APPLESS_MAIN(tst_RunEndEstimate)
#include "tst_RunEndEstimate.moc"

#include "ProgramTables.h"
#include "core/ProgramProfile.h"

#include <QtTest>

Q_DECLARE_METATYPE(ProgramInput)

class tst_ProgramProfile : public QObject {
    Q_OBJECT

private slots:
    // Expected figures worked out by hand.
    void totalDuration_data() {
        QTest::addColumn<ProgramInput>("program");
        QTest::addColumn<qint64>("minutes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("jumps");
        QTest::newRow("one step") << Program(1, {Step(-40, 1, 30, 0, 45)}) << qint64(135)
                                  << "2 h 15 min" << 0;
        // 15 × (99 h 59 min + 99 h 59 min) = 15 × 11998 min, twice.
        QTest::newRow("15 longest steps") << Repeated(2, 15, Step(180, 99, 59, 99, 59))
                                          << qint64(359940) << "249 d 23 h 00 min" << 0;
        // 999 × (90 + 60) min.
        QTest::newRow("999 cycles")
            << Program(999, {Step(85, 1, 0, 0, 30), Step(-85, 0, 30, 0, 30)}) << qint64(149850)
            << "104 d 01 h 30 min" << 0;
        QTest::newRow("every time zero")
            << Program(5, {Step(20, 0, 0, 0, 0), Step(-20, 0, 0, 0, 0)}) << qint64(0) << "0 min"
            << 2;
        QTest::newRow("jump then hold") << Program(3, {Step(50, 0, 20, 0, 0), Step(0, 0, 0, 1, 0)})
                                        << qint64(240) << "4 h 00 min" << 1;
        QTest::newRow("longest program") << Repeated(999, 15, Step(0, 99, 59, 99, 59))
                                         << qint64(179790030) << "124854 d 04 h 30 min" << 0;
    }
    void totalDuration() {
        QFETCH(ProgramInput, program);
        QFETCH(qint64, minutes);
        QFETCH(QString, text);
        QFETCH(int, jumps);
        const ProgramProfile profile = BuildProgramProfile(program, 20);
        QCOMPARE(profile.totalMinutes, minutes);
        QCOMPARE(DurationText(profile.totalMinutes), text);
        QCOMPARE(int(profile.stepsWithJumps.size()), jumps);
        QCOMPARE(profile.segments.size(), std::size_t(program.cycles) * program.steps);
        QCOMPARE(profile.segments.back().endMinute, minutes);
        const QDateTime start(QDate(2026, 12, 11), QTime(4, 0), Qt::UTC);
        QCOMPARE(start.addSecs(profile.totalMinutes * 60).toSecsSinceEpoch() -
                     start.toSecsSinceEpoch(),
                 minutes * 60);
    }

    // Each step ramps from where the last one ended; the next cycle starts from the last step.
    void segmentsFollowEachOther() {
        const ProgramProfile profile =
            BuildProgramProfile(Program(2, {Step(-40, 1, 0, 0, 30), Step(85, 0, 10, 0, 0)}), 22);
        struct Expected {
            int cycle, step;
            qint64 ramp, hold, end;
            int from, to;
            bool jump;
        };
        const Expected expected[] = {{1, 1, 0, 30, 90, 22, -40, false},
                                     {1, 2, 90, 90, 100, -40, 85, true},
                                     {2, 1, 100, 130, 190, 85, -40, false},
                                     {2, 2, 190, 190, 200, -40, 85, true}};
        QCOMPARE(profile.segments.size(), std::size(expected));
        for (std::size_t i = 0; i < std::size(expected); ++i) {
            const ProfileSegment &s = profile.segments[i];
            const Expected &e = expected[i];
            QCOMPARE(s.cycle, e.cycle);
            QCOMPARE(s.step, e.step);
            QCOMPARE(s.rampStartMinute, e.ramp);
            QCOMPARE(s.holdStartMinute, e.hold);
            QCOMPARE(s.endMinute, e.end);
            QCOMPARE(s.fromTemperature, e.from);
            QCOMPARE(s.toTemperature, e.to);
            QCOMPARE(s.jump(), e.jump);
        }
        QCOMPARE(profile.stepsWithJumps, std::vector<int>{2});
    }

    void durationTexts() {
        QCOMPARE(DurationText(45), QStringLiteral("45 min"));
        QCOMPARE(DurationText(60), QStringLiteral("1 h 00 min"));
        QCOMPARE(DurationText(24 * 60 + 5), QStringLiteral("1 d 00 h 05 min"));
        QCOMPARE(DurationTextRu(2 * 24 * 60 + 3 * 60 + 5), QStringLiteral("2 сут 03 ч 05 мин"));
    }
};

QTEST_APPLESS_MAIN(tst_ProgramProfile)
#include "tst_ProgramProfile.moc"

#include "core/ControlFrames.h"
#include "core/KnownPrograms.h"

#include <QtTest>
#include <vector>

namespace {

// temperature, stabilisation h, min, time to mode h, min
StepValues Step(int t, int sh, int sm, int mh, int mm) { return {t, sh, sm, mh, mm}; }

// The registers a frame writes, as the journal's client_write keeps them.
struct Write {
    int start;
    std::vector<std::uint16_t> values;
};

Write Of(const Frame &frame) {
    Write w{frame[2] << 8 | frame[3], {}};
    for (std::size_t at = 7; at + 3 < frame.size(); at += 2)
        w.values.push_back(static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]));
    return w;
}

void Send(KnownPrograms &known, int chamber, const Frame &frame, qint64 at) {
    const Write w = Of(frame);
    known.written(chamber, w.start, w.values, at);
}

bool Same(const StepValues &a, const StepValues &b) {
    return a.temperature == b.temperature && a.stabilisationHours == b.stabilisationHours &&
           a.stabilisationMinutes == b.stabilisationMinutes &&
           a.timeToModeHours == b.timeToModeHours && a.timeToModeMinutes == b.timeToModeMinutes;
}

} // namespace

class tst_KnownPrograms : public QObject {
    Q_OBJECT

private slots:
    // The window's frames, every cell at a bound, come back as the table they were built from.
    void stepFramesRebuildTheTable() {
        const std::vector<StepValues> rows{Step(-85, 99, 59, 0, 0), Step(180, 0, 0, 99, 59),
                                           Step(-1, 1, 30, 0, 45)};
        KnownPrograms known;
        for (int row = 1; row <= 3; ++row) {
            QVERIFY(!known.table(7, 15)); // not before every step is there
            Send(known, 7, BuildStepFrame(7, 15, row, rows[row - 1], 3, 999), 1000 + row);
        }
        const ProgramInput *table = known.table(7, 15);
        QVERIFY(table);
        QCOMPARE(table->steps, 3);
        QCOMPARE(table->cycles, 999);
        for (int row = 0; row < 3; ++row)
            QVERIFY2(Same(table->rows[row], rows[row]), qPrintable(QString::number(row + 1)));
        QVERIFY(!known.table(8, 15)); // another chamber's
        QVERIFY(!known.table(7, 14)); // another program
    }

    // A table that grows needs its new steps; program 0 and other registers store nothing.
    void incompleteOrForeignWritesKnowNothing() {
        KnownPrograms known;
        Send(known, 1, BuildStepFrame(1, 2, 1, Step(20, 0, 10, 0, 0), 1, 1), 1);
        QVERIFY(known.table(1, 2));
        Send(known, 1, BuildStepFrame(1, 2, 1, Step(20, 0, 10, 0, 0), 2, 1), 2);
        QVERIFY(!known.table(1, 2));
        Send(known, 1, BuildStepFrame(1, 0, 1, Step(20, 0, 10, 0, 0), 1, 1), 3);
        Send(known, 1, BuildSetPointFrame(1, 50), 4);
        Send(known, 1, BuildProgramStartFrame(1, 2), 5);
        QVERIFY(!known.table(1, 0));
        QVERIFY(!known.table(1, 2));
    }

    // As a chamber keeps its registers: a write of some of them completes the record with the
    // ones written before; a write of only some at first completes nothing.
    void partialWritesCompleteTheRecord() {
        KnownPrograms known;
        const Write first = Of(BuildStepFrame(1, 3, 1, Step(40, 0, 30, 0, 10), 1, 2));
        known.written(1, 2, std::span(first.values).subspan(2), 1);
        QVERIFY(!known.table(1, 3));
        known.written(1, 0, std::span(first.values).first(2), 2);
        QVERIFY(known.table(1, 3));
        const std::vector<std::uint16_t> fiveMinutes{5};
        known.written(1, 4, fiveMinutes, 3); // stabilisation minutes of the same record
        QCOMPARE(known.table(1, 3)->rows[0].stabilisationMinutes, 5);
        QCOMPARE(known.table(1, 3)->rows[0].temperature, 40);
    }

    // Whichever is newer wins: a file saved after the writes, a write after the file.
    void newestOfFileAndWritesWins() {
        ProgramInput file;
        file.steps = 2;
        file.cycles = 3;
        file.rows[0] = Step(10, 0, 10, 0, 0);
        file.rows[1] = Step(30, 0, 20, 0, 5);
        KnownPrograms known;
        Send(known, 1, BuildStepFrame(1, 4, 1, Step(50, 1, 0, 0, 0), 1, 1), 100);
        known.named(1, 4, file, 50); // saved before the write
        QCOMPARE(known.table(1, 4)->steps, 1);
        known.named(1, 4, file, 200);
        QCOMPARE(known.table(1, 4)->steps, 2);
        QCOMPARE(known.table(1, 4)->rows[1].stabilisationMinutes, 20);
        Send(known, 1, BuildStepFrame(1, 4, 2, Step(35, 0, 25, 0, 5), 2, 3), 300);
        QCOMPARE(known.table(1, 4)->rows[0].temperature, 10);
        QCOMPARE(known.table(1, 4)->rows[1].temperature, 35);
        Send(known, 1, BuildStepFrame(1, 4, 1, Step(99, 0, 25, 0, 5), 2, 3), 250);
        QCOMPARE(known.table(1, 4)->rows[0].temperature, 10); // older than what is known
    }
};

QTEST_APPLESS_MAIN(tst_KnownPrograms)
#include "tst_KnownPrograms.moc"

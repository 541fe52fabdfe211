#include "HexBytes.h"
#include "core/ControlFrames.h"
#include "core/ModbusRtu.h"

#include <QtTest>

namespace {

// Register k of a function-16 frame that starts at register 0.
int StepRegister(const Frame &frame, int k) { return frame[7 + 2 * k] << 8 | frame[8 + 2 * k]; }

} // namespace

class tst_ControlFrames : public QObject {
    Q_OBJECT

private slots:
    void frames_data() {
        QTest::addColumn<Frame>("frame");
        QTest::addColumn<QString>("expected");
        QTest::newRow("manual start")
            << BuildManualModeFrame(1, true) << "01 10 00 10 00 01 02 00 01 65 00";
        QTest::newRow("manual stop")
            << BuildManualModeFrame(1, false) << "01 10 00 10 00 01 02 00 02 25 01";
        QTest::newRow("program start from 3")
            << BuildProgramStartFrame(1, 3) << "01 10 00 11 00 02 04 00 01 00 03 22 AE";
        QTest::newRow("program stop")
            << BuildProgramStopFrame(1) << "01 10 00 11 00 01 02 00 02 24 D0";
        QTest::newRow("set-point -20")
            << BuildSetPointFrame(1, -20) << "01 10 00 0D 00 03 06 00 14 00 00 00 02 C6 B8";
        QTest::newRow("set-point 25")
            << BuildSetPointFrame(1, 25) << "01 10 00 0D 00 03 06 00 19 00 00 00 01 AB 78";
        QTest::newRow("program 2, row 1 of 3, -40, 1:30, 0:45, 125 cycles")
            << BuildStepFrame(1, 2, 1, StepValues{-40, 1, 30, 0, 45}, 3, 125)
            << "01 10 00 00 00 0D 1A 00 02 00 01 00 28 00 01 00 1E 00 00 00 03 00 01 00 01 00 "
               "00 00 2D 00 02 00 05 8D 09";
    }
    void frames() {
        QFETCH(Frame, frame);
        QFETCH(QString, expected);
        QCOMPARE(HexText(frame), expected);
    }

    void addressIsTheFirstByte() {
        const Frame frame = BuildProgramStopFrame(250);
        QCOMPARE(frame.front(), std::uint8_t{250});
        QCOMPARE(int{ModbusCrc16(0, 8, frame.data())}, frame[9] | frame[10] << 8);
    }

    void temperatureSign_data() {
        QTest::addColumn<int>("temperature");
        QTest::addColumn<int>("magnitude");
        QTest::addColumn<int>("stepSign");
        QTest::addColumn<int>("setPointSign");
        QTest::newRow("zero counts as zero or above") << 0 << 0 << 2 << 1;
        QTest::newRow("-1") << -1 << 1 << 1 << 2;
        QTest::newRow("lowest -85") << -85 << 85 << 1 << 2;
        QTest::newRow("highest 180") << 180 << 180 << 2 << 1;
    }
    void temperatureSign() {
        QFETCH(int, temperature);
        QFETCH(int, magnitude);
        QFETCH(int, stepSign);
        QFETCH(int, setPointSign);
        const Frame step = BuildStepFrame(1, 1, 1, StepValues{temperature, 0, 0, 0, 0}, 1, 1);
        QCOMPARE(StepRegister(step, 2), magnitude);
        QCOMPARE(StepRegister(step, 8), stepSign);
        const Frame setPoint = BuildSetPointFrame(1, temperature);
        QCOMPARE(HexText(Frame(setPoint.begin() + 7, setPoint.begin() + 13)),
                 HexText({0, static_cast<std::uint8_t>(magnitude), 0, 0, 0,
                          static_cast<std::uint8_t>(setPointSign)}));
    }

    void cycleDigits_data() {
        QTest::addColumn<int>("cycles");
        QTest::addColumn<int>("hundreds");
        QTest::addColumn<int>("tens");
        QTest::addColumn<int>("units");
        QTest::newRow("999") << 999 << 9 << 9 << 9;
        QTest::newRow("100") << 100 << 1 << 0 << 0;
        QTest::newRow("40") << 40 << 0 << 4 << 0;
        QTest::newRow("5") << 5 << 0 << 0 << 5;
    }
    void cycleDigits() {
        QFETCH(int, cycles);
        QFETCH(int, hundreds);
        QFETCH(int, tens);
        QFETCH(int, units);
        const Frame frame = BuildStepFrame(1, 1, 1, StepValues{}, 1, cycles);
        QCOMPARE(StepRegister(frame, 7), hundreds);
        QCOMPARE(StepRegister(frame, 11), tens);
        QCOMPARE(StepRegister(frame, 12), units);
    }

    void stepRecordRegisters() {
        const Frame frame = BuildStepFrame(3, 0, 2, StepValues{17, 99, 59, 98, 58}, 15, 1);
        QCOMPARE(frame.size(), std::size_t{35});
        const QList<int> expected{0, 2, 17, 99, 59, 0, 15, 0, 2, 98, 58, 0, 1};
        QList<int> registers;
        for (int k = 0; k < 13; ++k)
            registers << StepRegister(frame, k);
        QCOMPARE(registers, expected);
    }
};

QTEST_APPLESS_MAIN(tst_ControlFrames)
#include "tst_ControlFrames.moc"

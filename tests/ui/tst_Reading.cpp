// The reading cycle end to end, with the simulated chamber on a pseudo-terminal and the real
// windows: the figures, the retries and the decoding gate, the link-lost reaction.
#include "AppFixture.h"
#include "ChamberSelection.h"
#include "SimulatedLine.h"
#include "Unit5.h"
#include "widgets/ActivityIndicator.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <unistd.h>

#include "TimingSlack.h"

using namespace PortUnit;

Q_DECLARE_METATYPE(chambersim::ChamberFaults)

class tst_Reading : public QObject {
    Q_OBJECT

private slots:
    void readingShowsTheChambersValues() {
        AppFixture app;
        SimulatedLine line({1, 12});
        line.setTemperatures(12, 235, 65136);  // 23.5 and -40.0
        line.setRawInput(12, 10, 3);
        line.setRawInput(12, 11, 12);
        line.setRawInput(12, 14, 605);
        app.openPort(line.slavePath());
        SelectChamber(12);
        QVERIFY(Form1->Button6->isEnabled());
        QVERIFY(Form1->Button2->isEnabled());

        Form1->Button6->click();
        QCOMPARE(ChamberAddress, 12);
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,5"));
        QCOMPARE(Form1->Label18->text(), QStringLiteral("-40"));
        QCOMPARE(Form1->Label13->text(), QStringLiteral("3(12)"));
        QCOMPARE(Form1->Label3->text(), QStringLiteral("10:05"));
        QCOMPARE(Form1->Button6->text(), QStringLiteral("Останов чтения"));
        QCOMPARE(ReadingActive, 1);
        QCOMPARE(PollBusy, 0);
        QVERIFY(Form1->Timer1->isActive());
        QVERIFY(Form1->Timer4->isActive());
        QVERIFY(Form1->CheckBox1->isEnabled());
        QVERIFY(!Form1->ActivityIndicator2->isSpinning());
        QVERIFY(LogRecord.contains(QStringLiteral("23,5;")));
        const auto request = line.received().front().bytes;
        QCOMPARE(request, (std::vector<std::uint8_t>{12, 4, 0, 0, 0, 15, 0xB1, 0x13}));

        // The next tick reads again; switching off resets the figures but not the kept texts.
        line.setTemperatures(12, 236, 65136);
        QTRY_COMPARE_WITH_TIMEOUT(Form1->Label5->text(), QStringLiteral("23,6"),
                                  4000 + kEventTimeoutMs);
        Form1->Button6->click();
        QCOMPARE(Form1->Label5->text(), QStringLiteral("0"));
        QCOMPARE(Form1->Label13->text(), QStringLiteral("0(0)"));
        QVERIFY(!Form1->Timer1->isActive());
        QCOMPARE(CurrentTemperatureText, QStringLiteral("23,6"));
    }

    void retriesAndTheDecodingGate_data() {
        QTest::addColumn<chambersim::ChamberFaults>("faults");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<bool>("echo");
        chambersim::ChamberFaults none, silentTwice, stray, badCrc, wrongCount, exception, pieces,
            split16, split60;
        silentTwice.silentFirst = 2;
        stray.strayByte = true;
        badCrc.breakCrc = true;
        wrongCount.wrongByteCount = true;
        exception.exceptionReply = true;
        pieces.byteByByte = true;
        // A USB adapter hands a reply over in pieces, one latency timer (16 ms) apart or more.
        split16.splitGapMs = 16;
        split60.splitGapMs = 60;
        QTest::newRow("answered at once") << none << 1 << "23,5" << 800 << false;
        QTest::newRow("silent for two requests") << silentTwice << 3 << "23,5" << 2400 << false;
        QTest::newRow("reply sent byte by byte") << pieces << 1 << "23,5" << 800 << false;
        QTest::newRow("reply in two pieces 16 ms apart") << split16 << 1 << "23,5" << 800 << false;
        QTest::newRow("reply in two pieces 60 ms apart") << split60 << 1 << "23,5" << 800 << false;
        QTest::newRow("stray byte before the reply") << stray << 1 << "23,5" << 800 << false;
        QTest::newRow("our request echoed before a fast reply") << none << 1 << "23,5" << 800 << true;
        // A damaged reply is no answer: every attempt fails and the link counts as lost.
        QTest::newRow("broken CRC") << badCrc << 20 << "0" << 16000 << false;
        QTest::newRow("wrong byte count") << wrongCount << 20 << "0" << 16000 << false;
        QTest::newRow("exception reply") << exception << 20 << "0" << 16000 << false;
    }
    void retriesAndTheDecodingGate() {
        QFETCH(chambersim::ChamberFaults, faults);
        QFETCH(int, requests);
        QFETCH(QString, shown);
        QFETCH(int, atLeastMs);
        QFETCH(bool, echo);
        AppFixture app;
        SimulatedLine line({1});
        line.setTemperatures(1, 235, 200);
        line.setFaults(1, faults);
        line.setEcho(echo);
        app.openPort(line.slavePath());
        SelectChamber(1);
        Form1->CheckBox1->setEnabled(true);
        Form1->CheckBox1->setChecked(true);
        Form1->Timer6->stop();
        QElapsedTimer cycle;
        cycle.start();
        Form1->Button6Click();
        QVERIFY(cycle.elapsed() >= atLeastMs);
        QCOMPARE(Form1->Label5->text(), shown);
        QCOMPARE(line.bus().requestCount(1), requests);
        const bool linkLost = requests == kReadAttempts;
        QCOMPARE(Form5->isVisible(), linkLost);
        QCOMPARE(Form1->Timer4->isActive(), !linkLost);
        QCOMPARE(Form1->CheckBox1->isChecked(), !linkLost);
        // Nothing is left for the log to append as if it were a reading.
        QCOMPARE(LogRecordPending, !linkLost);
        QCOMPARE(Statistics.linkLost, linkLost ? 1 : 0);
        QCOMPARE(Statistics.decoded, linkLost ? 0 : 1);
    }
};

QTEST_MAIN(tst_Reading)
#include "tst_Reading.moc"

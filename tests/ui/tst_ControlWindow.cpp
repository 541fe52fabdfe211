// The control window end to end: what the operator's entries and clicks put on the line, the
// input checks and the pause of the main window's timers.
#include "ControlLine.h"
#include "HexBytes.h"
#include "SentFrames.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"
#include "Unit4.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <sys/resource.h>

using namespace PortUnit;

namespace {

// How often this thread has waited (slept, or blocked on a lock or a descriptor) so far. A pause
// is a wait, whatever the machine's load; being preempted by a busy machine is not one.
long TimesBlocked() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

void Type(QLineEdit *edit, const QString &text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

// Fills rows 1..rows.size() of the program table, one string of five values per row.
void FillRows(const QStringList &rows) {
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList cells = rows[r].split(QLatin1Char(','));
        for (int c = 0; c < cells.size(); ++c)
            Form3->setCellText(r + 1, c + 1, cells[c]);
    }
}

} // namespace

class tst_ControlWindow : public QObject {
    Q_OBJECT

private slots:
    void commandsPutTheirFramesOnTheLine_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("setPoint");
        QTest::addColumn<int>("startProgram");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("manual start") << "Button2" << "" << -1
                                      << QByteArray("01 10 00 10 00 01 02 00 01 65 00");
        QTest::newRow("manual stop") << "Button3" << "" << -1
                                     << QByteArray("01 10 00 10 00 01 02 00 02 25 01");
        QTest::newRow("program start from 3")
            << "Button5" << "" << 2 << QByteArray("01 10 00 11 00 02 04 00 01 00 03 22 AE");
        QTest::newRow("program stop") << "Button6" << "" << -1
                                      << QByteArray("01 10 00 11 00 01 02 00 02 24 D0");
        QTest::newRow("set-point -20")
            << "Button4" << "-20" << -1
            << QByteArray("01 10 00 0D 00 03 06 00 14 00 00 00 02 C6 B8");
        QTest::newRow("set-point 25") << "Button4" << "25" << -1
                                      << QByteArray("01 10 00 0D 00 03 06 00 19 00 00 00 01 AB 78");
        QTest::newRow("program start, nothing chosen") << "Button5" << "" << -1 << QByteArray();
    }
    void commandsPutTheirFramesOnTheLine() {
        QFETCH(QString, button);
        QFETCH(QString, setPoint);
        QFETCH(int, startProgram);
        QFETCH(QByteArray, frame);
        ControlLine control;
        Type(Form3->Edit3, setPoint);
        Form3->ComboBox2->setCurrentIndex(startProgram);
        auto *pushButton = Form3->findChild<QPushButton *>(button);
        QVERIFY(pushButton);
        QElapsedTimer clock;
        clock.start();
        const long blockedBefore = TimesBlocked();
        QTest::mouseClick(pushButton, Qt::LeftButton);
        if (frame.isEmpty()) {
            QCOMPARE(TimesBlocked(), blockedBefore); // returns at once, no pause
            QTest::qWait(200);
            QVERIFY(control.line.received().empty());
            return;
        }
        QVERIFY(clock.elapsed() >= 500);
        const auto frames = control.frames(1);
        QCOMPARE(frames.size(), std::size_t(1));
        QCOMPARE(HexText(frames[0]), QString::fromLatin1(frame));
        QVERIFY(control.app.errorBoxes.isEmpty());
    }

    void programGoesOutOneFramePerStepHalfASecondApart() {
        ControlLine control;
        SentFrames sending;
        Form3->ComboBox1->setCurrentIndex(1);
        Type(Form3->Edit1, QStringLiteral("3"));
        Type(Form3->Edit2, QStringLiteral("125"));
        FillRows({"-40,1,30,0,45", "0,0,5,0,10", "180,99,59,99,59", "x,x,x,x,x"});
        QTest::mouseClick(Form3->Button1, Qt::LeftButton);
        const auto received = control.line.received();
        QCOMPARE(received.size(), std::size_t(3));
        QCOMPARE(HexText(received[0].bytes),
                 QString("01 10 00 00 00 0D 1A 00 02 00 01 00 28 00 01 00 1E 00 00 00 03 00 "
                         "01 00 01 00 00 00 2D 00 02 00 05 8D 09"));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(received[i].bytes[10], std::uint8_t(i + 1));  // register 1: the step
            QCOMPARE(received[i].bytes[20], std::uint8_t(3));      // register 6: the steps
        }
        QCOMPARE(received[1].bytes[24], std::uint8_t(2));  // 0 degrees count as "zero or above"
        const auto sentAt = sending.times();
        QCOMPARE(sentAt.size(), std::size_t(3));
        for (int i = 1; i < 3; ++i)
            QVERIFY(sentAt[i] - sentAt[i - 1] >= std::chrono::milliseconds(kCommandPauseMs));
        const auto holding = control.line.holdingRegisters(1);
        QCOMPARE(holding[1], std::uint16_t(3));
        QCOMPARE(holding[2], std::uint16_t(180));
        QCOMPARE(holding[7], std::uint16_t(1));
        QCOMPARE(holding[11], std::uint16_t(2));
        QCOMPARE(holding[12], std::uint16_t(5));
    }

    void invalidEntriesOpenOneErrorWindowAndSendNothing_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("cycles");
        QTest::addColumn<QString>("row1");
        QTest::newRow("nothing entered") << "" << "" << "";
        QTest::newRow("cycles empty") << "1" << "" << "20,0,0,0,0";
        QTest::newRow("a cell empty") << "1" << "1" << "20,0,,0,0";
        QTest::newRow("181 degrees") << "1" << "1" << "181,0,0,0,0";
        QTest::newRow("-86 degrees") << "1" << "1" << "-86,0,0,0,0";
        QTest::newRow("100 hours") << "1" << "1" << "20,100,0,0,0";
        QTest::newRow("60 minutes") << "1" << "1" << "20,0,0,0,60";
        QTest::newRow("-1 hours") << "1" << "1" << "20,0,0,-1,0";
        QTest::newRow("0 steps") << "0" << "1" << "20,0,0,0,0";
        QTest::newRow("16 steps") << "16" << "1" << "20,0,0,0,0";
        QTest::newRow("-1 steps") << "-1" << "1" << "20,0,0,0,0";
        QTest::newRow("0 cycles") << "1" << "0" << "20,0,0,0,0";
        QTest::newRow("1000 cycles") << "1" << "1000" << "20,0,0,0,0";
    }
    void invalidEntriesOpenOneErrorWindowAndSendNothing() {
        QFETCH(QString, steps);
        QFETCH(QString, cycles);
        QFETCH(QString, row1);
        ControlLine control;
        const std::size_t windowsBefore = InputErrorWindows.size();
        Type(Form3->Edit1, steps);
        Type(Form3->Edit2, cycles);
        FillRows({row1});
        Form3->Button1->click();
        QCOMPARE(InputErrorWindows.size(), windowsBefore + 1);
        TForm4 *window = InputErrorWindows.back();
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Ошибка"));
        QTest::qWait(100);
        QVERIFY(control.line.received().empty());
        QVERIFY(control.app.errorBoxes.isEmpty());
    }

    void boundsThatAreAccepted() {
        ControlLine control;
        Type(Form3->Edit1, QStringLiteral("2"));
        Type(Form3->Edit2, QStringLiteral("999"));
        FillRows({QStringLiteral(" 7,99,59,0,0"), QStringLiteral("-85,0,0,99,59")});
        Form3->Button1->click();
        QCOMPARE(InputErrorWindows.size(), std::size_t(0));
        QCOMPARE(control.frames(2).size(), std::size_t(2));
        const auto holding = control.line.holdingRegisters(1);
        QCOMPARE(holding[8], std::uint16_t(1));  // -85: below zero
        QCOMPARE(holding[7] * 100 + holding[11] * 10 + holding[12], 999);
    }

    void conversionFailureShowsTheMessageAndNoErrorWindow_data() {
        QTest::addColumn<QString>("row2");
        QTest::addColumn<QString>("setPoint");
        QTest::addColumn<QString>("message");
        // Row 1 is out of bounds, but the later failed conversion wins.
        QTest::newRow("x after an out-of-bound value")
            << "20,0,x,0,0" << "" << "'x' is not a valid integer value.";
        QTest::newRow("a cell of blanks") << "20,   ,0,0,0" << "" << "'   ' is not a valid integer value.";
        QTest::newRow("lone minus as set-point") << "" << "-" << "'-' is not a valid integer value.";
    }
    void conversionFailureShowsTheMessageAndNoErrorWindow() {
        QFETCH(QString, row2);
        QFETCH(QString, setPoint);
        QFETCH(QString, message);
        ControlLine control;
        if (setPoint.isEmpty()) {
            Type(Form3->Edit1, QStringLiteral("2"));
            Type(Form3->Edit2, QStringLiteral("5"));
            FillRows({QStringLiteral("500,0,0,0,0"), row2});
            RunHandler([] { Form3->Button1Click(); });
        } else {
            Type(Form3->Edit3, setPoint);
            RunHandler([] { Form3->Button4Click(); });
        }
        QCOMPARE(control.app.errorBoxes, QStringList({message}));
        QCOMPARE(InputErrorWindows.size(), std::size_t(0));
        QVERIFY(control.line.received().empty());
    }

    void openCellEditorIsCommittedBeforeTheCheck() {
        ControlLine control;
        Type(Form3->Edit1, QStringLiteral("1"));
        Type(Form3->Edit2, QStringLiteral("1"));
        FillRows({QStringLiteral("20,0,0,0,")});
        Form3->StringGrid1->setCurrentCell(1, 5);
        Form3->StringGrid1->editItem(Form3->StringGrid1->item(1, 5));
        auto *editor = Form3->StringGrid1->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("7"));
        QCOMPARE(Form3->cellText(1, 5), QString());  // not committed yet
        Form3->Button1Click();
        QCOMPARE(InputErrorWindows.size(), std::size_t(0));
        QCOMPARE(control.frames(1).size(), std::size_t(1));
        QCOMPARE(control.line.holdingRegisters(1)[10], std::uint16_t(7));
    }

    // Cells typed and closed with Return, then one editor left open: the write commits the open
    // one through the view and nothing else (a closed editor awaiting deletion is no longer the
    // view's, and committing it makes Qt complain).
    void programWriteCommitsOnlyTheOpenEditor() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        ControlLine control;
        Form3->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        Type(Form3->Edit1, QStringLiteral("1"));
        Type(Form3->Edit2, QStringLiteral("1"));
        FillRows({QStringLiteral(",0,0,0,")});
        QTableWidget *grid = Form3->StringGrid1;
        const auto typeInCell = [grid](int row, int column, const QString &text, bool close) {
            grid->setCurrentCell(row, column);
            grid->editItem(grid->item(row, column));
            QWidget *editor = grid->indexWidget(grid->currentIndex());
            QVERIFY(editor);
            QTest::keyClicks(editor, text);
            if (close)
                QTest::sendKeyEvent(QTest::Click, editor, Qt::Key_Return, QStringLiteral("\r"), {});

        };
        typeInCell(1, 1, QStringLiteral("20"), true);
        // The delegate commits and closes a Return-ed editor from the event loop.
        QCoreApplication::processEvents();
        QCOMPARE(Form3->cellText(1, 1), QStringLiteral("20"));
        typeInCell(1, 5, QStringLiteral("7"), false);
        Form3->Button1->click();
        Form3->Button1->click();
        QCOMPARE(InputErrorWindows.size(), std::size_t(0));
        QCOMPARE(control.frames(2).size(), std::size_t(2));
        QCOMPARE(control.line.holdingRegisters(1)[10], std::uint16_t(7));
    }

    void busyReadingTimersArePausedAndSwitchedOnAgain() {
        ControlLine control;
        PollBusy = -1;  // a reading cycle that did not reach its end
        Form1->Timer1->start();
        Form1->Timer4->stop();
        QElapsedTimer sinceClick;
        sinceClick.start();
        Form3->Button2->click();
        // Switched off for the frame, on again after its pause: a full period from then on (a
        // timer left running, or started before the pause, is due at least a pause sooner), and
        // Timer4 is on although it was off before the click.
        QVERIFY(Form1->Timer1->isActive());
        const qint64 remaining = Form1->Timer1->remainingTime();
        // Both in whole milliseconds, each rounded down.
        QCOMPARE_GE(remaining + sinceClick.elapsed(),
                    qint64(Form1->Timer1->interval() + kCommandPauseMs - 2));
        QVERIFY(Form1->Timer4->isActive());

        Form1->Timer1->stop();
        Form1->Timer4->stop();
        Type(Form3->Edit3, QStringLiteral("-"));
        RunHandler([] { Form3->Button4Click(); });
        QCOMPARE(control.app.errorBoxes.size(), 1);
        QVERIFY(Form1->Timer1->isActive());
        QVERIFY(Form1->Timer4->isActive());

        PollBusy = 0;  // the usual case: the timers are left alone
        Form1->Timer1->stop();
        Form1->Timer4->stop();
        Form3->Button3->click();
        QVERIFY(!Form1->Timer1->isActive());
        QVERIFY(!Form1->Timer4->isActive());
    }

    void commandsGoToTheChamberLastPolled() {
        AppFixture app;
        SimulatedLine line({1, 2});
        app.openPort(line.slavePath());
        // Nothing selected, nothing polled: nothing sent, and the operator is told why.
        for (const auto click : {&TForm3::Button2Click, &TForm3::Button3Click,
                                 &TForm3::Button6Click})
            RunHandler([click] { (Form3->*click)(); });
        QCOMPARE(app.errorBoxes,
                 QStringList(3, QStringLiteral("No chamber selected: open the port, scan and "
                                               "choose a chamber first.")));
        QTest::qWait(100);
        QVERIFY(line.received().empty());
        SelectChamber(2);
        Form1->Button6Click();  // polls chamber 2
        Form1->Button6Click();
        Form1->ListBox1->clearSelection();
        SelectChamber(1);  // selected but not yet polled
        line.clearReceived();
        Form3->Button2Click();
        QCOMPARE(line.received().at(0).bytes.at(0), std::uint8_t(2));
    }

    void writtenProgramRunsOnTheChamberAndTheReadingsFollowIt() {
        ControlLine control;
        control.line.bus().withModel(1, [](chambersim::ChamberModel &m) {
            m.setCurrentTemperature(20.0);
        });
        control.line.setSpeedUp(30);  // one simulated minute every two seconds
        Form3->ComboBox1->setCurrentIndex(0);
        Type(Form3->Edit1, QStringLiteral("2"));
        Type(Form3->Edit2, QStringLiteral("2"));
        FillRows({QStringLiteral("25,0,1,0,1"), QStringLiteral("30,0,1,0,1")});
        Form3->Button1->click();
        Form3->ComboBox2->setCurrentIndex(0);
        Form3->Button5->click();
        Form1->Button6->click();
        QCOMPARE(Form1->Label17->text(), QStringLiteral("1"));
        QTRY_COMPARE_WITH_TIMEOUT(Form1->Label13->text(), QStringLiteral("2(2)"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Form1->Label20->text(), QStringLiteral("2(2)"), 40000);
    }
};

QTEST_MAIN(tst_ControlWindow)
#include "tst_ControlWindow.moc"

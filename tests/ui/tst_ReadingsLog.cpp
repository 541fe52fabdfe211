// The readings log end to end, with the simulated chamber on a pseudo-terminal and the real
// windows: the file, its records, and the faults of the disk.
#include "AppFixture.h"
#include "ChamberSelection.h"
#include "FileBytes.h"
#include "SimulatedLine.h"
#include "Unit5.h"
#include "core/LogFormat.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <unistd.h>

#include "TimingSlack.h"
#include "UnprivilegedChild.h"

using namespace PortUnit;

class tst_ReadingsLog : public QObject {
    Q_OBJECT

private slots:
    void lostLinkIsShownAndTheNextGoodCycleHidesIt() {
        AppFixture app;
        SimulatedLine line({1});
        line.setTemperatures(1, 235, 200);
        app.openPort(line.slavePath());
        SelectChamber(1);
        Form1->Button6Click();
        Form1->CheckBox1->setChecked(true);
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,5"));

        chambersim::ChamberFaults mute;
        mute.silentFirst = 1000;
        line.setFaults(1, mute);
        Form1->Timer1Timer();
        QCOMPARE(line.bus().requestCount(1), 21);
        QVERIFY(Form5->isVisible());
        QCOMPARE(Form1->Label5->text(), QStringLiteral("0"));
        QCOMPARE(Form1->Label20->text(), QStringLiteral("0(0)"));
        QCOMPARE(ReadingActive, 0);
        QVERIFY(!Form1->Timer1->isActive());
        QVERIFY(!Form1->Timer4->isActive());
        QVERIFY(!Form1->CheckBox1->isChecked());
        QCOMPARE(Form1->Button6->text(), QStringLiteral("Чтение текущих показаний"));
        QCOMPARE(PollBusy, 0);

        line.setFaults(1, chambersim::ChamberFaults{});
        Form1->Button6Click();
        QVERIFY(!Form5->isVisible());
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,5"));
        QCOMPARE(ReadingActive, 1);
    }

    // Waits for the real timers: five seconds for the file, up to a minute for the record.
    void logFileGetsHeaderAndRecordsInWindows1251() {
        AppFixture app;
        SimulatedLine line({3});
        line.setTemperatures(3, 235, 200);
        line.setRawInput(3, 1, 2);
        line.setRawInput(3, 10, 3);
        line.setRawInput(3, 11, 12);
        line.setRawInput(3, 12, 2);
        line.setRawInput(3, 13, 5);
        app.openPort(line.slavePath());
        SelectChamber(3);
        Form1->Button6->click();
        QTest::mouseClick(Form1->CheckBox1, Qt::LeftButton, {},
                          QPoint(8, Form1->CheckBox1->height() / 2));
        QVERIFY(Form1->CheckBox1->isChecked());
        QVERIFY(Form1->Timer6->isActive());
        QVERIFY(LogFileName.contains(QStringLiteral(">")));
        // The next reading cycle puts the chamber number into the name.
        QTRY_VERIFY_WITH_TIMEOUT(!LogFileName.contains(QStringLiteral(">")),
                                 5000 + kEventTimeoutMs);
        QVERIFY(QFileInfo(LogFileName).fileName().startsWith(QStringLiteral("ЖЫМ№3 ")));
        const QString path = LogFileName;
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 5000 + kEventTimeoutMs);
        const QByteArray header = ToWindows1251(LogHeader()) + "\r\n";
        QCOMPARE(ReadAll(path), header);

        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(path).size() > header.size(), 60000 + kEventTimeoutMs);
        const QByteArray bytes = ReadAll(path);
        QVERIFY(bytes.startsWith(header));
        const QByteArray record = bytes.mid(header.size());
        QVERIFY(record.endsWith("\r\n\r\n"));
        QVERIFY(record.startsWith("    "));
        QVERIFY(record.contains(";           23,5;"));
        QVERIFY(record.contains(";" + QByteArray(33, ' ') + "2;" + QByteArray(30, ' ') + "3(12);" +
                                QByteArray(34, ' ') + "2(5);     ;   \r\n"));
        QVERIFY(app.errorBoxes.isEmpty());
        QFile::remove(path);
    }

    void diskFullAndMissingFileAreReportedAndLoggingGoesOn() {
        AppFixture app;
        Form1->CheckBox1->setEnabled(true);
        Form1->CheckBox1->setChecked(true);
        Form1->Timer6->stop();
        LogFileName = QDir::temp().filePath(QStringLiteral("kalvora-full-%1.txt").arg(getpid()));
        LogRecord = QStringLiteral("    12:00:00;\r\n");

        LogRecordPending = true;
        // Missing file: the append does not create it.
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(app.errorBoxes.value(0), QStringLiteral("The specified file was not found."));
        QVERIFY(!QFile::exists(LogFileName));

        RunHandler([] { Form1->Timer6Timer(); });
        const QByteArray written = ReadAll(LogFileName);
        QVERIFY(written.startsWith(ToWindows1251(LogHeader())));
        QVERIFY(Form1->Timer4->isActive());
        QFile::remove(LogFileName);
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), LogFileName));
        LogRecordPending = true;
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(app.errorBoxes.value(1), QStringLiteral("Disk full."));
        QVERIFY(Form1->Timer4->isActive());
        QFile::remove(LogFileName);
    }

    // The log holds readings only: nothing while reading is off, never the header as a record,
    // never the same record twice.
    void logAppendsOnlyFreshReadings() {
        AppFixture app;
        SimulatedLine line({1});
        line.setTemperatures(1, 235, 200);
        const QString folder = QDir::temp().filePath(QStringLiteral("kalvora-fresh-%1/").arg(getpid()));
        QDir().mkpath(folder);
        const auto removeFolder = qScopeGuard([&] { QDir(folder).removeRecursively(); });
        LogFolder = folder;
        app.openPort(line.slavePath());
        SelectChamber(1);
        Form1->Button6Click(); // a record is composed
        Form1->CheckBox1->setChecked(true);
        QVERIFY(Form1->Timer6->isActive());
        Form1->Timer6->stop(); // the test plays the log's timers
        Form1->Timer1Timer(); // the cycle within five seconds numbers the name
        RunHandler([] { Form1->Timer6Timer(); });
        const QString path = LogFileName;
        const QByteArray header = ToWindows1251(LogHeader()) + "\r\n";
        QCOMPARE(ReadAll(path), header);
        // No cycle since the file was made: the header is not appended again.
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(ReadAll(path), header);

        Form1->Button6Click(); // reading off, logging stays ticked
        QVERIFY(Form1->CheckBox1->isChecked());
        RunHandler([] { Form1->Timer4Timer(); });
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(ReadAll(path), header);

        Form1->Button6Click(); // reading on again: one cycle, one record
        RunHandler([] { Form1->Timer4Timer(); });
        RunHandler([] { Form1->Timer4Timer(); });
        const QByteArray record = ToWindows1251(LogRecord) + "\r\n";
        QVERIFY(record.contains(";           23,5;"));
        QCOMPARE(ReadAll(path), header + record);
        QVERIFY(app.errorBoxes.isEmpty());
    }

    // A folder that makes the name too long is refused when the box is ticked, and then nothing
    // is written anywhere, not even to the file of the earlier ticking.
    void tooLongLogPathWritesNothing() {
        AppFixture app;
        SimulatedLine line({1});
        line.setTemperatures(1, 235, 200);
        const QString folder = QDir::temp().filePath(QStringLiteral("kalvora-long-%1/").arg(getpid()));
        QDir().mkpath(folder);
        const auto removeFolder = qScopeGuard([&] { QDir(folder).removeRecursively(); });
        LogFolder = folder;
        app.openPort(line.slavePath());
        SelectChamber(1);
        Form1->Button6Click();
        Form1->CheckBox1->setChecked(true);
        Form1->Timer6->stop();
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer6Timer(); });
        const QString earlier = LogFileName;
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer4Timer(); });
        const QByteArray before = ReadAll(earlier);
        QCOMPARE(before.count("\r\n"), 4); // header and record, each with its empty line

        // With the chamber number in place of ">", the name is one character too long.
        Form1->CheckBox1->setChecked(false);
        const int nameLength = QFileInfo(WithChamberNumber(earlier, 1)).fileName().length();
        LogFolder = QLatin1Char('/') + QString(kMaxLogPathLength - nameLength - 1, QLatin1Char('d')) +
                    QLatin1Char('/');
        Form1->CheckBox1->setChecked(true);
        QCOMPARE(app.errorBoxes, QStringList{QStringLiteral("The filename or extension is too long.")});
        QVERIFY(!Form1->Timer6->isActive());
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(ReadAll(earlier), before);

        // Unticked and ticked with a shorter folder, logging works again.
        Form1->CheckBox1->setChecked(false);
        LogFolder = folder;
        Form1->CheckBox1->setChecked(true);
        QVERIFY(Form1->Timer6->isActive());
        QVERIFY(LogFileName.startsWith(folder));
        QCOMPARE(app.errorBoxes.size(), 1);
    }

    // A fault that persists reports the same text every minute: one box of it stays open, and
    // its text is shown as typed.
    void persistentLogErrorLeavesOneBoxOpen() {
        AppFixture app;
        ErrorBoxHook = OpenErrorMessageBox;
        const auto visibleBoxes = [] {
            QList<QMessageBox *> boxes;
            for (QWidget *window : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
                    boxes << box;
            return boxes;
        };
        const auto closeBoxes = qScopeGuard([&] { qDeleteAll(visibleBoxes()); });
        Form1->CheckBox1->setEnabled(true);
        Form1->CheckBox1->setChecked(true);
        Form1->Timer6->stop();
        LogFileName = QDir::temp().filePath(QStringLiteral("kalvora-gone-%1.txt").arg(getpid()));
        for (int tick = 0; tick < 3; ++tick) {
            PortUnit::ComposeLogRecord();
            RunHandler([] { Form1->Timer4Timer(); });
        }
        QCOMPARE(visibleBoxes().size(), 1);
        QCOMPARE(visibleBoxes().front()->text(), QStringLiteral("The specified file was not found."));
        QCOMPARE(visibleBoxes().front()->textFormat(), Qt::PlainText);
        ShowErrorBox(QStringLiteral("'<b>5</b>' is not a valid integer value"));
        QCOMPARE(visibleBoxes().size(), 2);
    }

    // As root every folder is writable, so the case runs in an unprivileged child.
    void unwritableFolderShowsAccessDenied() {
        if (geteuid() != 0)
            QSKIP("needs root to start the unprivileged child");
        const QString dir = QDir::temp().filePath(QStringLiteral("kalvora-ro-%1").arg(getpid()));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadOther | QFile::ExeOther);
        const ChildResult child = RunTestFunctionAsNobody(
            QStringLiteral("accessDeniedInChild"), QStringLiteral("KALVORA_TEST_LOG_DIR"), dir);
        QDir(dir).removeRecursively();
        QVERIFY2(child.passed, child.output.constData());
    }

    // Run by the case above as an unprivileged user.
    void accessDeniedInChild() {
        const QByteArray dir = qgetenv("KALVORA_TEST_LOG_DIR");
        if (dir.isEmpty())
            QSKIP("runs only as the child of unwritableFolderShowsAccessDenied");
        AppFixture app;
        LogFileName = QString::fromLocal8Bit(dir) + QStringLiteral("/ЖЫМ№1 x.txt");
        const qsizetype before = app.errorBoxes.size(); // only the handler's boxes count
        RunHandler([] { Form1->Timer6Timer(); });
        QCOMPARE(app.errorBoxes.mid(before), QStringList({QStringLiteral("File access denied.")}));
        QVERIFY(!Form1->Timer4->isActive());
        // The program goes on: the clock still ticks.
        Form1->Label8->clear();
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->Label8->text().isEmpty(), kEventTimeoutMs);
    }
};

QTEST_MAIN(tst_ReadingsLog)
#include "tst_ReadingsLog.moc"

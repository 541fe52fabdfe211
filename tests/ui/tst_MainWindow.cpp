// The main window end to end: start state, port opening and the bus scan, with the simulated
// chambers on a pseudo-terminal.
#include "AppFixture.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"
#include "Unit5.h"
#include "widgets/ActivityIndicator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

#include "PtyPair.h"
#include "UnprivilegedChild.h"

using namespace PortUnit;

namespace {

QStringList Entries() {
    QStringList entries;
    for (int i = 0; i < Form1->ListBox1->count(); ++i)
        entries << Form1->ListBox1->item(i)->text();
    return entries;
}

} // namespace

class tst_MainWindow : public QObject {
    Q_OBJECT

private slots:
    void button2ShowsTheOneControlWindow() {
        AppFixture app;
        TForm3 *before = Form3;
        Form1->Button2->setEnabled(true);
        Form1->Button2->click();
        QVERIFY(Form3->isVisible());
        Form3->close();
        QVERIFY(!Form3->isVisible());
        Form1->Button2->click();
        Form1->Button2->click();
        QVERIFY(Form3->isVisible());
        QCOMPARE(Form3, before);
    }

    void portThatCannotBeOpenedIsReported() {
        AppFixture app;
        app.openPort(QStringLiteral("/nonexistent/ttyKALVORA"));
        QVERIFY(!Form1->Button5->isEnabled());
        QVERIFY(Form1->Button4->isEnabled());
        QVERIFY(Form1->Button1->isEnabled());
        QCOMPARE(app.errorBoxes.size(), 1);
        QVERIFY(app.errorBoxes[0].contains(QStringLiteral("COM1")));
        QVERIFY(app.errorBoxes[0].contains(QStringLiteral("/nonexistent/ttyKALVORA")));
        QVERIFY(!Port.isOpen());
        QVERIFY(app.errorBoxes[0].contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
        // A new choice makes the port openable again.
        Form1->ComboBox1Change();
        QVERIFY(Form1->Button5->isEnabled());
    }

    // A device that exists but may not be opened: the box says how to get access. As root
    // every device opens, so the case runs in an unprivileged child.
    void refusedPortTellsHowToGetAccess() {
        if (geteuid() != 0)
            QSKIP("needs root to start the unprivileged child");
        PtyPair pty; // its slave side belongs to root, group tty, mode 0620
        ::chmod(QFile::encodeName(pty.slavePath()).constData(), 0600);
        const ChildResult child = RunTestFunctionAsNobody(
            QStringLiteral("refusedPortInChild"), QStringLiteral("KALVORA_COM1"), pty.slavePath());
        QVERIFY2(child.passed, child.output.constData());
    }

    void refusedPortInChild() {
        const QByteArray device = qgetenv("KALVORA_COM1");
        if (device.isEmpty() || geteuid() == 0)
            QSKIP("runs only as the child of refusedPortTellsHowToGetAccess");
        AppFixture app;
        Form1->ComboBox1->setCurrentIndex(0);
        const qsizetype before = app.errorBoxes.size(); // only the handler's boxes count
        Form1->Button5->click();
        const QStringList boxes = app.errorBoxes.mid(before);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(QStringLiteral("Cannot open COM1 (%1): %2")
                                         .arg(QString::fromLocal8Bit(device),
                                              QString::fromLocal8Bit(std::strerror(EACCES)))),
                 qPrintable(boxes[0]));
        QVERIFY(boxes[0].contains(QStringLiteral("dialout")));
    }

    void nothingSelectedOpensCom1() {
        AppFixture app;
        SimulatedLine line({1});
        qputenv("KALVORA_COM1", line.slavePath().toLocal8Bit());
        Form1->Button5->click();
        QVERIFY(Port.isOpen());
        QVERIFY(app.errorBoxes.isEmpty());
    }

    void scanListsChambersInOrderAndPausesAndResumes() {
        AppFixture app;
        SimulatedLine line({0, 1, 3});
        app.openPort(line.slavePath());
        Form1->Button4->click();
        QCOMPARE(Form1->Button4->text(), QStringLiteral("Пауза"));
        QTRY_COMPARE_WITH_TIMEOUT(Form1->ListBox1->count(), 3, kEventTimeoutMs);
        Form1->Button4->click();  // pause
        QCOMPARE(Form1->Button4->text(), QStringLiteral("Пуск"));
        QVERIFY(!Form1->Timer5->isActive());
        QCOMPARE(Entries(), QStringList({QStringLiteral("Камера №0"), QStringLiteral("Камера №1"),
                                         QStringLiteral("Камера №3")}));
        // The scan timer runs while the test waits: on a slow machine it may have probed an
        // address or two beyond chamber 3 before the pause.
        const int paused = ScanAddress;
        QVERIFY(paused >= 4);
        QCOMPARE(Form1->Label26->text(), QStringLiteral("%1 из 250").arg(paused - 1));
        QCOMPARE(Form1->ProgressBar1->value(), (4 * (paused - 1) + 5) / 10); // of 250, rounded

        line.clearReceived();
        Form1->Button4->click();  // resume at the next address, the list kept
        QTRY_VERIFY_WITH_TIMEOUT(ScanAddress > paused, kEventTimeoutMs);
        Form1->Button4->click();
        QCOMPARE(line.received().front().bytes[0], paused);
        QCOMPARE(Form1->ListBox1->count(), 3);

        Form1->Button1->click();  // stop resets list, bar and label
        QCOMPARE(Form1->ListBox1->count(), 0);
        QCOMPARE(Form1->ProgressBar1->value(), 0);
        QCOMPARE(Form1->Label26->text(), QStringLiteral("    "));
        QCOMPARE(ScanAddress, 0);
        QCOMPARE(ScanActive, 0);
        QCOMPARE(Form1->Button4->text(), QStringLiteral("Пуск"));
    }

    // A two-wire adapter hands our own request back: an echo is no chamber.
    void scanWithEchoListsOnlyTheChambers() {
        AppFixture app;
        SimulatedLine line({1, 3});
        line.setEcho(true);
        app.openPort(line.slavePath());
        for (int address = 0; address <= 5; ++address)
            ProbeAddress(address);
        QCOMPARE(Entries(), QStringList({QStringLiteral("Камера №1"), QStringLiteral("Камера №3")}));
    }

    void probeListsAChamberAnsweringOnlyItsFifthRequest() {
        AppFixture app;
        SimulatedLine line({7});
        chambersim::ChamberFaults late;
        late.silentFirst = 4;
        line.setFaults(7, late);
        app.openPort(line.slavePath());
        ScanAddress = 7;
        Form1->Button4->click();
        // Address 8 has no chamber: not listed, but bar and label move on (and on a slow
        // machine perhaps past 9 before the pause).
        QTRY_VERIFY_WITH_TIMEOUT(ScanAddress >= 9, kEventTimeoutMs);
        Form1->Button4->click();
        QCOMPARE(Entries(), QStringList({QStringLiteral("Камера №7")}));
        const int last = ScanAddress - 1;
        QCOMPARE(Form1->Label26->text(), QStringLiteral("%1 из 250").arg(last));
        QCOMPARE(Form1->ProgressBar1->value(), (4 * last + 5) / 10); // of 250, rounded
        QCOMPARE(line.bus().requestCount(7), 5);
    }

    void finishedScanClearsThenRestartsAtZero() {
        AppFixture app;
        SimulatedLine line({0, 250});
        app.openPort(line.slavePath());
        ScanAddress = 250;
        Form1->Button4->click();
        QTRY_VERIFY_WITH_TIMEOUT(ScanAddress == kScanEnd && !Form1->Timer5->isActive(),
                                 kEventTimeoutMs);
        QCOMPARE(Entries(), QStringList({QStringLiteral("Камера №250")}));
        QCOMPARE(Form1->ProgressBar1->value(), 100);
        QCOMPARE(Form1->Label26->text(), QStringLiteral("250 из 250"));
        QCOMPARE(ScanActive, 1);
        QCOMPARE(Form1->Button4->text(), QStringLiteral("Пауза"));

        Form1->Button4->click();  // Finished -> Cleared
        QCOMPARE(Form1->ListBox1->count(), 0);
        QCOMPARE(Form1->Button4->text(), QStringLiteral("Пуск"));

        line.clearReceived();
        Form1->Button4->click();  // Cleared -> Running: one idle tick, then address 0
        QTRY_COMPARE_WITH_TIMEOUT(Entries(), QStringList({QStringLiteral("Камера №0")}),
                                  kEventTimeoutMs);
        Form1->Button1->click();
        QCOMPARE(line.received().front().bytes[0], 0);
    }

    // Last: it runs the event loop until the program ends.
    void closingTheMainWindowEndsTheProgram_data() {
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<QStringList>("openWindows");
        QTest::newRow("message window open, port open") << true << QStringList{"Form5"};
        QTest::newRow("every other window open, no port")
            << false << QStringList{"InputError", "Form5", "Form3"};
    }
    void closingTheMainWindowEndsTheProgram() {
        QFETCH(bool, portOpen);
        QFETCH(QStringList, openWindows);
        AppFixture app;
        SimulatedLine line({1});
        if (portOpen) {
            app.openPort(line.slavePath());
            QVERIFY(Port.isOpen());
        }
        for (const QString &window : openWindows) {
            if (window == QLatin1String("InputError"))
                ShowInputError();
            else
                (window == QLatin1String("Form5") ? static_cast<QWidget *>(Form5) : Form3)->show();
        }
        QTimer::singleShot(0, [] { Form1->close(); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        bool timedOut = false;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            QApplication::exit(1);
        });
        watchdog.start(kEventTimeoutMs);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!timedOut);
        QVERIFY(!Form1->isVisible());
        QVERIFY(!Port.isOpen());
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"

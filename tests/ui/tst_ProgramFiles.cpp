// The control window's program files and preview, offscreen: open, save, drafts, the folders
// offered, and that a saved table goes out of kalvora-cli as the window's own frames.
#include "CliProcess.h"
#include "ControlLine.h"
#include "FileBytes.h"

#include "core/ProgramFile.h"
#include "core/ProgramLibrary.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>

using Bytes = std::vector<std::uint8_t>;

namespace {

// Answers the file dialogs with `path`, and remembers what they were asked.
struct ChosenPath {
    QString path;
    QList<ProgramFileQuestion> questions;
    ChosenPath() {
        ProgramFileDialogHook = [this](QWidget *, const ProgramFileQuestion &question) {
            questions << question;
            return path;
        };
    }
    ~ChosenPath() {
        ProgramFileDialogHook = [](QWidget *, const ProgramFileQuestion &) { return QString(); };
    }
};

void FillWindow(const QString &program, const QString &steps, const QString &cycles,
                const QList<QStringList> &rows) {
    Form3->ComboBox1->setCurrentIndex(program.isEmpty() ? -1 : program.toInt() - 1);
    Form3->Edit1->setText(steps);
    Form3->Edit2->setText(cycles);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < kStepColumns; ++c)
            Form3->setCellText(r + 1, c + 1, rows[r][c]);
}

struct WindowTexts {
    QString program, steps, cycles;
    QList<QStringList> rows;
    bool operator==(const WindowTexts &) const = default;
};

WindowTexts ReadWindow() {
    WindowTexts texts{Form3->ComboBox1->currentIndex() < 0 ? QString()
                                                           : Form3->ComboBox1->currentText(),
                      Form3->Edit1->text(), Form3->Edit2->text(), {}};
    for (int r = 1; r <= kMaxSteps; ++r) {
        QStringList row;
        for (int c = 1; c <= kStepColumns; ++c)
            row << Form3->cellText(r, c);
        texts.rows << row;
    }
    return texts;
}

const QList<QStringList> kThreeRows{{"-40", "1", "30", "0", "45"},
                                    {"85", "1", "30", "1", "0"},
                                    {" 25", "0", "10", "0", "0"}};

} // namespace

class tst_ProgramFiles : public QObject {
    Q_OBJECT

private slots:
    // What was shown comes back after save and open, odd texts and drafts included.
    void saveThenOpenGivesTheSameTexts_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<bool>("draft");
        QTest::newRow("valid") << "2" << "3" << kThreeRows << false;
        QList<QStringList> odd = kThreeRows;
        odd[1][0] = "5;\"x\"";
        odd[6] = QStringList{"после N", "", "", "", ""};
        QTest::newRow("draft, nothing chosen") << "" << "3" << odd << true;
    }
    void saveThenOpenGivesTheSameTexts() {
        QFETCH(QString, program);
        QFETCH(QString, steps);
        QFETCH(QList<QStringList>, rows);
        QFETCH(bool, draft);
        AppFixture app;
        Form1->Button2->click();
        QTemporaryDir dir;
        ChosenPath chosen;
        chosen.path = dir.filePath("термоцикл"); // ".csv" is added
        QList<QStringList> all = rows;
        while (all.size() < kMaxSteps)
            all << QStringList{"", "", "", "", ""};
        FillWindow(program, steps, "10", all);
        const WindowTexts saved = ReadWindow();
        Form3->saveProgramAction->trigger();
        QVERIFY(QFile::exists(chosen.path + ".csv"));
        QCOMPARE(app.errorBoxes.size(), draft ? 1 : 0);
        if (draft)
            QVERIFY2(app.errorBoxes.first().startsWith("Saved as a draft"),
                     qPrintable(app.errorBoxes.first()));

        Form3->ComboBox1->setCurrentIndex(7);
        Form3->ComboBox1Change();
        chosen.path += ".csv";
        Form3->openProgramAction->trigger();
        QCOMPARE(ReadWindow(), saved);
        QCOMPARE(app.errorBoxes.size(), draft ? 2 : 0);
        if (draft)
            QVERIFY2(app.errorBoxes.last().startsWith("Opened a draft"),
                     qPrintable(app.errorBoxes.last()));
    }

    // A file that fails the checks fills nothing and the box names the file, line and cell.
    void failingFileFillsNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        ProgramTexts hot;
        hot.programNumber = "3";
        hot.steps = "1";
        hot.cycles = "1";
        hot.cells[0] = {"181", "0", "0", "0", "0"};
        QTest::newRow("cell out of range")
            << WriteProgramFile(hot, false) << ":8: step 1, Т, °С: 181 is outside -85..180";
        QTest::newRow("not a program") << QByteArray("20,0,0,0,0\n") << ":1: not a Kalvora program";
        QTest::newRow("empty") << QByteArray() << ": the file is empty";
    }
    void failingFileFillsNothing() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        AppFixture app;
        Form1->Button2->click();
        QTemporaryDir dir;
        ChosenPath chosen;
        chosen.path = dir.filePath("p.csv");
        QVERIFY(WriteFile(chosen.path, bytes));
        FillWindow("2", "3", "10", kThreeRows);
        const WindowTexts before = ReadWindow();
        Form3->openProgramAction->trigger();
        QCOMPARE(ReadWindow(), before);
        QCOMPARE(app.errorBoxes.size(), 1);
        QVERIFY2(app.errorBoxes.first().startsWith("Program not opened: " + chosen.path + message),
                 qPrintable(app.errorBoxes.first()));
    }

    // The number as the checks read it chooses the list's entry.
    void programNumberAsTheChecksReadIt() {
        AppFixture app;
        QTemporaryDir dir;
        ChosenPath chosen;
        chosen.path = dir.filePath("p.csv");
        ProgramTexts texts;
        texts.programNumber = " 07";
        texts.steps = "1";
        texts.cycles = "1";
        texts.cells[0] = {"20", "0", "1", "0", "1"};
        QVERIFY(WriteFile(chosen.path, WriteProgramFile(texts, false)));
        Form3->openProgramAction->trigger();
        QCOMPARE(app.errorBoxes, QStringList());
        QCOMPARE(Form3->ComboBox1->currentIndex(), 6);
    }

    // Ctrl+O and Ctrl+S reach the dialogs, which offer the user's library first.
    void shortcutsOfferTheLibrary() {
        AppFixture app;
        Form3->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        QApplication::setActiveWindow(Form3); // offscreen windows are not activated on showing
        ChosenPath chosen; // empty: the dialogs are cancelled
        QTest::keyClick(Form3->Edit2, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(Form3->StringGrid1, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(chosen.questions.size(), 2);
        const QString library = UserProgramFolder(
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        QVERIFY(library.endsWith("/Kalvora/Программы"));
        QCOMPARE(chosen.questions[0].save, false);
        QCOMPARE(chosen.questions[1].save, true);
        for (const ProgramFileQuestion &question : chosen.questions) {
            QCOMPARE(question.startPath, library);
            QCOMPARE(question.folders.first(), library);
        }
        QCOMPARE(Form3->Edit2->text(), QString()); // Ctrl+O typed nothing
        QCOMPARE(app.errorBoxes, QStringList());
        // The context menu holds the three entries, no new control in the window.
        QCOMPARE(Form3->StringGrid1->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(Form3->previewProgramAction->text(), QStringLiteral("Просмотр…"));
    }

    void sharedLibraryIsNotWritten() {
        AppFixture app;
        Form1->Button2->click();
        ChosenPath chosen;
        chosen.path = QString::fromLatin1(kSharedProgramFolder) + "/p.csv";
        FillWindow("2", "3", "10", kThreeRows);
        Form3->saveProgramAction->trigger();
        QVERIFY(!QFile::exists(chosen.path));
        QCOMPARE(app.errorBoxes.size(), 1);
        QVERIFY2(app.errorBoxes.first().contains("read-only"), qPrintable(app.errorBoxes.first()));
    }

    // The window's frames for a table, and kalvora-cli's for the file the window saved of it.
    void savedFileGoesOutAsTheWindowsFrames() {
        QTemporaryDir dir;
        ChosenPath chosen;
        chosen.path = dir.filePath("p.csv");
        Bytes windowFrames;
        std::vector<Bytes> fromWindow;
        {
            ControlLine control;
            FillWindow("4", "3", "125", kThreeRows);
            Form3->Button1->click();
            fromWindow = control.frames(3);
            Form3->saveProgramAction->trigger();
        }
        QCOMPARE(fromWindow.size(), std::size_t(3));
        SimulatedLine line({1});
        const CliRun run =
            RunCli({"write-program", "--port", line.slavePath(), "1", chosen.path});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        std::vector<Bytes> fromCli;
        for (const ReceivedFrame &frame : line.received())
            if (frame.isRequest)
                fromCli.push_back(frame.bytes);
        QCOMPARE(fromCli, fromWindow);
    }

    void previewShowsDurationAndEnd() {
        AppFixture app;
        Form1->Button2->click();
        FillWindow("2", "3", "10", kThreeRows);
        Form3->previewProgramAction->trigger();
        QCOMPARE(app.errorBoxes, QStringList());
        QLabel *summary = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->windowTitle() == QStringLiteral("Просмотр программы"))
                summary = window->findChild<QLabel *>("summary");
        QVERIFY(summary);
        // (45 + 90) + (60 + 90) + (0 + 10) min, ten times.
        QVERIFY2(summary->text().contains("Длительность: 2 сут 01 ч 10 мин"),
                 qPrintable(summary->text()));
        QVERIFY(summary->text().contains("Окончание при запуске сейчас: "));
        QVERIFY(summary->text().contains("скорость задаёт сама камера"));
        summary->window()->close();

        Form3->Edit1->setText("16");
        Form3->previewProgramAction->trigger();
        QCOMPARE(app.errorBoxes.size(), 1);
        QVERIFY2(app.errorBoxes.first().contains("Число шагов: 16 is outside 1..15"),
                 qPrintable(app.errorBoxes.first()));
    }
};

QTEST_MAIN(tst_ProgramFiles)
#include "tst_ProgramFiles.moc"

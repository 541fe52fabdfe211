#include "core/ControlInput.h"
#include "core/ProgramFile.h"

#include <QtTest>

namespace {

const QByteArray kBom = "\xEF\xBB\xBF";

// A valid file of three steps, written out by hand as a lab would.
const QByteArray kThreeSteps = kBom + QByteArray("Программа Kalvora;1\r\n"
                                                 "Программа №;2\r\n"
                                                 "Число шагов;3\r\n"
                                                 "Число циклов;125\r\n"
                                                 "Название;Термоцикл\r\n"
                                                 "Описание;\"холод; тепло\"\r\n"
                                                 "№ шага;Т, °С;Стабилизация, чч;Стабилизация, мм;"
                                                 "Выход,чч;Выход,мм\r\n"
                                                 "1;-40;1;30;0;45\r\n"
                                                 "2;85;2;0;1;0\r\n"
                                                 "3;25;0;10;0;0\r\n");

QByteArray Replaced(const QByteArray &from, const QByteArray &to) {
    QByteArray bytes = kThreeSteps;
    return bytes.replace(from, to);
}

const QByteArray kTitles =
    "№ шага;Т, °С;Стабилизация, чч;Стабилизация, мм;Выход,чч;Выход,мм\n";

} // namespace

Q_DECLARE_METATYPE(ProgramTexts)

class tst_ProgramFile : public QObject {
    Q_OBJECT

private slots:
    void readsTheWindowsTexts() {
        const ProgramFileRead read = ReadProgramFile(kThreeSteps, "p.csv");
        QCOMPARE(read.error, QString());
        QVERIFY(read.program);
        QCOMPARE(read.programNumber, 2);
        QCOMPARE(read.program->steps, 3);
        QCOMPARE(read.program->cycles, 125);
        QCOMPARE(read.program->rows[0].temperature, -40);
        QCOMPARE(read.program->rows[0].timeToModeMinutes, 45);
        QCOMPARE(read.program->rows[1].timeToModeHours, 1);
        QCOMPARE(read.content->texts.name, QStringLiteral("Термоцикл"));
        QCOMPARE(read.content->texts.description, QStringLiteral("холод; тепло"));
        QVERIFY(!read.content->draft);
    }

    // What the window shows comes back exactly, odd texts and drafts included.
    void writeThenReadGivesTheSameTexts_data() {
        QTest::addColumn<ProgramTexts>("texts");
        QTest::addColumn<bool>("draft");
        ProgramTexts valid;
        valid.programNumber = "7";
        valid.steps = "2";
        valid.cycles = "999";
        valid.name = "Имя; с \"кавычками\"";
        valid.description = "  отступ";
        valid.cells[0] = {"-85", " 7", "59", "99", "0"};
        valid.cells[1] = {"180", "0", "0", "0", "0"};
        valid.cells[4] = {"не шаг", "", "", "", ""}; // beyond N: kept, as the window keeps it
        QTest::newRow("valid, text after the last step") << valid << false;
        ProgramTexts draft;
        draft.steps = "3";
        draft.cells[0] = {"500", "x", "", ";", "\""};
        QTest::newRow("draft, nothing chosen") << draft << true;
    }
    void writeThenReadGivesTheSameTexts() {
        QFETCH(ProgramTexts, texts);
        QFETCH(bool, draft);
        const QByteArray bytes = WriteProgramFile(texts, draft);
        QVERIFY(bytes.startsWith(kBom));
        QVERIFY(LooksLikeProgramFile(bytes));
        const ProgramFileRead read = ReadProgramFile(bytes, "p.csv");
        QVERIFY2(read.content, qPrintable(read.error));
        QCOMPARE(read.content->draft, draft);
        const ProgramTexts &back = read.content->texts;
        QCOMPARE(back.programNumber, texts.programNumber);
        QCOMPARE(back.steps, texts.steps);
        QCOMPARE(back.cycles, texts.cycles);
        QCOMPARE(back.name, texts.name);
        QCOMPARE(back.description, texts.description);
        for (int row = 0; row < kMaxSteps; ++row)
            for (int column = 0; column < kStepColumns; ++column)
                QCOMPARE(back.cells[row][column], texts.cells[row][column]);
        QCOMPARE(bool(read.program), !draft);
    }

    void badFilesAreNamedByFileLineAndCell_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("formSound"); // the texts could fill the window as a draft
        QTest::addColumn<QString>("error");
        QTest::newRow("cell out of range")
            << Replaced("2;85;", "2;181;") << true
            << "p.csv:9: step 2, Т, °С: 181 is outside -85..180";
        QTest::newRow("minutes out of range")
            << Replaced("3;25;0;10;0;0", "3;25;0;60;0;0") << true
            << "p.csv:10: step 3, Стабилизация, мм: 60 is outside 0..59";
        QTest::newRow("cell that is no number")
            << Replaced("1;-40;1;30;0;45", "1;-40;1;30;-;45") << true
            << "p.csv:8: step 1, Выход,чч: '-' is not a valid integer value";
        QTest::newRow("empty cell") << Replaced("1;-40;1;30;0;45", "1;-40;;30;0;45") << true
                                    << "p.csv:8: step 1, Стабилизация, чч: empty";
        QTest::newRow("missing cell") << Replaced("2;85;2;0;1;0", "2;85;2;0;1") << false
                                      << "p.csv:9: step 2, Выход,мм: the cell is missing";
        QTest::newRow("missing step") << Replaced("3;25;0;10;0;0\r\n", "") << true
                                      << "p.csv: step 3, Т, °С: the step is missing";
        QTest::newRow("cycles out of range") << Replaced("циклов;125", "циклов;1000") << true
                                             << "p.csv:4: Число циклов: 1000 is outside 1..999";
        QTest::newRow("steps zero") << Replaced("шагов;3", "шагов;0") << true
                                    << "p.csv:3: Число шагов: 0 is outside 1..15";
        QTest::newRow("program number out of range")
            << Replaced("Программа №;2", "Программа №;16") << true
            << "p.csv:2: Программа №: 16 is outside 1..15";
        QByteArray commas = kThreeSteps;
        commas.replace(';', ',');
        QTest::newRow("wrong separator")
            << commas << false << "p.csv:1: cells are separated by \";\", this line has \",\"";
        QByteArray sixteen = kThreeSteps;
        for (int step = 4; step <= 16; ++step)
            sixteen += QByteArray::number(step) + ";20;0;1;0;1\r\n";
        QTest::newRow("too many steps")
            << sixteen << false << "p.csv:23: a program has at most 15 steps";
        QTest::newRow("empty file") << QByteArray() << false << "p.csv: the file is empty";
        QTest::newRow("only a BOM") << kBom << false << "p.csv: the file is empty";
        QTest::newRow("not a program")
            << QByteArray("Дата;Время;Т\n01.02.2026;10:00;20\n") << false
            << "p.csv:1: not a Kalvora program: the first line is not \"Программа Kalvora;1\"";
        QTest::newRow("plain table of steps") << QByteArray("20,1,30,0,45\n") << false
                                              << "p.csv:1: not a Kalvora program: the first "
                                                 "line is not \"Программа Kalvora;1\"";
        QTest::newRow("no title row")
            << Replaced(kTitles.trimmed() + "\r\n", "") << false
            << "p.csv:7: the table's title row \"" + QString::fromUtf8(kTitles.trimmed()) +
                   "\" is missing";
        QTest::newRow("later format") << Replaced("Kalvora;1", "Kalvora;2") << false
                                      << "p.csv:1: format version \"2\"; this program reads "
                                         "version 1";
        QTest::newRow("step numbers out of order")
            << Replaced("2;85;", "3;85;") << false << "p.csv:9: № шага: 2 expected, found \"3\"";
        QTest::newRow("unknown leading line") << Replaced("Название;", "Имя;") << false
                                              << "p.csv:5: unknown line \"Имя\"";
    }
    void badFilesAreNamedByFileLineAndCell() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, formSound);
        QFETCH(QString, error);
        const ProgramFileRead read = ReadProgramFile(bytes, "p.csv");
        QCOMPARE(read.error, error);
        QVERIFY(!read.program);
        QCOMPARE(bool(read.content), formSound);
    }

    // The file's verdict is the window's: rows after N are not examined, blanks before a
    // number pass, a cell of blanks fails.
    void verdictIsTheWindows_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("garbage after N") << Replaced("шагов;3", "шагов;2")
                                                .replace("3;25;0;10;0;0", "3;x;;;;")
                                         << true;
        QTest::newRow("blank then digit") << Replaced("1;-40;1;", "1;\" 7\";1;") << true;
        QTest::newRow("blanks only") << Replaced("1;-40;1;", "1;\"  \";1;") << false;
        QTest::newRow("hexadecimal as the window reads it")
            << Replaced("2;85;", "2;$55;") << true;
    }
    void verdictIsTheWindows() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const ProgramFileRead read = ReadProgramFile(bytes, "p.csv");
        const ProgramTexts &texts = read.content->texts;
        bool windowValid = false;
        try {
            windowValid = CheckProgramInput(texts.steps, texts.cycles, texts.cells).has_value();
        } catch (...) {
        }
        QCOMPARE(windowValid, valid);
        QCOMPARE(bool(read.program), valid);
    }
};

QTEST_APPLESS_MAIN(tst_ProgramFile)
#include "tst_ProgramFile.moc"

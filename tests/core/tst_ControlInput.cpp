#include "core/ControlInput.h"
#include "core/Errors.h"

#include <QtTest>

using Rows = QList<QStringList>;

namespace {

enum class Outcome { Valid, Invalid, ConversionFails };

StepCellTexts Cells(const Rows &rows) {
    StepCellTexts cells;
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < kStepColumns && c < rows[r].size(); ++c)
            cells[r][c] = rows[r][c];
    return cells;
}

const QStringList kGoodRow{"20", "1", "30", "0", "45"};

// Three good rows with one cell replaced.
Rows WithCell(int row, int column, const QString &text) {
    Rows rows{kGoodRow, kGoodRow, kGoodRow};
    rows[row - 1][column - 1] = text;
    return rows;
}

QString ConversionMessage(const QString &text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

} // namespace

class tst_ControlInput : public QObject {
    Q_OBJECT

private slots:
    void program_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("cycles");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("failedText");
        const Rows good{kGoodRow, kGoodRow, kGoodRow};
        const Rows unreadable{{"x", "x", "x", "x", "x"}};
        const auto valid = Outcome::Valid;
        const auto invalid = Outcome::Invalid;
        const auto fails = Outcome::ConversionFails;

        QTest::newRow("nothing entered") << ""
                                         << "" << Rows{} << invalid << "";
        QTest::newRow("steps empty, cycles not converted") << ""
                                                           << "x" << good << invalid << "";
        QTest::newRow("cycles empty, steps not converted") << "x"
                                                           << "" << good << invalid << "";
        QTest::newRow("three good rows") << "3"
                                         << "10" << good << valid << "";
        QTest::newRow("rows after N are ignored")
            << "2"
            << "10" << Rows{kGoodRow, kGoodRow, {"abc", "", "999", "-", "x"}} << valid << "";
        QTest::newRow("empty cell in row 2, column 4")
            << "3"
            << "10" << WithCell(2, 4, "") << invalid << "";
        QTest::newRow("steps 0, no row examined") << "0"
                                                  << "10" << unreadable << invalid << "";
        QTest::newRow("steps 16, no row examined") << "16"
                                                   << "10" << unreadable << invalid << "";
        QTest::newRow("steps -1, no row examined") << "-1"
                                                   << "10" << unreadable << invalid << "";
        QTest::newRow("steps not a number") << "3a"
                                            << "10" << good << fails << "3a";
        QTest::newRow("cycles 1") << "3"
                                  << "1" << good << valid << "";
        QTest::newRow("cycles 999") << "3"
                                    << "999" << good << valid << "";
        QTest::newRow("cycles 0") << "3"
                                  << "0" << good << invalid << "";
        QTest::newRow("cycles 1000") << "3"
                                     << "1000" << good << invalid << "";
        QTest::newRow("cycles a lone minus") << "3"
                                             << "-" << good << fails << "-";
        QTest::newRow("temperature 180") << "3"
                                         << "1" << WithCell(1, 1, "180") << valid << "";
        QTest::newRow("temperature -85") << "3"
                                         << "1" << WithCell(3, 1, "-85") << valid << "";
        QTest::newRow("temperature 181") << "3"
                                         << "1" << WithCell(1, 1, "181") << invalid << "";
        QTest::newRow("temperature -86") << "3"
                                         << "1" << WithCell(2, 1, "-86") << invalid << "";
        QTest::newRow("stabilisation hours 99") << "3"
                                                << "1" << WithCell(1, 2, "99") << valid << "";
        QTest::newRow("stabilisation hours 100") << "3"
                                                 << "1" << WithCell(1, 2, "100") << invalid << "";
        QTest::newRow("stabilisation minutes 59") << "3"
                                                  << "1" << WithCell(1, 3, "59") << valid << "";
        QTest::newRow("stabilisation minutes 60") << "3"
                                                  << "1" << WithCell(1, 3, "60") << invalid << "";
        QTest::newRow("time to mode hours 100") << "3"
                                                << "1" << WithCell(2, 4, "100") << invalid << "";
        QTest::newRow("time to mode minutes 60") << "3"
                                                 << "1" << WithCell(2, 5, "60") << invalid << "";
        for (int column = 2; column <= 5; ++column)
            QTest::addRow("-1 in column %d", column)
                << "3"
                << "1" << WithCell(3, column, "-1") << invalid << "";
        QTest::newRow("blank before a digit converts")
            << "3"
            << "1" << WithCell(2, 2, " 7") << valid << "";
        QTest::newRow("blanks only are not empty")
            << "3"
            << "1" << WithCell(2, 2, "   ") << fails << "   ";
        QTest::newRow("1-2 in a cell") << "3"
                                       << "1" << WithCell(1, 5, "1-2") << fails << "1-2";
        QTest::newRow("conversion failure after an out-of-bound value")
            << "2"
            << "10" << Rows{{"500", "1", "1", "1", "1"}, {"20", "1", "x", "0", "45"}} << fails
            << "x";
        QTest::newRow("conversion failure after an empty cell")
            << "1"
            << "10" << Rows{{"", "y", "1", "1", "1"}} << fails << "y";
        QTest::newRow("conversion failure after bad cycles")
            << "2"
            << "0" << Rows{kGoodRow, {"20", "1", "30", "0", "z"}} << fails << "z";
        QTest::newRow("row cells come before the cycles")
            << "1"
            << "c" << Rows{{"20", "1", "30", "0", "z"}} << fails << "z";
        QTest::newRow("cycles converted after the first row")
            << "1"
            << "c" << Rows{kGoodRow} << fails << "c";
    }
    void program() {
        QFETCH(QString, steps);
        QFETCH(QString, cycles);
        QFETCH(Rows, rows);
        QFETCH(Outcome, outcome);
        QFETCH(QString, failedText);
        try {
            const auto input = CheckProgramInput(steps, cycles, Cells(rows));
            QCOMPARE(input.has_value() ? Outcome::Valid : Outcome::Invalid, outcome);
        } catch (const ConversionError &error) {
            QCOMPARE(Outcome::ConversionFails, outcome);
            QCOMPARE(error.message(), ConversionMessage(failedText));
        }
    }

    void programValues() {
        const Rows rows{{"-40", "1", "30", "0", "45"},
                        {" 7", "99", "59", "98", "0"},
                        {"180", "0", "0", "0", "1"},
                        {"junk"}};
        const auto input = CheckProgramInput("3", "125", Cells(rows));
        QVERIFY(input.has_value());
        QCOMPARE(input->steps, 3);
        QCOMPARE(input->cycles, 125);
        const auto values = [](const StepValues &s) {
            return QList<int>{s.temperature, s.stabilisationHours, s.stabilisationMinutes,
                              s.timeToModeHours, s.timeToModeMinutes};
        };
        QCOMPARE(values(input->rows[0]), QList<int>({-40, 1, 30, 0, 45}));
        QCOMPARE(values(input->rows[1]), QList<int>({7, 99, 59, 98, 0}));
        QCOMPARE(values(input->rows[2]), QList<int>({180, 0, 0, 0, 1}));
    }

    void fifteenSteps() {
        const auto input = CheckProgramInput("15", "1", Cells(Rows(kMaxSteps, kGoodRow)));
        QVERIFY(input.has_value());
        QCOMPARE(input->rows[14].timeToModeMinutes, 45);
    }

    void setPoint_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("value");
        QTest::newRow("empty") << "" << Outcome::Invalid << 0;
        QTest::newRow("180") << "180" << Outcome::Valid << 180;
        QTest::newRow("-85") << "-85" << Outcome::Valid << -85;
        QTest::newRow("0") << "0" << Outcome::Valid << 0;
        QTest::newRow("blank before digits") << " 25" << Outcome::Valid << 25;
        QTest::newRow("181") << "181" << Outcome::Invalid << 0;
        QTest::newRow("-86") << "-86" << Outcome::Invalid << 0;
        QTest::newRow("lone minus") << "-" << Outcome::ConversionFails << 0;
        QTest::newRow("two minus signs") << "--5" << Outcome::ConversionFails << 0;
    }
    void setPoint() {
        QFETCH(QString, text);
        QFETCH(Outcome, outcome);
        QFETCH(int, value);
        try {
            const auto temperature = CheckSetPointInput(text);
            QCOMPARE(temperature.has_value() ? Outcome::Valid : Outcome::Invalid, outcome);
            if (temperature)
                QCOMPARE(*temperature, value);
        } catch (const ConversionError &error) {
            QCOMPARE(Outcome::ConversionFails, outcome);
            QCOMPARE(error.message(), ConversionMessage(text));
        }
    }

    void keystroke_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("0") << int{'0'} << true;
        QTest::newRow("9") << int{'9'} << true;
        QTest::newRow("minus") << int{'-'} << true;
        QTest::newRow("backspace") << 8 << true;
        QTest::newRow("plus") << int{'+'} << false;
        QTest::newRow("letter") << int{'a'} << false;
        QTest::newRow("blank") << int{' '} << false;
        QTest::newRow("slash, below 0") << int{'/'} << false;
        QTest::newRow("colon, above 9") << int{':'} << false;
        QTest::newRow("enter") << 13 << false;
        QTest::newRow("nul") << 0 << false;
        QTest::newRow("digit 0 plus 256") << 0x130 << false;
        QTest::newRow("Arabic-Indic zero") << 0x0660 << false;
        QTest::newRow("Cyrillic letter") << 0x0416 << false;
    }
    void keystroke() {
        QFETCH(int, code);
        QFETCH(bool, allowed);
        QCOMPARE(KeystrokeAllowed(static_cast<char16_t>(code)), allowed);
    }

    void keysWithAFunction_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("keepsItsFunction");
        QTest::newRow("Tab") << 9 << true;
        QTest::newRow("Return") << 13 << true;
        QTest::newRow("Escape") << 27 << true;
        QTest::newRow("Delete") << 127 << true;
        QTest::newRow("Backspace, filtered as allowed") << 8 << false;
        QTest::newRow("Ctrl+A") << 1 << false;
        QTest::newRow("Ctrl+C") << 3 << false;
        QTest::newRow("Ctrl+J, line feed") << 10 << false;
        QTest::newRow("Ctrl+V") << 22 << false;
        QTest::newRow("Ctrl+X") << 24 << false;
        QTest::newRow("Ctrl+Z") << 26 << false;
        QTest::newRow("digit") << int{'5'} << false;
    }
    void keysWithAFunction() {
        QFETCH(int, code);
        QFETCH(bool, keepsItsFunction);
        QCOMPARE(KeystrokeKeepsItsFunction(static_cast<char16_t>(code)), keepsItsFunction);
    }
};

QTEST_APPLESS_MAIN(tst_ControlInput)
#include "tst_ControlInput.moc"

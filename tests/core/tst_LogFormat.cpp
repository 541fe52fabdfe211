#include "HexBytes.h"
#include "core/LogFormat.h"

#include <QtTest>

namespace {

QString Spaces(int count) { return QString(count, QLatin1Char(' ')); }

// 1-based column at which `value` starts in `record`, searching after column `from`.
int ColumnOf(const QString &record, const QString &value, int from) {
    return static_cast<int>(record.indexOf(value, from)) + 1;
}

} // namespace

class tst_LogFormat : public QObject {
    Q_OBJECT

private slots:
    void header() {
        const QString header = LogHeader();
        QVERIFY(header.endsWith(QStringLiteral("\r\n")));
        QCOMPARE(header.size() - 2, 125);
        QCOMPARE(header.chopped(2),
                 QString("Системное время;    Текущая температура,°C;    Текущая программа;    "
                         "Текущий шаг(всего шагов);    Текущий цикл(всего циклов);"));
        QVERIFY(header.contains(QChar(0x00B0)));
    }

    void headerInWindows1251() {
        const QByteArray bytes = ToWindows1251(LogHeader());
        const QString expected =
            "D1 E8 F1 F2 E5 EC ED EE E5 20 E2 F0 E5 EC FF 3B 20 20 20 20 D2 E5 EA F3 F9 E0 FF 20 "
            "F2 E5 EC EF E5 F0 E0 F2 F3 F0 E0 2C B0 43 3B 20 20 20 20 D2 E5 EA F3 F9 E0 FF 20 EF "
            "F0 EE E3 F0 E0 EC EC E0 3B 20 20 20 20 D2 E5 EA F3 F9 E8 E9 20 F8 E0 E3 28 E2 F1 E5 "
            "E3 EE 20 F8 E0 E3 EE E2 29 3B 20 20 20 20 D2 E5 EA F3 F9 E8 E9 20 F6 E8 EA EB 28 E2 "
            "F1 E5 E3 EE 20 F6 E8 EA EB EE E2 29 3B 0D 0A";
        QCOMPARE(HexText(std::vector<std::uint8_t>(bytes.begin(), bytes.end())), expected);
    }

    void windows1251_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bytes");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("ASCII and line end") << "a;1\r\n"
                                            << "61 3B 31 0D 0A";
        QTest::newRow("file name letters and number sign") << "ЖЫМ№"
                                                           << "C6 DB CC B9";
        QTest::newRow("degree sign") << "°C"
                                     << "B0 43";
        QTest::newRow("yo letters") << "Ёё"
                                    << "A8 B8";
        QTest::newRow("euro and em dash") << "€—"
                                          << "88 97";
        QTest::newRow("masculine ordinal is not in the code page") << "ºC"
                                                                   << "3F 43";
        QTest::newRow("conversion goes on after a missing character") << "a中b"
                                                                      << "61 3F 62";
        QTest::newRow("surrogate pair is one character") << "x😀y"
                                                         << "78 3F 79";
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + "z"
                                        << "3F 7A";
    }
    void windows1251() {
        QFETCH(QString, text);
        QFETCH(QString, bytes);
        const QByteArray converted = ToWindows1251(text);
        QCOMPARE(HexText(std::vector<std::uint8_t>(converted.begin(), converted.end())), bytes);
    }

    void recordExample() {
        const QString expected = Spaces(4) + "14:05:33;" + Spaces(11) + "23,5;" + Spaces(33) +
                                 "2;" + Spaces(30) + "3(12);" + Spaces(34) + "2(5);" + Spaces(5) +
                                 ";" + Spaces(3) + "\r\n";
        QCOMPARE(ComposeLogRecord("14:05:33", "23,5", "2", "3(12)", "2(5)"), expected);
    }

    void recordEmptyTexts() {
        const QString expected = Spaces(4) + "14:05:33;" + Spaces(11) + ";" + Spaces(37) + ";" +
                                 Spaces(31) + ";" + Spaces(39) + ";" + Spaces(5) + ";" + Spaces(3) +
                                 "\r\n";
        QCOMPARE(ComposeLogRecord("14:05:33", "", "", "", ""), expected);
    }

    void recordColumns_data() {
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("temperature");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("shift");
        QTest::newRow("short values") << "14:05:33"
                                      << "5"
                                      << "0"
                                      << "1(1)" << 0;
        QTest::newRow("longer values") << "14:05:33"
                                       << "-99,9"
                                       << "19"
                                       << "19(19)" << 0;
        QTest::newRow("seven-character time") << "9:05:33"
                                              << "23,5"
                                              << "2"
                                              << "3(12)" << -1;
    }
    // Values start at fixed columns whatever their own length.
    void recordColumns() {
        QFETCH(QString, time);
        QFETCH(QString, temperature);
        QFETCH(QString, program);
        QFETCH(QString, step);
        QFETCH(int, shift);
        const QString record = ComposeLogRecord(time, temperature, program, step, "CYC");
        QCOMPARE(ColumnOf(record, temperature, 12), 25 + shift);
        QCOMPARE(ColumnOf(record, program + ";", 25 + shift + temperature.size()), 63 + shift);
        QCOMPARE(ColumnOf(record, step + ";", 63 + shift + program.size()), 95 + shift);
        QCOMPARE(ColumnOf(record, "CYC", 0), 135 + shift);
    }

    void recordOverlongTexts_data() {
        QTest::addColumn<int>("temperatureLength");
        QTest::addColumn<int>("programLength");
        QTest::addColumn<int>("stepLength");
        QTest::newRow("exactly the column widths") << 37 << 31 << 39;
        QTest::newRow("beyond the column widths") << 40 << 50 << 45;
    }
    void recordOverlongTexts() {
        QFETCH(int, temperatureLength);
        QFETCH(int, programLength);
        QFETCH(int, stepLength);
        const QString temperature(temperatureLength, QLatin1Char('t'));
        const QString program(programLength, QLatin1Char('p'));
        const QString step(stepLength, QLatin1Char('s'));
        const QString expected = Spaces(4) + "1:02:03;" + Spaces(11) + temperature + ";" + program +
                                 ";" + step + ";" + "c;" + Spaces(5) + ";" + Spaces(3) + "\r\n";
        QCOMPARE(ComposeLogRecord("1:02:03", temperature, program, step, "c"), expected);
    }

    void fileTimeStamp_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("day.month.year") << "09.12.2017"
                                        << "14:05:33"
                                        << "09.12.2017 14_05_33";
        QTest::newRow("slashes of the C locale") << "12/09/17"
                                                 << "14:05:33"
                                                 << "12_09_17 14_05_33";
        QTest::newRow("other characters stay") << "9-12-2017"
                                               << "2:05:33 PM"
                                               << "9-12-2017 2_05_33 PM";
    }
    void fileTimeStamp() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, stamp);
        QCOMPARE(FileTimeStamp(date, time), stamp);
    }

    void fileName() {
        const QString name =
            NewLogFileName("/opt/kalvora/", FileTimeStamp("09.12.2017", "14:05:33"));
        QCOMPARE(name, QString("/opt/kalvora/ЖЫМ№> 09.12.2017 14_05_33.txt"));
        QCOMPARE(WithChamberNumber(name, 3), QString("/opt/kalvora/ЖЫМ№3 09.12.2017 14_05_33.txt"));
        QCOMPARE(WithChamberNumber(name, 250),
                 QString("/opt/kalvora/ЖЫМ№250 09.12.2017 14_05_33.txt"));
    }

    void chamberNumberReplacesEveryPlaceholderOnce() {
        QCOMPARE(WithChamberNumber("a>b>", 0), QString("a0b0"));
        const QString numbered = WithChamberNumber("/x/ЖЫМ> t.txt", 7);
        QCOMPARE(WithChamberNumber(numbered, 9), numbered);
        // A folder named with ">" is legal on Linux and stays as it is.
        QCOMPARE(WithChamberNumber("/data/a>b/ЖЫМ№> t.txt", 12), QString("/data/a>b/ЖЫМ№12 t.txt"));
    }
};

QTEST_APPLESS_MAIN(tst_LogFormat)
#include "tst_LogFormat.moc"

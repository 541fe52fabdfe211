#include "core/NumberText.h"

#include <QtTest>
#include <clocale>

class tst_NumberText : public QObject {
    Q_OBJECT

private slots:
    void floatToText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("text");
        QTest::newRow("tenths with comma") << 23.5 << ","
                                           << "23,5";
        QTest::newRow("tenths with point") << 23.5 << "."
                                           << "23.5";
        QTest::newRow("whole value has no separator") << 20.0 << ","
                                                      << "20";
        QTest::newRow("negative whole") << -40.0 << ","
                                        << "-40";
        QTest::newRow("negative tenths") << 999 / -10.0 << ","
                                         << "-99,9";
        QTest::newRow("one tenth") << 1 / 10.0 << ","
                                   << "0,1";
        QTest::newRow("zero") << 0.0 << ","
                              << "0";
        QTest::newRow("negative zero") << -0.0 << ","
                                       << "0";
        QTest::newRow("largest reading") << 249.9 << ","
                                         << "249,9";
        QTest::newRow("fifteen significant digits") << 1.0 / 3 << ","
                                                    << "0,333333333333333";
        QTest::newRow("large integer in plain decimal") << 6553.5 * 10 << ","
                                                        << "65535";
    }
    void floatToText() {
        QFETCH(double, value);
        QFETCH(QString, separator);
        QFETCH(QString, text);
        QCOMPARE(FloatToText(value, separator.front()), text);
    }

    // Under Russian settings the C library itself prints a comma; the separator must not be
    // doubled or lost.
    void floatToTextIgnoresTheCLocale() {
        const char *chosen = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
        if (!chosen)
            chosen = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        if (!chosen)
            QSKIP("no locale with a decimal comma is installed");
        const QString text = FloatToText(23.5, QLatin1Char('.'));
        std::setlocale(LC_NUMERIC, "C");
        QCOMPARE(text, QString("23.5"));
    }

    void twoDigitText_data() {
        QTest::addColumn<unsigned>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0u << "00";
        QTest::newRow("5") << 5u << "05";
        QTest::newRow("9") << 9u << "09";
        QTest::newRow("10") << 10u << "10";
        QTest::newRow("123") << 123u << "123";
    }
    void twoDigitText() {
        QFETCH(unsigned, value);
        QFETCH(QString, text);
        QCOMPARE(TwoDigitText(value), text);
    }
};

QTEST_APPLESS_MAIN(tst_NumberText)
#include "tst_NumberText.moc"

#include "core/Errors.h"
#include "core/IntegerText.h"

#include <QtTest>
#include <limits>

class tst_IntegerText : public QObject {
    Q_OBJECT

private slots:
    void accepted_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "7" << 7;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("leading blank") << " 7" << 7;
        QTest::newRow("leading blanks and minus") << "  -12" << -12;
        QTest::newRow("plus sign") << "+5" << 5;
        QTest::newRow("leading zeros") << "000000000000042" << 42;
        QTest::newRow("largest") << "2147483647" << std::numeric_limits<int>::max();
        QTest::newRow("smallest") << "-2147483648" << std::numeric_limits<int>::min();
        QTest::newRow("dollar hex") << "$FF" << 255;
        QTest::newRow("lower-case hex digits") << "$ff" << 255;
        QTest::newRow("x prefix") << "x1A" << 26;
        QTest::newRow("X prefix") << "X1a" << 26;
        QTest::newRow("0x prefix") << "0x7FFFFFFF" << std::numeric_limits<int>::max();
        QTest::newRow("0X prefix") << "0X10" << 16;
        QTest::newRow("hex pattern of all ones") << "$FFFFFFFF" << -1;
        QTest::newRow("hex pattern of the sign bit")
            << "$80000000" << std::numeric_limits<int>::min();
        QTest::newRow("sign applies to the pattern") << "-$1" << -1;
        QTest::newRow("negated all-ones pattern") << "-$FFFFFFFF" << 1;
        QTest::newRow("blanks, sign and hex") << " +0x10" << 16;
        QTest::newRow("leading zeros are not significant") << "$000000001" << 1;
        QTest::newRow("nine digits of which eight significant") << "$0FFFFFFFF" << -1;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("10,000 characters of leading zeros") << QString(9999, u'0') + u'7' << 7;
        QTest::newRow("0x prefix, leading zero digit") << "0x0B4" << 180;
        QTest::newRow("negated hex") << "-$B4" << -180;
        QTest::newRow("32-bit pattern below zero") << "$FFFFFFB4" << -76;
    }
    void accepted() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(StrToInt(text), value);
    }

    void rejected_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks only") << "   ";
        QTest::newRow("minus alone") << "-";
        QTest::newRow("plus alone") << "+";
        QTest::newRow("two signs") << "--1";
        QTest::newRow("sign after blank after sign") << "- 1";
        QTest::newRow("minus inside") << "1-2";
        QTest::newRow("trailing blank") << "7 ";
        QTest::newRow("leading tab") << "\t7";
        QTest::newRow("letters") << "abc";
        QTest::newRow("letter x alone") << "x";
        QTest::newRow("dollar alone") << "$";
        QTest::newRow("0x alone") << "0x";
        QTest::newRow("hex digit without prefix") << "1F";
        QTest::newRow("decimal comma") << "2,5";
        QTest::newRow("one above the largest") << "2147483648";
        QTest::newRow("one below the smallest") << "-2147483649";
        QTest::newRow("very long number") << "99999999999999999999";
        QTest::newRow("10,000 nines") << QString(10000, u'9');
        QTest::newRow("2^32 + 180 (no wrap to 180)") << "4294967476";
        QTest::newRow("nine hex digits (no truncation to $B4)") << "$1000000B4";
        QTest::newRow("trailing minus") << "7-";
        QTest::newRow("exponent") << "1e2";
        QTest::newRow("nine significant hex digits") << "$123456789";
        QTest::newRow("non-hex after prefix") << "$FG";
        QTest::newRow("blank after prefix") << "$ 1";
        QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("\u0661\u0662");
        QTest::newRow("full-width digit") << QString::fromUtf8("\uFF17");
        QTest::newRow("no-break space before digit") << QString::fromUtf8("\u00A07");
    }
    void rejected() {
        QFETCH(QString, text);
        try {
            StrToInt(text);
            QFAIL("no error");
        } catch (const ConversionError &error) {
            QCOMPARE(error.message(), QString("'%1' is not a valid integer value").arg(text));
        }
    }

    void messageQuotesTheWholeText() {
        try {
            StrToInt(QStringLiteral("  12a"));
            QFAIL("no error");
        } catch (const ConversionError &error) {
            QCOMPARE(error.message(), QString("'  12a' is not a valid integer value"));
            QCOMPARE(QString::fromStdString(error.what()), error.message());
        }
    }

    void intToText_data() {
        QTest::addColumn<qlonglong>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0LL << "0";
        QTest::newRow("no grouping") << 65535LL << "65535";
        QTest::newRow("negative") << -12LL << "-12";
    }
    void intToText() {
        QFETCH(qlonglong, value);
        QFETCH(QString, text);
        QCOMPARE(IntToText(value), text);
    }
};

QTEST_APPLESS_MAIN(tst_IntegerText)
#include "tst_IntegerText.moc"

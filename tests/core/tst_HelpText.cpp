// The help layout: nothing past 80 columns, running text refilled, lists and examples kept.
#include "core/HelpText.h"

#include <QtTest>

class tst_HelpText : public QObject {
    Q_OBJECT

private slots:
    void wrap_data();
    void wrap();
    void optionsFitTheWidth();
};

void tst_HelpText::wrap_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short stays") << "one two" << 20 << "one two";
    QTest::newRow("running text refilled")
        << "aaa bbb\nccc ddd eee" << 11 << "aaa bbb ccc\nddd eee";
    QTest::newRow("paragraphs kept apart") << "aaa\n\nbbb" << 20 << "aaa\n\nbbb";
    QTest::newRow("indented lines keep their breaks")
        << "list:\n  one\n  two" << 20 << "list:\n  one\n  two";
    QTest::newRow("long indented line continues under its indent")
        << "  aaa bbb ccc ddd" << 10 << "  aaa bbb\n    ccc\n    ddd";
    QTest::newRow("a word wider than the line stands alone")
        << "a /very/long/path b" << 8 << "a\n/very/long/path\nb";
    QTest::newRow("exactly the width") << "aaaa bbbb" << 9 << "aaaa bbbb";
}

void tst_HelpText::wrap() {
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(WrapHelpText(text, width), expected);
}

void tst_HelpText::optionsFitTheWidth() {
    const QString longWords = QStringLiteral("word ").repeated(40).trimmed();
    const QList<HelpOption> options{
        {{QStringLiteral("h"), QStringLiteral("help")}, QString(), QStringLiteral("Show this help.")},
        {{QStringLiteral("port")}, QStringLiteral("P"), longWords},
        {{QStringLiteral("a-very-long-option-name-indeed")}, QStringLiteral("VALUE"), longWords},
    };
    const QString text = HelpOptionsText(options);
    const QStringList lines = text.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("Options:"));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("  -h, --help")));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("Show this help.")));
    for (const QString &line : lines) {
        QVERIFY2(line.size() <= kHelpWidth, qPrintable(line));
        QVERIFY2(!line.endsWith(QLatin1Char(' ')), qPrintable(line));
    }
    // Every word of every description is there, in order.
    QCOMPARE(text.count(QStringLiteral("word")), 80);
    // A name wider than the column stands on its own line, its description below.
    const qsizetype at = lines.indexOf(QStringLiteral("  --a-very-long-option-name-indeed VALUE"));
    QVERIFY(at > 0);
    QVERIFY(lines.at(at + 1).startsWith(QStringLiteral("      ")));
}

QTEST_APPLESS_MAIN(tst_HelpText)
#include "tst_HelpText.moc"

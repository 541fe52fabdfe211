// Times as the logger's files write them, read by one parser for the readings CSV files, the
// events journal and the page's "since"; the epoch those times count from; the BOM rule of the
// UTF-8 files.
#include "core/IsoTime.h"
#include "core/Utf8Bom.h"

#include <QDateTime>
#include <QtTest>

class tst_IsoTime : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void epoch_data();
    void epoch();
    void writtenTimesReadBack();
    void utf8Bom_data();
    void utf8Bom();
};

void tst_IsoTime::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("moment"); // "yyyy-MM-dd HH:mm:ss", empty: rejected
    QTest::addColumn<int>("milliseconds");
    QTest::addColumn<int>("offset"); // seconds; -1: none written
    QTest::newRow("plus") << "2026-12-10T14:03:04+03:00"
                          << "2026-12-10 14:03:04" << 0 << 10800;
    QTest::newRow("minus, half hour") << "2026-12-10T14:03:04-09:30"
                                      << "2026-12-10 14:03:04" << 0 << -34200;
    QTest::newRow("Z") << "2026-12-10T14:03:04Z"
                       << "2026-12-10 14:03:04" << 0 << 0;
    QTest::newRow("no offset") << "2026-12-10T14:03:04"
                               << "2026-12-10 14:03:04" << 0 << -1;
    QTest::newRow("fraction") << "2026-12-10T14:03:04.5+01:00"
                              << "2026-12-10 14:03:04" << 500 << 3600;
    QTest::newRow("long fraction cut") << "2026-12-10T14:03:04.123987Z"
                                       << "2026-12-10 14:03:04" << 123 << 0;
    QTest::newRow("leap day") << "2024-02-29T00:00:00+00:00"
                              << "2024-02-29 00:00:00" << 0 << 0;
    QTest::newRow("not a leap day") << "2026-02-29T00:00:00+00:00"
                                    << "" << 0 << 0;
    QTest::newRow("fraction without digits") << "2026-12-10T14:03:04.+03:00"
                                             << "" << 0 << 0;
    QTest::newRow("blank for T") << "2026-12-10 14:03:04+03:00"
                                 << "" << 0 << 0;
    QTest::newRow("hour 24") << "2026-12-10T24:00:00+03:00"
                             << "" << 0 << 0;
    QTest::newRow("no seconds") << "2026-12-10T14:03+03:00"
                                << "" << 0 << 0;
    QTest::newRow("offset without colon") << "2026-12-10T14:03:04+0300"
                                          << "" << 0 << 0;
    QTest::newRow("offset hours 24") << "2026-12-10T14:03:04+24:00"
                                     << "" << 0 << 0;
    QTest::newRow("offset minutes 60") << "2026-12-10T14:03:04+03:60"
                                       << "" << 0 << 0;
    QTest::newRow("blank after") << "2026-12-10T14:03:04+03:00 "
                                 << "" << 0 << 0;
    QTest::newRow("lower z") << "2026-12-10T14:03:04z"
                             << "" << 0 << 0;
    QTest::newRow("signed year") << "+026-12-10T14:03:04Z"
                                 << "" << 0 << 0;
    QTest::newRow("Arabic-Indic digit")
        << QString::fromUtf8("2026-12-10T14:03:0\xd9\xa1Z") << "" << 0 << 0;
    QTest::newRow("empty") << ""
                           << "" << 0 << 0;
}

void tst_IsoTime::parse() {
    QFETCH(QString, text);
    QFETCH(QString, moment);
    QFETCH(int, milliseconds);
    QFETCH(int, offset);
    // The CSV reader parses bytes, the others text: both say the same of every row.
    for (const auto &read : {ParseIsoTime(QStringView(text)), ParseIsoTime(text.toUtf8())}) {
        QCOMPARE(read.has_value(), !moment.isEmpty());
        if (!read)
            continue;
        QCOMPARE(QDateTime(read->date, read->time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 moment);
        QCOMPARE(read->time.msec(), 0);
        QCOMPARE(read->milliseconds, milliseconds);
        QCOMPARE(read->utcOffsetSeconds.value_or(-1), offset);
    }
}

void tst_IsoTime::epoch_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("the epoch") << "1970-01-01T00:00:00Z" << qint64(0);
    QTest::newRow("the epoch east of Greenwich") << "1970-01-01T03:00:00+03:00" << qint64(0);
    QTest::newRow("before the epoch") << "1969-12-31T23:59:59Z" << qint64(-1);
    QTest::newRow("a journal line's") << "2026-12-10T15:20:12+03:00" << qint64(1796905212);
}

void tst_IsoTime::epoch() {
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    const auto read = ParseIsoTime(text);
    QVERIFY(read && read->utcOffsetSeconds);
    QCOMPARE(EpochSeconds(read->date, read->time, *read->utcOffsetSeconds), seconds);
    QCOMPARE(QDateTime(read->date, read->time, Qt::OffsetFromUTC, *read->utcOffsetSeconds)
                 .toSecsSinceEpoch(),
             seconds);
}

void tst_IsoTime::writtenTimesReadBack() {
    const QDate date(2026, 3, 29);
    const QTime time(2, 30, 15);
    for (const int offset : {0, 3600, -16200, 50400, -43200}) {
        const QString text = IsoLocalTime(date, time, offset);
        const auto read = ParseIsoTime(text);
        QVERIFY2(read, qPrintable(text));
        QCOMPARE(read->date, date);
        QCOMPARE(read->time, time);
        QCOMPARE(read->utcOffsetSeconds, std::optional<int>(offset));
    }
    QCOMPARE(IsoLocalTime(date, time, 0), QStringLiteral("2026-03-29T02:30:15+00:00"));
    QCOMPARE(IsoLocalTime(date, time, -16200), QStringLiteral("2026-03-29T02:30:15-04:30"));
}

void tst_IsoTime::utf8Bom_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("with") << QByteArray("\xEF\xBB\xBF{\"time\"") << QByteArray("{\"time\"");
    QTest::newRow("without") << QByteArray("{\"time\"") << QByteArray("{\"time\"");
    QTest::newRow("only the mark") << QByteArray("\xEF\xBB\xBF") << QByteArray();
    QTest::newRow("one mark taken")
        << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << QByteArray("\xEF\xBB\xBFx");
    QTest::newRow("part of a mark") << QByteArray("\xEF\xBBx") << QByteArray("\xEF\xBBx");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_IsoTime::utf8Bom() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(WithoutUtf8Bom(bytes), text);
}

QTEST_APPLESS_MAIN(tst_IsoTime)
#include "tst_IsoTime.moc"

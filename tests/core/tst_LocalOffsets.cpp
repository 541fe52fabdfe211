// The offsets a local time can have, around clock changes of real zones.
#include "core/LocalOffsets.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

class tst_LocalOffsets : public QObject {
    Q_OBJECT

private slots:
    void offsets_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("local"); // only its date and time count
        QTest::addColumn<QList<int>>("expected");
        const QByteArray berlin("Europe/Berlin");
        auto at = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
        };
        QTest::newRow("winter") << berlin << at(2026, 12, 10, 14, 3, 4) << QList<int>{3600};
        QTest::newRow("summer") << berlin << at(2026, 7, 1, 2, 30, 0) << QList<int>{7200};
        QTest::newRow("autumn: before the repeated hour")
            << berlin << at(2026, 10, 25, 1, 59, 59) << QList<int>{7200};
        QTest::newRow("autumn: the repeated hour begins")
            << berlin << at(2026, 10, 25, 2, 0, 0) << QList<int>{7200, 3600};
        QTest::newRow("autumn: the repeated hour ends")
            << berlin << at(2026, 10, 25, 2, 59, 59) << QList<int>{7200, 3600};
        QTest::newRow("autumn: after it")
            << berlin << at(2026, 10, 25, 3, 0, 0) << QList<int>{3600};
        QTest::newRow("autumn: 02:30 the day before")
            << berlin << at(2026, 10, 24, 2, 30, 0) << QList<int>{7200};
        QTest::newRow("spring: before the skipped hour")
            << berlin << at(2026, 3, 29, 1, 59, 59) << QList<int>{3600};
        QTest::newRow("spring: a skipped time keeps the offset before")
            << berlin << at(2026, 3, 29, 2, 30, 0) << QList<int>{3600};
        QTest::newRow("spring: after") << berlin << at(2026, 3, 29, 3, 0, 0) << QList<int>{7200};
        // Half an hour back at 02:00 local: 01:30 to 02:00 comes twice.
        QTest::newRow("a half-hour change") << QByteArray("Australia/Lord_Howe")
                                            << at(2026, 4, 5, 1, 45, 0) << QList<int>{39600, 37800};
        QTest::newRow("a half-hour change: just before")
            << QByteArray("Australia/Lord_Howe") << at(2026, 4, 5, 1, 29, 59) << QList<int>{39600};
        QTest::newRow("west of UTC, autumn")
            << QByteArray("America/New_York") << at(2026, 11, 1, 1, 15, 0)
            << QList<int>{-4 * 3600, -5 * 3600};
        QTest::newRow("UTC") << QByteArray("UTC") << at(2026, 10, 25, 2, 30, 0) << QList<int>{0};
    }
    void offsets() {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, local);
        QFETCH(QList<int>, expected);
        const QTimeZone timeZone(zone);
        QVERIFY2(timeZone.isValid(), zone.constData());
        LocalOffsets offsets([&timeZone](qint64 seconds) {
            return timeZone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()));
        });
        QCOMPARE(offsets.Of(local.date(), local.time()), expected);
        // Again from the cache.
        QCOMPARE(offsets.Of(local.date(), local.time()), expected);
        QCOMPARE(offsets.Repeated(local.date(), local.time()), expected.size() > 1);
    }
};

QTEST_GUILESS_MAIN(tst_LocalOffsets)
#include "tst_LocalOffsets.moc"

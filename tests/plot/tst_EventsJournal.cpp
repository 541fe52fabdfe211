// The logger's events journal read back: the documented example, damaged and unknown lines.
#include "FileBytes.h"
#include "core/EventsJournal.h"

#include <QtTest>

class tst_EventsJournal : public QObject {
    Q_OBJECT

private slots:
    void documentedExample() {
        const QByteArray bytes =
            "{\"time\":\"2026-12-10T14:03:04+03:00\",\"event\":\"started\",\"version\":\"1.1.0\","
            "\"port\":\"COM1\",\"device\":\"/dev/ttyUSB0\",\"chambers\":[1,2,3],\"options\":"
            "{\"period\":4,\"record-every\":60,\"csv\":true}}\n"
            "{\"time\":\"2026-12-10T15:20:12+03:00\",\"event\":\"chamber_lost\",\"chamber\":2,"
            "\"reason\":\"silence\"}\n"
            "{\"time\":\"2026-12-10T15:31:40+03:00\",\"event\":\"chamber_back\",\"chamber\":2,"
            "\"outage_seconds\":688}\n"
            "{\"time\":\"2026-12-10T15:40:00+03:00\",\"event\":\"alarm_raised\",\"chamber\":2,"
            "\"kind\":\"high\",\"value\":null,\"limit\":30.5,\"message\":\"Камера №2\"}\n"
            "{\"time\":\"2026-12-10T16:00:00Z\",\"event\":\"some_later_event\",\"x\":1}\n"
            "{\"time\":\"2026-12-10T18:00:00+03:00\",\"event\":\"stopped\",\"signal\":\"SIGTERM\"}";
        const auto journal = ReadEventsJournal(bytes);
        QVERIFY(journal);
        QCOMPARE(journal->damagedLines, 0);
        QCOMPARE(journal->events.size(), 6);
        const StoredJournalEvent &started = journal->events[0];
        QCOMPARE(started.event, QStringLiteral("started"));
        QCOMPARE(started.version, QStringLiteral("1.1.0"));
        QCOMPARE(started.date, QDate(2026, 12, 10));
        QCOMPARE(started.time, QTime(14, 3, 4));
        QCOMPARE(started.utcOffsetSeconds, 3 * 3600);
        QCOMPARE(started.instant,
                 QDateTime(QDate(2026, 12, 10), QTime(11, 3, 4), Qt::UTC).toSecsSinceEpoch());
        QCOMPARE(started.chamber, std::nullopt);
        QCOMPARE(journal->events[1].chamber, std::optional<int>(2));
        QCOMPARE(journal->events[1].reason, QStringLiteral("silence"));
        QCOMPARE(journal->events[2].outageSeconds, std::optional<qint64>(688));
        QCOMPARE(journal->events[3].value, std::nullopt);
        QCOMPARE(journal->events[3].limit, std::optional<double>(30.5));
        QCOMPARE(journal->events[3].message, QStringLiteral("Камера №2"));
        QCOMPARE(journal->events[4].utcOffsetSeconds, 0);
        QCOMPARE(journal->events[5].signal, QStringLiteral("SIGTERM"));
        QCOMPARE(journal->events[5].line, 6);
    }

    void damagedLines_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("events");
        QTest::addColumn<int>("damaged");
        QTest::addColumn<int>("firstDamaged");
        const QByteArray good = "{\"time\":\"2026-12-10T14:03:04+03:00\",\"event\":\"stopped\","
                                "\"signal\":\"SIGINT\"}\n";
        QTest::newRow("torn last line")
            << good + good + "{\"time\":\"2026-12-10T14:0" << 2 << 1 << 3;
        QTest::newRow("time without its offset")
            << good + "{\"time\":\"2026-12-10T14:03:04\",\"event\":\"stopped\"}\n" + good << 2 << 1
            << 2;
        QTest::newRow("no event, not an object, not JSON")
            << good + "{\"time\":\"2026-12-10T14:03:04+03:00\"}\n[1,2]\nnoise\n\n"
            << 1 << 3 << 2;
        QTest::newRow("CR LF line ends") << QByteArray(good).replace("\n", "\r\n") << 1 << 0 << 0;
    }
    void damagedLines() {
        QFETCH(QByteArray, bytes);
        const auto journal = ReadEventsJournal(bytes);
        QVERIFY(journal);
        QTEST(int(journal->events.size()), "events");
        QTEST(journal->damagedLines, "damaged");
        QTEST(journal->firstDamagedLine, "firstDamaged");
    }

    void notAJournal() {
        QVERIFY(!ReadEventsJournal("time,current_temperature\n"));
        QVERIFY(!ReadEventsJournal(""));
        QVERIFY(!ReadEventsJournal("[{\"time\":1}]\n"));
    }
};

QTEST_GUILESS_MAIN(tst_EventsJournal)
#include "tst_EventsJournal.moc"

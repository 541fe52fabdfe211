#include "LogFixture.h"
#include "core/LogReader.h"
#include "core/ReadingsCsv.h"

#include <QtTest>

namespace {

const QByteArray kCliHeader =
    "time,current_temperature,set_temperature,time_to_mode,stabilisation_time,"
    "time_to_mode_set_point,stabilisation_set_point,program,step,steps,cycle,cycles\n";

// A fixed zone for the tests: +03:00 everywhere, as on a machine in Moscow.
int Moscow(const QDate &, const QTime &) { return 3 * 3600; }

} // namespace

class tst_ReadingsCsv : public QObject {
    Q_OBJECT

private slots:
    void plotCsvOfASmallLog() {
        LogReadOptions options;
        options.startDate = QDate(2026, 12, 10);
        options.startTime = QTime(23, 58, 0);
        const auto log = ReadLog(LogBytes({{"23:59:04", "-40,5", "2", "3(12)", "2(5)"},
                                           {"00:00:04", "", "", "", ""},
                                           {"00:01:04", "0,1", "12", "", "10(10)"}}),
                                 options);
        QVERIFY(log);
        const QByteArray expected = "time,temperature,program,step,steps,cycle,cycles\n"
                                    "2026-12-10T23:59:04+03:00,-40.5,2,3,12,2,5\n"
                                    "2026-12-11T00:00:04+03:00,,,,,,\n"
                                    "2026-12-11T00:01:04+03:00,0.1,12,,,10,10\n";
        QCOMPARE(PlotCsv(log->readings, Moscow), expected);
    }

    void offsets_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTC") << 0 << "2026-01-02T03:04:05+00:00";
        QTest::newRow("east, half hour") << 5 * 3600 + 1800 << "2026-01-02T03:04:05+05:30";
        QTest::newRow("west") << -(3 * 3600 + 2700) << "2026-01-02T03:04:05-03:45";
    }
    void offsets() {
        QFETCH(int, offset);
        QFETCH(QString, text);
        QCOMPARE(IsoLocalTime(QDate(2026, 1, 2), QTime(3, 4, 5), offset), text);
    }

    // A reading that carries its own offset (from a readings CSV) keeps it.
    void ownOffsetWins() {
        Reading reading = ReadingAt(QDate(2026, 7, 1), QTime(12, 0, 0));
        reading.utcOffsetSeconds = 2 * 3600;
        reading.temperature = 21;
        QCOMPARE(PlotCsv({reading}, Moscow),
                 QByteArray("time,temperature,program,step,steps,cycle,cycles\n"
                            "2026-07-01T12:00:00+02:00,21,,,,,\n"));
    }

    void readsTheToolsCsv() {
        const QByteArray bytes = kCliHeader +
                                 "2026-12-10T14:03:04+03:00,23.5,25,00:10,00:05,00:30,00:15,2,3,"
                                 "12,2,5\n"
                                 "2026-12-10T14:03:08+03:00,,-40,,,,,,,,,\r\n"
                                 "2026-12-10T14:03:12Z,1e2,0.5,,,,,1,1,1,1,1\n"
                                 "2026-12-10T14:03:16+03:00,23.5,25\n"
                                 "2026-13-10T14:03:20+03:00,23.5,25,,,,,,,,,\n"
                                 "2026-12-10T14:03:24+03:00,23,5,25,,,,,,,,,\n"
                                 "2026-12-10T14:03:28+03:00,24,25,1:05,,,,,,,,\n"
                                 "2026-12-10T14:03:32+03:00,24,25,,,01:60,,,,,,\n"
                                 "2026-12-10T14:03:36+03:00,24,25,,,,,,,,,";
        const auto file = ReadReadingsCsv(bytes);
        QVERIFY(file);
        QCOMPARE(Summaries(file->readings),
                 (QStringList{"2026-12-10 14:03:04 23.5 set25 p2 s3/12 c2/5",
                              "2026-12-10 14:03:08 - set-40 p- s-/- c-/-",
                              "2026-12-10 14:03:12 100 set0.5 p1 s1/1 c1/1"}));
        QCOMPARE(file->readings[0].utcOffsetSeconds, std::optional<int>(3 * 3600));
        QCOMPARE(file->readings[2].utcOffsetSeconds, std::optional<int>(0));
        QCOMPARE(file->readings[0].timeToModeMinutes, std::optional<int>(10));
        QCOMPARE(file->readings[0].timeToModeSetPointMinutes, std::optional<int>(30));
        QCOMPARE(file->readings[0].stabilisationMinutes, std::optional<int>(5));
        QCOMPARE(file->readings[1].timeToModeMinutes, std::nullopt);
        // Too few cells, an impossible month, a decimal comma, times not "hh:mm", a torn last
        // row.
        QCOMPARE(file->damagedLines, 6);
        QCOMPARE(file->firstDamagedLine, 5);
    }

    void notReadingsCsv_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("the plot tool's own CSV")
            << QByteArray("time,temperature,program,step,steps,cycle,cycles\n");
        QTest::newRow("a log") << LogBytes({{"14:05:33", "23,5", "", "", ""}});
    }
    void notReadingsCsv() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!ReadReadingsCsv(bytes));
    }

    void byteOrderMarkAndCrLfHeader() {
        const auto file = ReadReadingsCsv("\xEF\xBB\xBF" + kCliHeader.chopped(1) + "\r\n" +
                                          "2026-12-10T14:03:04+03:00,23.5,25,,,,,,,,,\r\n");
        QVERIFY(file);
        QCOMPARE(file->readings.size(), 1);
        QCOMPARE(file->damagedLines, 0);
    }
};

QTEST_GUILESS_MAIN(tst_ReadingsCsv)
#include "tst_ReadingsCsv.moc"

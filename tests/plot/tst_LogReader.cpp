#include "LogFixture.h"
#include "core/LogReader.h"
#include "core/MomentPattern.h"
#include "core/ReadingsCsv.h"

#include <QTimeZone>
#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QTime>)
Q_DECLARE_METATYPE(LogReadOptions)
Q_DECLARE_METATYPE(RegionalSettings)

namespace {

RegionalSettings Russian() { return RegionalSettings{}; } // %d.%m.%Y, %H:%M:%S, comma

RegionalSettings Formats(const QString &date, const QString &time, QChar separator) {
    return RegionalSettings{date, time, separator};
}

LogReadOptions StartingAt(const QDate &date, std::optional<QTime> time,
                          const RegionalSettings &settings = Russian()) {
    LogReadOptions options;
    options.settings = settings;
    options.startDate = date;
    options.startTime = time;
    return options;
}

UtcOffsetAt Berlin() {
    const QTimeZone zone("Europe/Berlin");
    return [zone](qint64 seconds) {
        return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()));
    };
}

// One log of a series: "dd.MM.yyyy HH:mm:ss" of its name, then its records' times.
struct SeriesFile {
    QString name;
    QStringList times;
};

// Each record's temperature is its place in its file, so that the files stay told apart.
QList<QList<Reading>> ReadSeries(const QList<SeriesFile> &files, const UtcOffsetAt &zone) {
    QList<QList<Reading>> logs;
    for (const SeriesFile &file : files) {
        QList<Record> records;
        for (const QString &time : file.times)
            records.append({time, QString::number(records.size() + 1), "", "", ""});
        const QDateTime named = QDateTime::fromString(file.name, "dd.MM.yyyy HH:mm:ss");
        LogReadOptions options = StartingAt(named.date(), named.time());
        options.utcOffsetAt = zone;
        const auto read = ReadLog(LogBytes(records), options);
        logs.append(read ? read->readings : QList<Reading>());
    }
    return logs;
}

// "2026-10-25T02:59:05+02:00 4" for each reading.
QStringList Moments(const QList<Reading> &readings) {
    QStringList texts;
    for (const Reading &reading : readings)
        texts.append(
            IsoLocalTime(reading.date, reading.time, reading.utcOffsetSeconds.value_or(-1)) +
            QLatin1Char(' ') + Optional(reading.temperature));
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(QList<SeriesFile>)

class tst_LogReader : public QObject {
    Q_OBJECT

private slots:
    // The exact bytes of a small log, spelt out, so that reader and writer cannot agree on a
    // mistake: header (with "°" as B0), empty line, one record, empty line.
    void readsLiteralWindows1251Bytes() {
        QByteArray bytes = ToWindows1251(LogHeader());
        QCOMPARE(bytes.mid(39, 3), QByteArray("\x2C\xB0\x43")); // ",°C"
        bytes += "\r\n";
        bytes += "    14:05:33;           23,5;" + QByteArray(33, ' ') + "2;" +
                 QByteArray(30, ' ') + "3(12);" + QByteArray(34, ' ') + "2(5);     ;   \r\n\r\n";
        const auto file = ReadLog(bytes, StartingAt(QDate(2017, 12, 9), QTime(14, 5, 0)));
        QVERIFY(file);
        QCOMPARE(Summaries(file->readings), QStringList{"2017-12-09 14:05:33 23.5 p2 s3/12 c2/5"});
        QCOMPARE(file->damagedLines, 0);
    }

    void records_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<LogReadOptions>("options");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("damaged");
        QTest::addColumn<int>("firstDamaged");
        const QDate day(2017, 12, 9);
        const QDate newYearsEve(2017, 12, 31);

        QTest::newRow("normal") << LogBytes({{"14:05:33", "23,5", "2", "3(12)", "2(5)"},
                                             {"14:06:33", "-40,1", "2", "4(12)", "2(5)"},
                                             {"14:07:33", "100", "2", "4(12)", "2(5)"}})
                                << StartingAt(day, QTime(14, 5, 0))
                                << QStringList{"2017-12-09 14:05:33 23.5 p2 s3/12 c2/5",
                                               "2017-12-09 14:06:33 -40.1 p2 s4/12 c2/5",
                                               "2017-12-09 14:07:33 100 p2 s4/12 c2/5"}
                                << 0 << 0;
        QTest::newRow("records cross midnight")
            << LogBytes({{"23:58:10", "25", "1", "1(2)", "1(1)"},
                         {"23:59:10", "25", "1", "1(2)", "1(1)"},
                         {"00:00:10", "24,9", "1", "2(2)", "1(1)"},
                         {"00:01:10", "24,8", "1", "2(2)", "1(1)"}})
            << StartingAt(newYearsEve, QTime(23, 57, 0))
            << QStringList{"2017-12-31 23:58:10 25 p1 s1/2 c1/1",
                           "2017-12-31 23:59:10 25 p1 s1/2 c1/1",
                           "2018-01-01 00:00:10 24.9 p1 s2/2 c1/1",
                           "2018-01-01 00:01:10 24.8 p1 s2/2 c1/1"}
            << 0 << 0;
        QTest::newRow("ticked before midnight, first record after it")
            << LogBytes({{"00:00:03", "25", "", "", ""}, {"00:01:03", "25", "", "", ""}})
            << StartingAt(day, QTime(23, 59, 58))
            << QStringList{"2017-12-10 00:00:03 25 p- s-/- c-/-",
                           "2017-12-10 00:01:03 25 p- s-/- c-/-"}
            << 0 << 0;
        // Composed a few seconds before the ticking and written as the file's first record:
        // it stays on the name's day instead of jumping a day ahead.
        QTest::newRow("first record a little before the name's time")
            << LogBytes({{"14:05:20", "25", "", "", ""}, {"14:06:20", "25", "", "", ""}})
            << StartingAt(day, QTime(14, 5, 33))
            << QStringList{"2017-12-09 14:05:20 25 p- s-/- c-/-",
                           "2017-12-09 14:06:20 25 p- s-/- c-/-"}
            << 0 << 0;
        QTest::newRow("several days: each earlier record is a new day")
            << LogBytes({{"12:00:00", "1", "", "", ""},
                         {"06:00:00", "2", "", "", ""},
                         {"05:00:00", "3", "", "", ""}})
            << StartingAt(day, QTime(11, 59, 0))
            << QStringList{"2017-12-09 12:00:00 1 p- s-/- c-/-",
                           "2017-12-10 06:00:00 2 p- s-/- c-/-",
                           "2017-12-11 05:00:00 3 p- s-/- c-/-"}
            << 0 << 0;
        QTest::newRow("empty figures before the first accepted reply")
            << LogBytes({{"14:05:33", "", "", "", ""}, {"14:06:33", "23,5", "", "", "1(5)"}})
            << StartingAt(day, QTime(14, 5, 0))
            << QStringList{"2017-12-09 14:05:33 - p- s-/- c-/-",
                           "2017-12-09 14:06:33 23.5 p- s-/- c1/5"}
            << 0 << 0;
        QTest::newRow("repeated records and headers of earlier versions are skipped")
            << LogBytes({{"14:05:33", "23,5", "2", "3(12)", "2(5)"}}) +
                   ToWindows1251(LogHeader() + "\r\n") +
                   RecordBytes({"14:05:33", "23,5", "2", "3(12)", "2(5)"}) +
                   RecordBytes({"14:05:33", "23,5", "2", "3(12)", "2(5)"}) +
                   RecordBytes({"14:07:33", "24", "2", "3(12)", "2(5)"})
            << StartingAt(day, QTime(14, 5, 0))
            << QStringList{"2017-12-09 14:05:33 23.5 p2 s3/12 c2/5",
                           "2017-12-09 14:07:33 24 p2 s3/12 c2/5"}
            << 0 << 0;
        QTest::newRow("torn last line")
            << LogBytes({{"14:05:33", "23,5", "2", "3(12)", "2(5)"}}) +
                   RecordBytes({"14:06:33", "23,6", "2", "3(12)", "2(5)"}).left(40)
            << StartingAt(day, QTime(14, 5, 0))
            << QStringList{"2017-12-09 14:05:33 23.5 p2 s3/12 c2/5"} << 1 << 5;
        QTest::newRow("last record without its line end")
            << LogBytes({{"14:05:33", "23,5", "", "", ""}}) +
                   RecordBytes({"14:06:33", "23,6", "", "", ""}).chopped(4)
            << StartingAt(day, QTime(14, 5, 0))
            << QStringList{"2017-12-09 14:05:33 23.5 p- s-/- c-/-"} << 1 << 5;
        QTest::newRow("garbage and shifted columns in the middle are counted")
            << LogBytes({{"14:05:33", "23,5", "", "", ""}}) +
                   QByteArray("\x00\xff garbage\r\n", 12) +
                   RecordBytes({"14:06:33", "23,5", "", "", ""}).mid(1) +
                   RecordBytes({"14:07:33", "23,x", "", "", ""}) +
                   RecordBytes({"25:07:33", "23", "", "", ""}) +
                   RecordBytes({"14:08:33", "23,5", "2", "3", ""}) +
                   RecordBytes({"14:09:33", "23,7", "", "", ""})
            << StartingAt(day, QTime(14, 5, 0))
            << QStringList{"2017-12-09 14:05:33 23.5 p- s-/- c-/-",
                           "2017-12-09 14:09:33 23.7 p- s-/- c-/-"}
            << 5 << 5;
        QTest::newRow("header only")
            << LogBytes({}) << StartingAt(day, QTime(14, 5, 0)) << QStringList{} << 0 << 0;
        QTest::newRow("12-hour times and a decimal point")
            << LogBytes({{"11:59:00 PM", "23.5", "", "", ""}, {"12:00:00 AM", "-0.5", "", "", ""}})
            << StartingAt(day, QTime(23, 58, 0), Formats("%m/%d/%y", "%r", '.'))
            << QStringList{"2017-12-09 23:59:00 23.5 p- s-/- c-/-",
                           "2017-12-10 00:00:00 -0.5 p- s-/- c-/-"}
            << 0 << 0;
        QTest::newRow("a comma read where the point is regional")
            << LogBytes({{"14:05:33", "23,5", "", "", ""}})
            << StartingAt(day, QTime(14, 5, 0), Formats("%d.%m.%Y", "%H:%M:%S", '.'))
            << QStringList{"2017-12-09 14:05:33 23.5 p- s-/- c-/-"} << 0 << 0;
        QTest::newRow("times of another format are damaged, not misread")
            << LogBytes({{"14:05:33", "23,5", "", "", ""}})
            << StartingAt(day, QTime(14, 5, 0), Formats("%d.%m.%Y", "%I:%M:%S %p", ','))
            << QStringList{} << 1 << 3;
    }
    void records() {
        QFETCH(QByteArray, bytes);
        QFETCH(LogReadOptions, options);
        QFETCH(QStringList, expected);
        QFETCH(int, damaged);
        QFETCH(int, firstDamaged);
        const auto file = ReadLog(bytes, options);
        QVERIFY(file);
        QCOMPARE(Summaries(file->readings), expected);
        QCOMPARE(file->damagedLines, damaged);
        QCOMPARE(file->firstDamagedLine, firstDamaged);
    }

    void notALog_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("a text file") << QByteArray("hello\r\nworld\r\n");
        QTest::newRow("header in UTF-8, not Windows-1251") << (LogHeader() + "\r\n").toUtf8();
        QTest::newRow("torn header") << ToWindows1251(LogHeader()).left(60);
        QTest::newRow("records without a header")
            << RecordBytes({"14:05:33", "23,5", "2", "3(12)", "2(5)"});
    }
    void notALog() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!ReadLog(bytes, StartingAt(QDate(2017, 12, 9), QTime(14, 5, 0))));
    }

    void twoFilesJoined() {
        const QDate day(2017, 12, 9);
        const auto later =
            ReadLog(LogBytes({{"10:00:00", "30", "", "", ""}, {"10:01:00", "31", "", "", ""}}),
                    StartingAt(day.addDays(1), QTime(9, 59, 0)));
        const auto earlier =
            ReadLog(LogBytes({{"23:58:00", "20", "", "", ""}, {"23:59:00", "21", "", "", ""}}),
                    StartingAt(day, QTime(23, 57, 0)));
        QVERIFY(later && earlier);
        QCOMPARE(Summaries(JoinReadings({later->readings, earlier->readings})),
                 (QStringList{"2017-12-09 23:58:00 20 p- s-/- c-/-",
                              "2017-12-09 23:59:00 21 p- s-/- c-/-",
                              "2017-12-10 10:00:00 30 p- s-/- c-/-",
                              "2017-12-10 10:01:00 31 p- s-/- c-/-"}));
    }

    // A chamber's day-by-day logs as one series: dates and offsets from the file names, the
    // records and the zone's clock changes (Europe/Berlin), in the order of the moments.
    void series_data() {
        QTest::addColumn<QList<SeriesFile>>("files");
        QTest::addColumn<QStringList>("expected");
        const SeriesFile beforeFallBack{"25.10.2026 00:00:05",
                                        {"00:00:05", "01:59:05", "02:30:05", "02:59:05"}};
        const QStringList beforeFallBackMoments = {
            "2026-10-25T00:00:05+02:00 1", "2026-10-25T01:59:05+02:00 2",
            "2026-10-25T02:30:05+02:00 3", "2026-10-25T02:59:05+02:00 4"};
        const SeriesFile afterFallBack{"25.10.2026 02:00:05", {"02:00:05", "02:30:05", "03:00:05"}};
        const QStringList afterFallBackMoments = {"2026-10-25T02:00:05+01:00 1",
                                                  "2026-10-25T02:30:05+01:00 2",
                                                  "2026-10-25T03:00:05+01:00 3"};

        QTest::newRow("midnight")
            << QList<SeriesFile>{{"10.12.2026 14:03:04", {"14:03:04", "23:59:04"}},
                                 {"11.12.2026 00:00:04", {"00:00:04", "00:01:04"}}}
            << QStringList{"2026-12-10T14:03:04+01:00 1", "2026-12-10T23:59:04+01:00 2",
                           "2026-12-11T00:00:04+01:00 1", "2026-12-11T00:01:04+01:00 2"};
        QTest::newRow("weekend outage: each file on its own day")
            << QList<SeriesFile>{{"11.12.2026 08:00:00", {"08:00:00", "18:00:00"}},
                                 {"14.12.2026 08:00:10", {"08:00:10", "08:01:10"}}}
            << QStringList{"2026-12-11T08:00:00+01:00 1", "2026-12-11T18:00:00+01:00 2",
                           "2026-12-14T08:00:10+01:00 1", "2026-12-14T08:01:10+01:00 2"};
        QTest::newRow("autumn: split where the clock went back")
            << QList<SeriesFile>{beforeFallBack, afterFallBack}
            << beforeFallBackMoments + afterFallBackMoments;
        QTest::newRow("autumn: the files given the other way round")
            << QList<SeriesFile>{afterFallBack, beforeFallBack}
            << beforeFallBackMoments + afterFallBackMoments;
        QTest::newRow("autumn: the file after the change ends within the hour")
            << QList<SeriesFile>{beforeFallBack, {"25.10.2026 02:00:05", {"02:00:05", "02:40:05"}}}
            << beforeFallBackMoments +
                   QStringList{"2026-10-25T02:00:05+01:00 1", "2026-10-25T02:40:05+01:00 2"};
        QTest::newRow("autumn: the file before the change began within the hour")
            << QList<SeriesFile>{{"25.10.2026 02:30:00", {"02:30:05", "02:59:05"}}, afterFallBack}
            << QStringList{"2026-10-25T02:30:05+02:00 1", "2026-10-25T02:59:05+02:00 2"} +
                   afterFallBackMoments;
        QTest::newRow("autumn: both files within the hour")
            << QList<SeriesFile>{{"25.10.2026 02:00:05", {"02:00:05", "02:40:05"}},
                                 {"25.10.2026 02:30:00", {"02:30:05", "02:59:05"}}}
            << QStringList{"2026-10-25T02:30:05+02:00 1", "2026-10-25T02:59:05+02:00 2",
                           "2026-10-25T02:00:05+01:00 1", "2026-10-25T02:40:05+01:00 2"};
        // A logger started seconds before the step back: neither file reaches out of the hour.
        QTest::newRow("autumn: the new file seconds after the step back")
            << QList<SeriesFile>{{"25.10.2026 02:59:50", {"02:59:50", "02:59:58"}},
                                 {"25.10.2026 02:00:00", {"02:00:00", "02:00:08"}}}
            << QStringList{"2026-10-25T02:59:50+02:00 1", "2026-10-25T02:59:58+02:00 2",
                           "2026-10-25T02:00:00+01:00 1", "2026-10-25T02:00:08+01:00 2"};
        QTest::newRow("autumn: a file alone within the hour is taken as the first pass")
            << QList<SeriesFile>{{"25.10.2026 02:10:00", {"02:10:05", "02:20:05"}}}
            << QStringList{"2026-10-25T02:10:05+02:00 1", "2026-10-25T02:20:05+02:00 2"};
        QTest::newRow("autumn: a file within the hour that overlaps none is the first pass")
            << QList<SeriesFile>{{"25.10.2026 02:10:00", {"02:10:05", "02:20:05"}},
                                 {"25.10.2026 02:30:00", {"02:30:05", "02:59:05"}},
                                 afterFallBack}
            << QStringList{"2026-10-25T02:10:05+02:00 1", "2026-10-25T02:20:05+02:00 2",
                           "2026-10-25T02:30:05+02:00 1", "2026-10-25T02:59:05+02:00 2"} +
                   afterFallBackMoments;
        QTest::newRow("autumn: the window's one file through the change")
            << QList<SeriesFile>{{"24.10.2026 23:58:00",
                                  {"23:59:00", "01:59:00", "02:59:00", "02:00:00", "02:30:00",
                                   "03:00:00", "02:30:00"}}}
            << QStringList{"2026-10-24T23:59:00+02:00 1", "2026-10-25T01:59:00+02:00 2",
                           "2026-10-25T02:59:00+02:00 3", "2026-10-25T02:00:00+01:00 4",
                           "2026-10-25T02:30:00+01:00 5", "2026-10-25T03:00:00+01:00 6",
                           "2026-10-26T02:30:00+01:00 7"};
        QTest::newRow("autumn: the window's file begun in the second pass")
            << QList<SeriesFile>{{"25.10.2026 02:10:00", {"02:10:05", "02:50:05", "03:10:05"}}}
            << QStringList{"2026-10-25T02:10:05+01:00 1", "2026-10-25T02:50:05+01:00 2",
                           "2026-10-25T03:10:05+01:00 3"};
        QTest::newRow("spring: split where the clock went forward")
            << QList<SeriesFile>{{"29.03.2026 00:00:05", {"00:00:05", "01:59:05"}},
                                 {"29.03.2026 03:00:05", {"03:00:05", "03:01:05"}}}
            << QStringList{"2026-03-29T00:00:05+01:00 1", "2026-03-29T01:59:05+01:00 2",
                           "2026-03-29T03:00:05+02:00 1", "2026-03-29T03:01:05+02:00 2"};
        QTest::newRow("spring: the window's one file through the change")
            << QList<SeriesFile>{{"28.03.2026 23:58:00", {"23:59:00", "01:59:00", "03:00:00"}}}
            << QStringList{"2026-03-28T23:59:00+01:00 1", "2026-03-29T01:59:00+01:00 2",
                           "2026-03-29T03:00:00+02:00 3"};
    }
    void series() {
        QFETCH(QList<SeriesFile>, files);
        QFETCH(QStringList, expected);
        const UtcOffsetAt zone = Berlin();
        QVERIFY(zone(0) == 3600);
        QList<QList<Reading>> logs = ReadSeries(files, zone);
        SettleRepeatedHour(logs, zone);
        QCOMPARE(Moments(JoinReadings(logs, zone)), expected);
    }

    // Readings CSV rows carry their offsets: the repeated hour goes by them, not interleaved,
    // and a row without one gets the zone's.
    void csvRowsJoinedByMoment() {
        const QByteArray header = ReadingsCsvHeader() + "\n";
        const auto first = ReadReadingsCsv(header + "2026-10-25T02:30:00+02:00,1,,,,,,,,,,\n"
                                                    "2026-10-25T02:59:00+02:00,2,,,,,,,,,,\n");
        const auto second = ReadReadingsCsv(header + "2026-10-25T02:00:00+01:00,3,,,,,,,,,,\n"
                                                     "2026-10-25T02:31:00+01:00,4,,,,,,,,,,\n"
                                                     "2026-10-25T04:00:00,5,,,,,,,,,,\n");
        QVERIFY(first && second);
        QCOMPARE(Moments(JoinReadings({second->readings, first->readings}, Berlin())),
                 (QStringList{"2026-10-25T02:30:00+02:00 1", "2026-10-25T02:59:00+02:00 2",
                              "2026-10-25T02:00:00+01:00 3", "2026-10-25T02:31:00+01:00 4",
                              "2026-10-25T04:00:00+01:00 5"}));
    }

    // A log and the readings CSV written beside it hold the same moments: one point each.
    void sameMomentsBecomeOne() {
        Reading fromLog = ReadingAt(QDate(2017, 12, 9), QTime(14, 5, 33));
        fromLog.temperature = 23.5;
        fromLog.program = 2;
        Reading fromCsv = fromLog;
        fromCsv.setTemperature = 25;
        fromCsv.utcOffsetSeconds = 10800;
        const auto joined = JoinReadings({{fromLog}, {fromCsv}});
        QCOMPARE(joined.size(), 1);
        QCOMPARE(joined.first().setTemperature, std::optional<double>(25));
        QCOMPARE(joined.first().utcOffsetSeconds, std::optional<int>(10800));
    }

    void fileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<RegionalSettings>("settings");
        QTest::addColumn<QString>("expected"); // "chamber date time", "none" when not a log's name

        QTest::newRow("day.month.year")
            << "ЖЫМ№3 09.12.2017 14_05_33.txt" << Russian() << "3 2017-12-09 14:05:33";
        QTest::newRow("readings CSV beside it")
            << "ЖЫМ№3 09.12.2017 14_05_33.csv" << Russian() << "3 2017-12-09 14:05:33";
        QTest::newRow("C locale: slashes written as _")
            << "ЖЫМ№250 12_09_17 14_05_33.txt" << Formats("%m/%d/%y", "%H:%M:%S", '.')
            << "250 2017-12-09 14:05:33";
        QTest::newRow("12-hour time") << "ЖЫМ№0 12_09_2017 02_05_33 PM.txt"
                                      << Formats("%m/%d/%Y", "%r", '.') << "0 2017-12-09 14:05:33";
        QTest::newRow("ISO date, %T") << "ЖЫМ№7 2017-12-09 04_05_33.txt" << Formats("%F", "%T", '.')
                                      << "7 2017-12-09 04:05:33";
        QTest::newRow("placeholder still in the name")
            << "ЖЫМ№> 09.12.2017 14_05_33.txt" << Russian() << "? 2017-12-09 14:05:33";
        QTest::newRow("date of another format: chamber only")
            << "ЖЫМ№3 12_09_17 14_05_33.txt" << Russian() << "3 ? ?";
        QTest::newRow("impossible date") << "ЖЫМ№3 31.02.2017 14_05_33.txt" << Russian() << "3 ? ?";
        QTest::newRow("renamed") << "chamber3.txt" << Russian() << "none";
        QTest::newRow("no number") << "ЖЫМ№x 09.12.2017 14_05_33.txt" << Russian() << "none";
        QTest::newRow("other extension") << "ЖЫМ№3 09.12.2017 14_05_33.log" << Russian() << "none";
    }
    void fileNames() {
        QFETCH(QString, name);
        QFETCH(RegionalSettings, settings);
        QFETCH(QString, expected);
        const auto parts = ParseLogFileName(name, settings);
        const QString got =
            !parts ? QStringLiteral("none")
                   : (parts->chamber ? QString::number(*parts->chamber) : QStringLiteral("?")) +
                         QLatin1Char(' ') +
                         (parts->date ? parts->date->toString(Qt::ISODate) : QStringLiteral("?")) +
                         QLatin1Char(' ') +
                         (parts->time ? parts->time->toString(Qt::ISODate) : QStringLiteral("?"));
        QCOMPARE(got, expected);
    }

    void timePatterns_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<std::optional<QTime>>("expected");
        QTest::newRow("%T") << "14:05:33"
                            << "%T" << std::optional(QTime(14, 5, 33));
        QTest::newRow("%r midnight") << "12:00:01 AM"
                                     << "%r" << std::optional(QTime(0, 0, 1));
        QTest::newRow("%r noon") << "12:00:01 PM"
                                 << "%r" << std::optional(QTime(12, 0, 1));
        QTest::newRow("%l space-padded") << " 2:05:33"
                                         << "%l:%M:%S" << std::optional(QTime(2, 5, 33));
        QTest::newRow("empty %p of a 24-hour locale")
            << "14:05:33"
            << "%H:%M:%S%p" << std::optional(QTime(14, 5, 33));
        QTest::newRow("minute 60") << "14:60:00"
                                   << "%T" << std::optional<QTime>();
        QTest::newRow("text after the time") << "14:05:33x"
                                             << "%T" << std::optional<QTime>();
        QTest::newRow("month names unsupported") << "Dec 14:05"
                                                 << "%b %H:%M" << std::optional<QTime>();
    }
    void timePatterns() {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QFETCH(std::optional<QTime>, expected);
        QCOMPARE(ReadTime(text, pattern), expected);
    }
};

QTEST_GUILESS_MAIN(tst_LogReader)
#include "tst_LogReader.moc"

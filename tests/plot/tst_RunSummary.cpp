// The figures of a test report from known traces: time in band, extremes, holds, cycles, and
// outages from gaps and from the logger's journal, across midnight and day-by-day files.
#include "FileBytes.h"
#include "LogFixture.h"
#include "core/EventsJournal.h"
#include "core/LogReader.h"
#include "core/ReadingsCsv.h"
#include "core/RunSummary.h"

#include <QtTest>

namespace {

// Rows of a readings CSV after its header: time, current, set, time to mode, stabilisation,
// time-to-mode set-point, stabilisation set-point, program, step, steps, cycle, cycles.
RunInput InputOf(const QStringList &rows, const QByteArray &journal = {}) {
    const auto file =
        ReadReadingsCsv(ReadingsCsvHeader() + '\n' + rows.join(QLatin1Char('\n')).toUtf8() + '\n');
    RunInput input;
    if (!file || file->damagedLines > 0) {
        qWarning("bad rows in the table");
        return input;
    }
    input.readings = file->readings;
    for (const Reading &reading : input.readings)
        input.instants.append(EpochSeconds(reading.date, reading.time, *reading.utcOffsetSeconds));
    if (!journal.isEmpty())
        input.events = ReadEventsJournal(journal)->events;
    return input;
}

// "2026-12-10T23:57:00+03:00" from "12-10 23:57:00" in Moscow time.
qint64 At(const QString &monthDayTime) {
    const QDate date =
        QDate::fromString(QStringLiteral("2026-") + monthDayTime.left(5), Qt::ISODate);
    return EpochSeconds(date, QTime::fromString(monthDayTime.mid(6), Qt::ISODate), 3 * 3600);
}

QString MomentText(const RunMoment &moment) { return moment.time.toString(Qt::ISODate); }

QString FigureText(const std::optional<RunFigure> &figure) {
    return figure ? QString::number(figure->value) + QLatin1Char('@') + MomentText(figure->at)
                  : QStringLiteral("none");
}

QString Numbers(const QList<int> &numbers) {
    QStringList texts;
    for (int number : numbers)
        texts.append(QString::number(number));
    return texts.join(QLatin1Char(','));
}

QString SummaryText(const RunSummary &s) {
    return QStringLiteral("records=%1 span=%2 min=%3 max=%4 mean=%5 p=%6 s=%7 c=%8 done=%9 ")
               .arg(s.records)
               .arg(s.durationSeconds)
               .arg(FigureText(s.minimum), FigureText(s.maximum),
                    s.mean ? QString::number(*s.mean) : QStringLiteral("none"), Numbers(s.programs),
                    Numbers(s.steps), Numbers(s.cycles))
               .arg(s.cyclesCompleted) +
           QStringLiteral("band=%1 hold=%2 outages=%3/%4 damaged=%5")
               .arg(s.inBandSeconds ? QStringLiteral("%1/%2 %3")
                                          .arg(*s.inBandSeconds)
                                          .arg(*s.withSetSeconds)
                                          .arg(s.inBandShare.value_or(-1), 0, 'f', 3)
                                    : QStringLiteral("none"),
                    FigureText(s.largestHoldDeviation))
               .arg(s.outages)
               .arg(s.outageSeconds)
               .arg(s.damagedLines);
}

QStringList EventTexts(const QList<RunEvent> &events) {
    QStringList texts;
    for (const RunEvent &event : events) {
        static const char *const kinds[] = {"outage", "alarm", "program", "logger"};
        QString text = QLatin1String(kinds[static_cast<int>(event.kind)]) + QLatin1Char(' ') +
                       MomentText(event.start) + QLatin1Char('-') +
                       (event.end ? MomentText(*event.end) : QStringLiteral("open"));
        if (event.program)
            text += QLatin1Char(' ') + QString::number(*event.program);
        if (!event.detail.isEmpty())
            text += QLatin1Char(' ') + event.detail;
        texts.append(text);
    }
    return texts;
}

// A steady minute-by-minute trace: the given temperatures against a set temperature of 25.
QStringList Trace(const QStringList &temperatures, const QString &set = QStringLiteral("25"),
                  const QString &program = QStringLiteral("2,1,3,1,2")) {
    QStringList rows;
    for (qsizetype i = 0; i < temperatures.size(); ++i)
        rows.append(QStringLiteral("2026-12-10T10:%1:00+03:00,%2,%3,,,,,%4")
                        .arg(i, 2, 10, QLatin1Char('0'))
                        .arg(temperatures[i], set, program));
    return rows;
}

} // namespace

class tst_RunSummary : public QObject {
    Q_OBJECT

private slots:
    void figures_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("events");

        // |deviation| 0 0 1 3 2.5 1 2.1 2 0 0: the spans after readings 0 1 2 5 7 8 are in band.
        QTest::newRow("known trace, time in band")
            << Trace({"25", "25", "26", "28", "27.5", "24", "22.9", "23", "25", "25"})
            << QByteArray()
            << "records=10 span=540 min=22.9@10:06:00 max=28@10:03:00 mean=25.14 p=2 s=1 c=1 "
               "done=0 band=360/540 0.667 hold=none outages=0/0 damaged=0"
            << QStringList{"program 10:00:00-10:09:00 2"};

        QTest::newRow("window log without set temperature")
            << Trace({"20", "21", "22"}, "", ",,,,") << QByteArray()
            << "records=3 span=120 min=20@10:00:00 max=22@10:02:00 mean=21 p= s= c= done=0 "
               "band=none hold=none outages=0/0 damaged=0"
            << QStringList{};

        QTest::newRow("outage across midnight")
            << QStringList{"2026-12-10T23:57:00+03:00,-40,-40,,,,,1,1,2,1,1",
                           "2026-12-10T23:58:00+03:00,-40,-40,,,,,1,1,2,1,1",
                           "2026-12-10T23:59:00+03:00,-39,-40,,,,,1,1,2,1,1",
                           "2026-12-11T00:05:00+03:00,-35,-40,,,,,1,1,2,1,1",
                           "2026-12-11T00:06:00+03:00,-36,-40,,,,,1,1,2,1,1"}
            << QByteArray()
            << "records=5 span=540 min=-40@23:57:00 max=-35@00:05:00 mean=-38 p=1 s=1 c=1 "
               "done=0 band=120/180 0.667 hold=none outages=1/360 damaged=0"
            << QStringList{"program 23:57:00-00:06:00 1", "outage 23:59:00-00:05:00"};

        // The clocks go back an hour at 03:00: local times repeat, the instants run on.
        QTest::newRow("clock change is no outage")
            << QStringList{"2026-10-25T02:58:00+03:00,20,,,,,,,,,,",
                           "2026-10-25T02:59:00+03:00,20,,,,,,,,,,",
                           "2026-10-25T02:00:00+02:00,20,,,,,,,,,,",
                           "2026-10-25T02:01:00+02:00,20,,,,,,,,,,"}
            << QByteArray()
            << "records=4 span=180 min=20@02:58:00 max=20@02:58:00 mean=20 p= s= c= done=0 "
               "band=none hold=none outages=0/0 damaged=0"
            << QStringList{};

        // Holds: only the readings whose time to mode has run out count for the deviation; in
        // mode, the stabilisation time counts on (10:03: 10 + 25 minutes of the 30 allowed).
        // Program 0, step 0(0), cycle 0(0): the program has ended, and with it the holds.
        QTest::newRow("largest deviation during holds")
            << QStringList{"2026-12-10T10:00:00+03:00,30,60,00:10,,00:20,,3,1,2,1,2",
                           "2026-12-10T10:01:00+03:00,58,60,00:20,,00:20,,3,1,2,1,2",
                           "2026-12-10T10:02:00+03:00,61.5,60,00:21,,00:20,,3,1,2,1,2",
                           "2026-12-10T10:03:00+03:00,64,60,00:10,00:25,00:30,,3,2,2,1,2",
                           "2026-12-10T10:04:00+03:00,60,60,00:10,,00:10,,3,1,2,2,2",
                           "2026-12-10T10:05:00+03:00,57,60,00:30,,00:10,,3,2,2,2,2",
                           "2026-12-10T10:06:00+03:00,25,60,00:30,,00:10,,0,0,0,0,0"}
            << QByteArray()
            << "records=7 span=360 min=25@10:06:00 max=64@10:03:00 mean=50.7857 p=3 s=1,2 "
               "c=1,2 done=2 band=180/360 0.500 hold=4@10:03:00 outages=0/0 damaged=0"
            << QStringList{"program 10:00:00-10:06:00 3"};

        // The journal's times stand for the gap it explains; the port's and the chamber's
        // losses are one outage; an alarm, a program change and the logger's runs.
        const QByteArray journal =
            "{\"time\":\"2026-12-10T09:59:30+03:00\",\"event\":\"started\",\"version\":\"1.1.0\"}\n"
            "{\"time\":\"2026-12-10T10:02:10+03:00\",\"event\":\"port_lost\",\"port\":\"COM1\","
            "\"reason\":\"Input/output error\"}\n"
            "{\"time\":\"2026-12-10T10:02:12+03:00\",\"event\":\"chamber_lost\",\"chamber\":1,"
            "\"reason\":\"port lost\"}\n"
            "{\"time\":\"2026-12-10T10:05:30+03:00\",\"event\":\"port_back\",\"port\":\"COM1\","
            "\"outage_seconds\":200}\n"
            "{\"time\":\"2026-12-10T10:05:40+03:00\",\"event\":\"chamber_back\",\"chamber\":1,"
            "\"outage_seconds\":208}\n"
            "{\"time\":\"2026-12-10T10:06:30+03:00\",\"event\":\"alarm_raised\",\"chamber\":1,"
            "\"kind\":\"high\",\"value\":31,\"limit\":30,\"message\":\"too hot\"}\n"
            "{\"time\":\"2026-12-10T10:07:30+03:00\",\"event\":\"alarm_cleared\",\"chamber\":1,"
            "\"kind\":\"high\",\"value\":29,\"limit\":30,\"message\":\"back\"}\n"
            "{\"time\":\"2026-12-10T10:08:10+03:00\",\"event\":\"stopped\",\"signal\":\"SIGTERM\"}"
            "\n"
            "{\"time\":\"2026-12-10T10:08:20+03:00\",\"event\":\"started\",\"version\":\"1.1.0\"}"
            "\n";
        QTest::newRow("journal outages, alarm, program change, logger runs")
            << QStringList{"2026-12-10T10:00:00+03:00,25,25,,,,,1,1,1,1,1",
                           "2026-12-10T10:01:00+03:00,25,25,,,,,1,1,1,1,1",
                           "2026-12-10T10:02:00+03:00,25,25,,,,,1,1,1,1,1",
                           "2026-12-10T10:06:00+03:00,31,25,,,,,2,1,1,1,1",
                           "2026-12-10T10:07:00+03:00,29,25,,,,,2,1,1,1,1",
                           "2026-12-10T10:08:00+03:00,25,25,,,,,2,1,1,1,1",
                           "2026-12-10T10:09:00+03:00,25,25,,,,,2,1,1,1,1",
                           "2026-12-10T10:13:00+03:00,25,25,,,,,2,1,1,1,1"}
            << journal
            << "records=8 span=780 min=25@10:00:00 max=31@10:06:00 mean=26.25 p=1,2 s=1 c=1 "
               "done=1 band=180/300 0.600 hold=none outages=2/450 damaged=0"
            << QStringList{"logger 09:59:30-10:08:10 SIGTERM",
                           "program 10:00:00-10:06:00 1",
                           "outage 10:02:10-10:05:40 port lost: Input/output error",
                           "program 10:06:00-10:13:00 2",
                           "alarm 10:06:30-10:07:30 high",
                           "logger 10:08:20-open",
                           "outage 10:09:00-10:13:00"};
    }
    void figures() {
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, journal);
        const RunSummary summary = SummariseRun(InputOf(rows, journal));
        QTEST(SummaryText(summary), "summary");
        QTEST(EventTexts(summary.events), "events");
    }

    // One alarm is one row from its raise to its clear, however often the raise was repeated,
    // and each rule's clear ends its own row.
    void alarmRows_data() {
        QTest::addColumn<QStringList>("lines"); // "HH:MM:SS event, further members"
        QTest::addColumn<QStringList>("rows");
        const QString high30 = QStringLiteral("\"kind\":\"high\",\"value\":31,\"limit\":30");
        const QString high50 = QStringLiteral("\"kind\":\"high\",\"value\":51,\"limit\":50");
        const QString repeat = QStringLiteral(",\"repeated\":true");
        QTest::newRow("raised, repeated every 2 s, cleared after 8 s")
            << QStringList{"10:02:00 alarm_raised," + high30,
                           "10:02:02 alarm_raised," + high30 + repeat,
                           "10:02:04 alarm_raised," + high30 + repeat,
                           "10:02:06 alarm_raised," + high30 + repeat,
                           "10:02:08 alarm_cleared," + high30}
            << QStringList{"10:02:00-10:02:08 high 30"};
        QTest::newRow("two rules of one kind clear their own rows")
            << QStringList{"10:02:00 alarm_raised," + high30,
                           "10:03:00 alarm_raised," + high50,
                           "10:03:30 alarm_raised," + high30 + repeat,
                           "10:03:40 alarm_raised," + high50 + repeat,
                           "10:04:00 alarm_cleared," + high50,
                           "10:04:30 alarm_raised," + high30 + repeat,
                           "10:05:00 alarm_cleared," + high30}
            << QStringList{"10:02:00-10:05:00 high 30", "10:03:00-10:04:00 high 50"};
        QTest::newRow("kinds and chambers apart")
            << QStringList{"10:02:00 alarm_raised,\"kind\":\"low\",\"limit\":30",
                           "10:02:10 alarm_raised,\"kind\":\"silent\",\"limit\":30",
                           "10:02:20 alarm_cleared,\"kind\":\"silent\",\"limit\":30",
                           "10:02:30 alarm_cleared,\"kind\":\"low\",\"limit\":30"}
            << QStringList{"10:02:00-10:02:30 low 30", "10:02:10-10:02:20 silent 30"};
        // The logger stopped while the alarm stood: the clear after the restart is of the new
        // raise, and the first alarm's end is unknown.
        QTest::newRow("a restart ends the watch")
            << QStringList{"10:02:00 alarm_raised," + high30,
                           "10:03:00 stopped,\"signal\":\"SIGTERM\"",
                           "10:04:00 started,\"version\":\"1.0.0\"",
                           "10:04:05 alarm_raised," + high30,
                           "10:04:07 alarm_raised," + high30 + repeat,
                           "10:05:00 alarm_cleared," + high30}
            << QStringList{"10:02:00-open high 30", "10:04:05-10:05:00 high 30"};
        QTest::newRow("a repeat whose raise is not in the journal")
            << QStringList{"10:02:02 alarm_raised," + high30 + repeat,
                           "10:02:04 alarm_raised," + high30 + repeat,
                           "10:02:08 alarm_cleared," + high30}
            << QStringList{"10:02:02-10:02:08 high 30"};
        QTest::newRow("a clear without a limit ends the first open alarm of its kind")
            << QStringList{"10:02:00 alarm_raised," + high30, "10:03:00 alarm_raised," + high50,
                           "10:04:00 alarm_cleared,\"kind\":\"high\""}
            << QStringList{"10:02:00-10:04:00 high 30", "10:03:00-open high 50"};
    }
    void alarmRows() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, rows);
        QByteArray journal;
        for (const QString &line : lines)
            journal += QStringLiteral(
                           "{\"time\":\"2026-12-10T%1+03:00\",\"event\":\"%2\",\"chamber\":1,%3}\n")
                           .arg(line.left(8), line.mid(9).section(QLatin1Char(','), 0, 0),
                                line.section(QLatin1Char(','), 1))
                           .toUtf8();
        const RunSummary summary =
            SummariseRun(InputOf(Trace({"25", "25", "25", "25", "25", "25", "25", "25"}), journal));
        QStringList alarms;
        for (const RunEvent &event : summary.events)
            if (event.kind == RunEventKind::Alarm)
                alarms.append(MomentText(event.start) + QLatin1Char('-') +
                              (event.end ? MomentText(*event.end) : QStringLiteral("open")) +
                              QLatin1Char(' ') + event.detail + QLatin1Char(' ') +
                              QString::number(event.limit.value_or(-1)));
        QCOMPARE(alarms, rows);
    }

    // --from and --to cut the records; events reaching into the period stay.
    void periodCut() {
        RunInput input = InputOf(Trace({"25", "25", "30", "30", "25", "25"}));
        input.from = At("12-10 10:01:00");
        input.to = At("12-10 10:03:30");
        const RunSummary summary = SummariseRun(input);
        QCOMPARE(SummaryText(summary),
                 QStringLiteral("records=3 span=120 min=25@10:01:00 max=30@10:02:00 "
                                "mean=28.3333 p=2 s=1 c=1 done=0 band=60/120 0.500 hold=none "
                                "outages=0/0 damaged=0"));
        input.from = At("12-10 11:00:00");
        input.to = std::nullopt;
        QVERIFY(!SummariseRun(input).first);
    }

    // Three daily logs of one chamber as the logger writes them, a torn line at the end of the
    // first: no outage at midnight, one where the chamber was silent, the damaged line counted.
    void dayByDayLogs() {
        const RegionalSettings settings;
        const QList<QPair<QString, QList<Record>>> days = {
            {"ЖЫМ№1 09.12.2026 23_57_10.txt",
             {{"23:57:40", "25", "1", "1(2)", "1(3)"},
              {"23:58:40", "25", "1", "1(2)", "1(3)"},
              {"23:59:40", "25", "1", "1(2)", "1(3)"}}},
            {"ЖЫМ№1 10.12.2026 00_00_00.txt",
             {{"00:00:40", "26", "1", "2(2)", "1(3)"},
              {"00:01:40", "26", "1", "2(2)", "1(3)"},
              {"00:09:40", "26", "1", "1(2)", "2(3)"},
              {"23:59:40", "26", "1", "1(2)", "2(3)"}}},
            {"ЖЫМ№1 11.12.2026 00_00_00.txt", {{"00:00:40", "27", "1", "1(2)", "2(3)"}}}};
        QList<QList<Reading>> files;
        int damaged = 0;
        for (const auto &[name, records] : days) {
            QByteArray bytes = LogBytes(records);
            if (files.isEmpty())
                bytes += "    23:59:5"; // torn by a power cut
            const auto parts = ParseLogFileName(name, settings);
            QVERIFY(parts && parts->date);
            const auto file = ReadLog(bytes, {settings, *parts->date, parts->time, {}});
            QVERIFY(file);
            damaged += file->damagedLines;
            files.append(file->readings);
        }
        RunInput input;
        input.readings = JoinReadings(files);
        for (const Reading &reading : input.readings)
            input.instants.append(EpochSeconds(reading.date, reading.time, 3 * 3600));
        input.damagedLines = damaged;
        const RunSummary summary = SummariseRun(input);
        QCOMPARE(summary.records, 8);
        QCOMPARE(summary.first->date, QDate(2026, 12, 9));
        QCOMPARE(summary.last->date, QDate(2026, 12, 11));
        QCOMPARE(summary.durationSeconds, 24 * 3600 + 3 * 60);
        QCOMPARE(summary.cyclesCompleted, 1);
        QCOMPARE(summary.damagedLines, 1);
        QCOMPARE(EventTexts(summary.events),
                 (QStringList{"program 23:57:40-00:00:40 1", "outage 00:01:40-00:09:40",
                              "outage 00:09:40-23:59:40"}));
        QCOMPARE(summary.outageSeconds, 8 * 60 + (23 * 3600 + 50 * 60));
    }
};

QTEST_GUILESS_MAIN(tst_RunSummary)
#include "tst_RunSummary.moc"

// The logger's files and journal, driven by moments of the test's own: a record always lands
// in the file of its own local date and offset, across midnight, a weekend and the autumn clock
// change; files that could not get their header are not left behind; the journal is one JSON
// object a line.
#include "base/CliError.h"
#include "logger/ChamberFiles.h"
#include "logger/EventJournal.h"

#include "core/EventsJournal.h"
#include "core/LogFormat.h"

#include "FileBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QTimeZone kBerlin("Europe/Berlin");

// A moment of Berlin's wall clock, given by its UTC time so that the autumn change's doubled
// hour can be named.
QDateTime Berlin(const QString &utc) {
    return QDateTime::fromString(utc, Qt::ISODate).toTimeZone(kBerlin);
}

QByteArray Record(const QDateTime &moment) {
    return LogRecordBytes(moment.time().toString(QStringLiteral("HH:mm:ss")), QStringLiteral("23,5"),
                          QStringLiteral("2"), QStringLiteral("1(3)"), QStringLiteral("1(1)"));
}

class FixedClock : public LoggerClock {
public:
    QDateTime now() const override { return moment; }
    QDateTime moment;
};

} // namespace

class tst_LoggerFiles : public QObject {
    Q_OBJECT
private slots:
    void recordsGoToTheFileOfTheirDate_data();
    void recordsGoToTheFileOfTheirDate();
    void lateRecordKeepsItsDate();
    void journalLinesAreJsonObjects();
    void journalLineCutByAFullDiskStandsAlone();
};

void tst_LoggerFiles::recordsGoToTheFileOfTheirDate_data() {
    QTest::addColumn<QStringList>("moments"); // UTC; the first one starts the files
    QTest::addColumn<QStringList>("files");   // the stamps of the files made, in order
    QTest::addColumn<QList<int>>("recordsPerFile");
    QTest::addColumn<QStringList>("whys");
    QTest::newRow("midnight")
        << QStringList{"2026-12-10T22:58:10Z", "2026-12-10T22:59:40Z", "2026-12-10T23:00:05Z",
                       "2026-12-10T23:01:05Z"}
        << QStringList{"10.12.2026 23_58_10", "11.12.2026 00_00_05"} << QList<int>{2, 2}
        << QStringList{"start", "date"};
    QTest::newRow("silent from Friday evening to Monday morning")
        << QStringList{"2026-12-11T16:59:00Z", "2026-12-14T07:00:30Z", "2026-12-14T07:01:30Z"}
        << QStringList{"11.12.2026 17_59_00", "14.12.2026 08_00_30"} << QList<int>{1, 2}
        << QStringList{"start", "date"};
    // 03:00 CEST becomes 02:00 CET: the hour from 02:00 comes twice, once at each offset.
    QTest::newRow("autumn clock change")
        << QStringList{"2026-10-25T00:30:00Z", "2026-10-25T00:59:30Z", "2026-10-25T01:00:30Z",
                       "2026-10-25T01:30:00Z"}
        << QStringList{"25.10.2026 02_30_00", "25.10.2026 02_00_30"} << QList<int>{2, 2}
        << QStringList{"start", "offset"};
    QTest::newRow("spring clock change")
        << QStringList{"2026-03-29T00:59:00Z", "2026-03-29T01:00:30Z"}
        << QStringList{"29.03.2026 01_59_00", "29.03.2026 03_00_30"} << QList<int>{1, 1}
        << QStringList{"start", "offset"};
}

void tst_LoggerFiles::recordsGoToTheFileOfTheirDate() {
    QFETCH(QStringList, moments);
    QFETCH(QStringList, files);
    QFETCH(QList<int>, recordsPerFile);
    QFETCH(QStringList, whys);
    QTemporaryDir dir;
    QStringList made;
    QStringList madeWhy;
    ChamberFiles chamber(7, dir.path(), RegionalSettings{}, true,
                         [&](int address, const QString &path, ChamberFiles::Why why) {
                             QCOMPARE(address, 7);
                             made << path;
                             madeWhy << QStringList{"start", "date", "offset"}.at(int(why));
                         });
    QList<QDateTime> at;
    for (const QString &moment : moments)
        at << Berlin(moment);
    chamber.start(at.first());
    for (const QDateTime &moment : at) {
        chamber.appendCsvRow(moment, "row\n");
        chamber.appendRecord(moment, Record(moment));
    }
    QCOMPARE(madeWhy, whys);
    QCOMPARE(made.size(), files.size());
    int next = 0;
    for (int i = 0; i < files.size(); ++i) {
        QCOMPARE(QFileInfo(made[i]).fileName(),
                 QStringLiteral("ЖЫМ№7 %1.txt").arg(files[i]));
        QByteArray expected = LogHeaderBytes();
        for (int r = 0; r < recordsPerFile[i]; ++r)
            expected += Record(at[next++]);
        QCOMPARE(ReadAll(made[i]), expected);
        const QByteArray csv = ReadAll(made[i].chopped(4) + QStringLiteral(".csv"));
        QCOMPARE(csv.count("row\n"), recordsPerFile[i]);
    }
}

// A record composed just before midnight and written just after it, when the new day's CSV
// row has already started the new files, still goes into the file of its own date.
void tst_LoggerFiles::lateRecordKeepsItsDate() {
    QTemporaryDir dir;
    QStringList made;
    ChamberFiles chamber(1, dir.path(), RegionalSettings{}, true,
                         [&](int, const QString &path, ChamberFiles::Why) { made << path; });
    const QDateTime before = Berlin("2026-12-10T22:59:58Z");
    const QDateTime after = Berlin("2026-12-10T23:00:02Z");
    chamber.start(before);
    chamber.appendCsvRow(after, "row\n");
    chamber.appendRecord(before, Record(before));
    chamber.appendRecord(after, Record(after));
    QCOMPARE(made.size(), 2);
    QCOMPARE(ReadAll(made[0]), LogHeaderBytes() + Record(before));
    QCOMPARE(ReadAll(made[1]), LogHeaderBytes() + Record(after));
}

void tst_LoggerFiles::journalLinesAreJsonObjects() {
    QTemporaryDir dir;
    FixedClock clock;
    clock.moment = Berlin("2026-10-25T01:30:00Z");
    const QString path = dir.filePath(QStringLiteral("events.jsonl"));
    {
        EventJournal journal(path, clock);
        journal.write(QStringLiteral("started"), {{QStringLiteral("port"), QStringLiteral("COM1")}});
        journal.write(QStringLiteral("chamber_lost"),
                      {{QStringLiteral("chamber"), 3},
                       {QStringLiteral("reason"), QStringLiteral("line never quiet")}});
    }
    EventJournal again(path, clock); // appends
    again.write(QStringLiteral("stopped"), {{QStringLiteral("signal"), QStringLiteral("SIGTERM")}});
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.last().isEmpty());
    const QStringList events{"started", "chamber_lost", "stopped"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(lines[i].startsWith("{\"time\":\"2026-10-25T02:30:00+01:00\",\"event\":\""));
        QJsonParseError error;
        const QJsonDocument line = QJsonDocument::fromJson(lines[i], &error);
        QVERIFY2(line.isObject(), qPrintable(error.errorString()));
        QCOMPARE(line.object().value(QStringLiteral("event")).toString(), events[i]);
    }
    QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value(QStringLiteral("chamber")).toInt(), 3);
    // Byte for byte as earlier versions wrote it: time and event first, the rest by name.
    QCOMPARE(lines[1], QByteArray(R"({"time":"2026-10-25T02:30:00+01:00","event":"chamber_lost",)"
                                  R"("chamber":3,"reason":"line never quiet"})"));
}

void tst_LoggerFiles::journalLineCutByAFullDiskStandsAlone() {
    QTemporaryDir dir;
    FixedClock clock;
    clock.moment = Berlin("2026-10-25T01:30:00Z");
    const QString path = dir.filePath(QStringLiteral("events.jsonl"));
    EventJournal journal(path, clock);
    journal.write(QStringLiteral("started"), {{QStringLiteral("port"), QStringLiteral("COM1")}});
    // A file-size limit cuts the next write short after 20 bytes, as a disk that fills up in
    // the middle of a line does (a whole write to /dev/full fails without a byte written).
    constexpr qint64 kCutAfter = 20;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limit = previous;
    limit.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + kCutAfter);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    journal.write(QStringLiteral("chamber_lost"), {{QStringLiteral("chamber"), 3}});
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &previous), 0);
    std::signal(SIGXFSZ, SIG_DFL);
    journal.write(QStringLiteral("stopped"), {{QStringLiteral("signal"), QStringLiteral("SIGTERM")}});

    const QByteArray bytes = ReadAll(path);
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1].size(), kCutAfter);
    QVERIFY(lines[2].startsWith("{\"time\":"));
    // The reports' reader: the cut line is one damaged line, the next one whole.
    const auto read = ReadEventsJournal(bytes);
    QVERIFY(read);
    QCOMPARE(read->damagedLines, 1);
    QCOMPARE(read->events.size(), 2);
    QCOMPARE(read->events[1].event, QStringLiteral("stopped"));
}

QTEST_GUILESS_MAIN(tst_LoggerFiles)
#include "tst_LoggerFiles.moc"

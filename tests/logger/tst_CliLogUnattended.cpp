// `kalvora-cli log` as a process left alone for long: dates that change under it, a sensor that
// fails, option files, a full disk and silent chambers that must not slow the others.
#include "FileBytes.h"
#include "CliProcess.h"
#include "SimulatedLine.h"

#include "core/ReadingsCsv.h"
#include "platform/LineExchange.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <sys/mount.h>
#include <thread>

using chambersim::ChamberFaults;
using namespace std::chrono_literals;

namespace {

void SetChamber(SimulatedLine &line, int address, std::uint16_t temperature) {
    const std::vector<std::pair<int, std::uint16_t>> registers{
        {1, 2}, {2, 250}, {4, 0}, {5, 30}, {6, 1}, {7, 2}, {8, 9}, {9, 0},
        {10, 3}, {11, 12}, {12, 2}, {13, 5}, {14, 605}};
    for (const auto &[reg, value] : registers)
        line.setRawInput(address, reg, value);
    line.setRawInput(address, 0, temperature);
}

// A logger run that ends with SIGTERM after `seconds`, its stderr returned.
struct LogRun {
    int exitCode = -1;
    QString err;
};

LogRun RunLogger(const QStringList &arguments, std::chrono::milliseconds duration,
                 const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment()) {
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(CLI_BINARY), QStringList{"log"} + arguments);
    LogRun run;
    if (!cli.waitForStarted())
        return run;
    if (!cli.waitForFinished(static_cast<int>(duration.count()))) {
        ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
        if (!cli.waitForFinished(20000)) {
            cli.kill();
            cli.waitForFinished();
            return run;
        }
    }
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

QList<QJsonObject> JournalEvents(const QString &path) {
    QList<QJsonObject> events;
    for (const QByteArray &line : ReadAll(path).split('\n'))
        if (!line.isEmpty())
            events << QJsonDocument::fromJson(line).object();
    return events;
}

QStringList EventNames(const QList<QJsonObject> &events) {
    QStringList names;
    for (const QJsonObject &event : events)
        names << event.value(QStringLiteral("event")).toString();
    return names;
}

// "hh:mm:ss" of every record of a log, in order.
QStringList RecordTimes(const QString &path) {
    static const QRegularExpression time(QStringLiteral("\r\n *(\\d\\d:\\d\\d:\\d\\d);"));
    QStringList times;
    auto matches = time.globalMatch(QString::fromLatin1(ReadAll(path)));
    while (matches.hasNext())
        times << matches.next().captured(1);
    return times;
}

} // namespace

class tst_CliLogUnattended : public QObject {
    Q_OBJECT
private slots:
    void pendingRecordIsWrittenOnEveryStop_data();
    void pendingRecordIsWrittenOnEveryStop();
    void stopRightAfterStartNeverHangs();
    void noisyLineThenQuiet();
    void unpluggedAdapterComesBack();
    void implausibleTemperatureComposesNoRecord();
    void flagsInAnOptionFile();
    void fullDiskLeavesNoEmptyFile();
    void silentChambersAreAskedLessOften();
    void recordsCarryTheirDateAcrossMidnightAndClockChanges_data();
    void recordsCarryTheirDateAcrossMidnightAndClockChanges();
};

void tst_CliLogUnattended::pendingRecordIsWrittenOnEveryStop_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP (its terminal closed)") << int(SIGHUP);
}

// A record is due once a minute; a stop within the first minute still writes the reading that
// composed it, and the run ends as asked, with the signal in the journal.
void tst_CliLogUnattended::pendingRecordIsWrittenOnEveryStop() {
    QFETCH(int, signal);
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    QTemporaryDir dir;
    QProcess cli;
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "1", "--period", "1", "--dir", dir.path(), "--port", line.slavePath()});
    QVERIFY(cli.waitForStarted());
    QVERIFY(line.waitForReceived(2, 20000ms));
    std::this_thread::sleep_for(200ms);
    ::kill(static_cast<pid_t>(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    const QDir folder(dir.path());
    const QStringList logs = folder.entryList({QStringLiteral("*.txt")});
    QCOMPARE(logs.size(), 1);
    QCOMPARE(RecordTimes(folder.filePath(logs.first())).size(), 1);
    const QList<QJsonObject> events = JournalEvents(folder.filePath("events.jsonl"));
    QCOMPARE(events.last().value(QStringLiteral("event")).toString(), QStringLiteral("stopped"));
    QCOMPARE(events.last().value(QStringLiteral("signal")).toString(),
             QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char(' '), 0, 0));
}

// A stop that comes at any moment of the start, the metrics server's included, ends the run:
// the server's threads must never wait for a listen that the stop came before.
void tst_CliLogUnattended::stopRightAfterStartNeverHangs() {
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    QTemporaryDir dir;
    for (int run = 0; run < 25; ++run) {
        QProcess cli;
        cli.start(QStringLiteral(CLI_BINARY),
                  {"log", "1", "--dir", dir.path(), "--port", line.slavePath(), "--metrics",
                   "127.0.0.1:19731"});
        QVERIFY(cli.waitForStarted());
        // Spread over the start: at once, then a little later each time.
        std::this_thread::sleep_for(std::chrono::milliseconds(run * 8));
        ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
        // A generous limit that only a hang reaches.
        QVERIFY2(cli.waitForFinished(30000), qPrintable(QStringLiteral("run %1 hangs").arg(run)));
        // A signal before the tool has blocked it ends the process at once, which is fine too.
        if (cli.exitStatus() == QProcess::NormalExit)
            QCOMPARE(cli.exitCode(), 0);
    }
}

// Continuous noise on the line, then quiet: the chamber goes to not answering while the noise
// lasts, the logger goes on, and readings and records resume once the line is quiet.
void tst_CliLogUnattended::noisyLineThenQuiet() {
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    QTemporaryDir dir;
    QProcess cli;
    cli.start(QStringLiteral(CLI_BINARY), {"log", "1", "--period", "1", "--record-every", "1",
                                           "--dir", dir.path(), "--port", line.slavePath()});
    QVERIFY(cli.waitForStarted());
    QVERIFY(line.waitForReceived(2, 20000ms));
    line.startNoise(500us, 5000ms);
    std::this_thread::sleep_for(5000ms);
    const QTime quietFrom = QTime::currentTime();
    // A held-up simulator leaves real gaps in its noise, in which a request and its reply go
    // through whole; the bound itself is shown on a scripted line (tst_LineExchange).
    const bool noiseHeldUp = line.noise().longestGap > LineExchange::kFrameGap;
    std::this_thread::sleep_for(4000ms);
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);

    const QDir folder(dir.path());
    QList<QJsonObject> lost;
    int back = 0;
    for (const QJsonObject &event : JournalEvents(folder.filePath("events.jsonl"))) {
        if (event.value("event").toString() == QLatin1String("chamber_lost"))
            lost << event;
        back += event.value("event").toString() == QLatin1String("chamber_back");
    }
    if (lost.isEmpty() && noiseHeldUp)
        QSKIP("the simulated noise was held up and left quiet gaps");
    QVERIFY(!lost.isEmpty());
    QCOMPARE(back, lost.size()); // and back after each
    // A busy machine can leave real gaps in the simulated noise; a request then goes through
    // and its reply is torn by the noise. The bound itself is shown on a scripted line.
    const QString reason = lost.first().value("reason").toString();
    QVERIFY2(QStringList({"line never quiet", "damaged replies", "silence"}).contains(reason),
             qPrintable(reason));
    const QStringList files = folder.entryList({QStringLiteral("*.txt")});
    QCOMPARE(files.size(), 1);
    const QStringList records = RecordTimes(folder.filePath(files.first()));
    QVERIFY(!records.isEmpty());
    QVERIFY2(QTime::fromString(records.last(), QStringLiteral("HH:mm:ss")) >=
                 quietFrom.addSecs(-1),
             qPrintable(records.join(QLatin1Char(' '))));
}

// The adapter unplugged for three seconds and back at the same path: the logger survives,
// names the port on stderr, writes the record it had pending, and goes on into the same files
// with nothing inside the gap.
void tst_CliLogUnattended::unpluggedAdapterComesBack() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyUSB-by-id"));
    SimulatedLine line({1}, link);
    SetChamber(line, 1, 235);
    const QString logs = dir.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkdir(logs));
    QProcess cli;
    // Records are due only every 30 s: the ones in the file are written at the loss and at
    // the stop.
    cli.start(QStringLiteral(CLI_BINARY), {"log", "1", "--period", "1", "--record-every", "30",
                                           "--csv", "--dir", logs, "--port", link});
    QVERIFY(cli.waitForStarted());
    QVERIFY(line.waitForReceived(3, 20000ms));
    const QTime goneAt = QTime::currentTime();
    line.vanish(3000ms);
    QVERIFY(line.waitForReappearance(20000ms));
    const QTime backAt = QTime::currentTime();
    line.clearReceived();
    QVERIFY(line.waitForReceived(3, 60000ms)); // read again after the reopen
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("port %1 (%1) lost").arg(link)), qPrintable(err));
    QCOMPARE(err.count(QStringLiteral("lost")), 1);

    const QDir folder(logs);
    const QStringList files = folder.entryList({QStringLiteral("*.txt")});
    QCOMPARE(files.size(), 1);
    const QStringList records = RecordTimes(folder.filePath(files.first()));
    QCOMPARE(records.size(), 2);
    const QTime before = QTime::fromString(records.first(), QStringLiteral("HH:mm:ss"));
    const QTime after = QTime::fromString(records.last(), QStringLiteral("HH:mm:ss"));
    QVERIFY2(before <= goneAt && after >= backAt.addSecs(-1), qPrintable(records.join(' ')));
    // The CSV rows, one a reading, leave the outage empty.
    const std::optional<ReadingsFile> csv =
        ReadReadingsCsv(ReadAll(folder.filePath(files.first()).chopped(4) + ".csv"));
    QVERIFY(csv);
    for (const Reading &reading : csv->readings)
        QVERIFY2(reading.time <= goneAt.addSecs(1) || reading.time >= backAt.addSecs(-1),
                 qPrintable(reading.time.toString()));
    const QStringList events = EventNames(JournalEvents(folder.filePath("events.jsonl")));
    QCOMPARE(events.count(QStringLiteral("port_lost")), 1);
    QCOMPARE(events.count(QStringLiteral("port_back")), 1);
    QCOMPARE(events.count(QStringLiteral("new_file")), 1);
}

void tst_CliLogUnattended::implausibleTemperatureComposesNoRecord() {
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    QTemporaryDir dir;
    QProcess cli;
    cli.start(QStringLiteral(CLI_BINARY), {"log", "1", "--period", "1", "--record-every", "1",
                                           "--csv", "--dir", dir.path(), "--port",
                                           line.slavePath()});
    QVERIFY(cli.waitForStarted());
    std::this_thread::sleep_for(3500ms);
    line.setRawInput(1, 0, 5000); // 500.0 °C: a broken sensor
    std::this_thread::sleep_for(4000ms);
    line.setRawInput(1, 0, 241);
    std::this_thread::sleep_for(3500ms);
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 0);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("implausible temperature")), 1);
    QCOMPARE(err.count(QStringLiteral("plausible again (24,1 °C)")) +
                 err.count(QStringLiteral("plausible again (24.1 °C)")),
             1);

    const QDir folder(dir.path());
    const QStringList logs = folder.entryList({QStringLiteral("*.txt")});
    QCOMPARE(logs.size(), 1);
    const QString log = folder.filePath(logs.first());
    // The log agrees with the CSV: a record for every row with a temperature, none for the
    // rows without, and never the old temperature under a newer time.
    const std::optional<ReadingsFile> csv =
        ReadReadingsCsv(ReadAll(log.chopped(4) + QStringLiteral(".csv")));
    QVERIFY(csv);
    QStringList plausible;
    int implausible = 0;
    for (const Reading &reading : csv->readings) {
        if (reading.temperature)
            plausible << reading.time.toString(QStringLiteral("HH:mm:ss"));
        else
            ++implausible;
    }
    QVERIFY(implausible >= 3);
    const QStringList records = RecordTimes(log);
    QVERIFY(records.size() >= 5);
    for (const QString &time : records)
        QVERIFY2(plausible.contains(time), qPrintable(time));
    const QString text = QString::fromLatin1(ReadAll(log));
    QVERIFY(text.contains(QStringLiteral("23,5")) || text.contains(QStringLiteral("23.5")));
    QVERIFY(text.contains(QStringLiteral("24,1")) || text.contains(QStringLiteral("24.1")));

    const QStringList events = EventNames(JournalEvents(folder.filePath("events.jsonl")));
    QCOMPARE(events.count(QStringLiteral("sensor_implausible")), 1);
    QCOMPARE(events.count(QStringLiteral("sensor_back")), 1);
    QCOMPARE(events.first(), QStringLiteral("started"));
    QCOMPARE(events.last(), QStringLiteral("stopped"));
}

// "csv=1" used to become "--csv 1", and the 1 was taken for the list of chambers.
void tst_CliLogUnattended::flagsInAnOptionFile() {
    SimulatedLine line({1, 2, 3});
    for (int address : {1, 2, 3})
        SetChamber(line, address, 235);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    {
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("csv=1\nchambers=1-3\nperiod=1\nrecord-every=1\n");
    }
    const LogRun run = RunLogger({"--config", config, "--dir", dir.path(), "--port",
                                  line.slavePath()},
                                 2500ms);
    QCOMPARE(run.exitCode, 0);
    const QDir folder(dir.path());
    QCOMPARE(folder.entryList({QStringLiteral("*.txt")}).size(), 3);
    QCOMPARE(folder.entryList({QStringLiteral("*.csv")}).size(), 3);

    QFile bad(config);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("chambers=1-3\ncsv=maybe\n");
    bad.close();
    const CliRun refused = RunCli({"log", "--config", config, "--port", line.slavePath()});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.contains(config + QStringLiteral(": line 2:")), qPrintable(refused.err));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("chambers=1-3\nrecord-evry=5\n");
    bad.close();
    const CliRun unknown = RunCli({"log", "--config", config, "--port", line.slavePath()});
    QCOMPARE(unknown.exitCode, 2);
    QVERIFY2(unknown.err.contains(QStringLiteral(": line 2: unknown option 'record-evry'")),
             qPrintable(unknown.err));
}

// A real full disk: a small file system filled to the brim. Every start fails with exit 6,
// and no start leaves an empty file behind.
void tst_CliLogUnattended::fullDiskLeavesNoEmptyFile() {
    QTemporaryDir dir;
    const QString mountPoint = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", mountPoint.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const auto unmount = qScopeGuard([&] { ::umount(mountPoint.toLocal8Bit().constData()); });
    {
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    for (int start = 0; start < 3; ++start) {
        const CliRun run = RunCli({"log", "1", "--csv", "--dir", mountPoint, "--events",
                                   dir.filePath(QStringLiteral("events.jsonl")), "--port",
                                   line.slavePath()});
        QCOMPARE(run.exitCode, 6);
        QVERIFY2(run.err.contains(QStringLiteral("Disk full")), qPrintable(run.err));
    }
    QCOMPARE(QDir(mountPoint).entryList(QDir::Files), QStringList{"filler"});
    const QStringList events = EventNames(JournalEvents(dir.filePath("events.jsonl")));
    QCOMPARE(events.count(QStringLiteral("stopped")), 3);
}

// Four silent chambers beside three live ones: after three rounds the silent ones are asked in
// ever fewer rounds, while the live ones are read every round. Counted in requests on the line,
// so that a slow machine cannot change the result.
void tst_CliLogUnattended::silentChambersAreAskedLessOften() {
    SimulatedLine line({1, 2, 3});
    for (int address : {1, 2, 3})
        SetChamber(line, address, 235);
    QTemporaryDir dir;
    const LogRun run = RunLogger({"1-3,10-13", "--period", "1", "--dir", dir.path(), "--port",
                                  line.slavePath()},
                                 25000ms);
    QCOMPARE(run.exitCode, 0);
    std::map<int, int> requests;
    for (const ReceivedFrame &frame : line.received())
        if (frame.isRequest && !frame.bytes.empty())
            ++requests[frame.bytes[0]];
    const int live = requests[1];
    QVERIFY2(live >= 8, qPrintable(QString::number(live)));
    // The stop may come between chamber 1 and the others of its round.
    QVERIFY(std::abs(requests[3] - live) <= 1);
    for (int silent = 10; silent <= 13; ++silent) {
        const int asked = requests[silent] / 2; // two tries each
        // Without the back-off a silent chamber is asked in every round, as often as a live one.
        QVERIFY2(asked >= 4 && 2 * asked < live,
                 qPrintable(QStringLiteral("chamber %1 asked %2 times, live ones %3")
                                .arg(silent)
                                .arg(asked)
                                .arg(live)));
    }
    QCOMPARE(run.err.count(QStringLiteral("no records until it answers again")), 4);
}

void tst_CliLogUnattended::recordsCarryTheirDateAcrossMidnightAndClockChanges_data() {
    QTest::addColumn<QString>("start"); // the faked time the run starts at, in UTC
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("firstDate"); // the local dates of the files, as in the CSV
    QTest::addColumn<QString>("secondDate");
    QTest::newRow("midnight") << "2026-12-10T22:59:50Z" << 2 << "2026-12-10" << "2026-12-11";
    // 02:59:50 CEST, ten seconds before the clocks go back to 02:00 CET.
    QTest::newRow("autumn clock change")
        << "2026-10-25T00:59:50Z" << 2 << "2026-10-25" << "2026-10-25";
}

// The run's clock is faked and starts seconds before the moment; the readings themselves come
// from the simulated chamber in real time.
void tst_CliLogUnattended::recordsCarryTheirDateAcrossMidnightAndClockChanges() {
    QFETCH(QString, start);
    QFETCH(int, files);
    QFETCH(QString, firstDate);
    QFETCH(QString, secondDate);
    // faketime's library, preloaded straight into the logger so that SIGTERM reaches it.
#ifdef KALVORA_SANITIZED
    QSKIP("a sanitizer's runtime must come first among the libraries; faketime's cannot");
#endif
    const QString library =
        QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");
    if (!QFileInfo::exists(library))
        QSKIP("faketime is not installed (./test.sh installs it)");
    SimulatedLine line({1});
    SetChamber(line, 1, 235);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
    env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    env.insert(QStringLiteral("LD_PRELOAD"), library);
    // An offset from the real clock, so that the local zone's ambiguous hour needs no naming.
    const qint64 shift = QDateTime::currentDateTimeUtc().secsTo(
        QDateTime::fromString(start, Qt::ISODate));
    env.insert(QStringLiteral("FAKETIME"),
               (shift >= 0 ? QStringLiteral("+%1") : QStringLiteral("%1")).arg(shift));
    const LogRun run =
        RunLogger({"1", "--period", "1", "--record-every", "2", "--csv", "--dir", dir.path(),
                   "--port", line.slavePath()},
                  22000ms, env);
    QCOMPARE(run.exitCode, 0);

    const QDir folder(dir.path());
    const QStringList logs = folder.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Time |
                                                                                       QDir::Reversed);
    QCOMPARE(logs.size(), files);
    const QStringList whys = [&] {
        QStringList found;
        for (const QJsonObject &event : JournalEvents(folder.filePath("events.jsonl")))
            if (event.value(QStringLiteral("event")).toString() == QLatin1String("new_file"))
                found << event.value(QStringLiteral("why")).toString();
        return found;
    }();
    QCOMPARE(whys.first(), QStringLiteral("start"));
    QCOMPARE(whys.size(), files);
    // Each file's CSV rows are of one local date and one offset, and its records' times are
    // among its rows' times.
    QStringList dates;
    QList<int> offsets;
    for (const QString &name : logs) {
        const QString log = folder.filePath(name);
        const std::optional<ReadingsFile> csv =
            ReadReadingsCsv(ReadAll(log.chopped(4) + QStringLiteral(".csv")));
        QVERIFY(csv && !csv->readings.isEmpty());
        QStringList rowTimes;
        for (const Reading &reading : csv->readings) {
            QCOMPARE(reading.date, csv->readings.first().date);
            QCOMPARE(reading.utcOffsetSeconds, csv->readings.first().utcOffsetSeconds);
            rowTimes << reading.time.toString(QStringLiteral("HH:mm:ss"));
        }
        for (const QString &time : RecordTimes(log))
            QVERIFY2(rowTimes.contains(time), qPrintable(name + QLatin1Char(' ') + time));
        dates << csv->readings.first().date.toString(Qt::ISODate);
        offsets << *csv->readings.first().utcOffsetSeconds;
    }
    QCOMPARE(dates.first(), firstDate);
    QCOMPARE(dates.last(), secondDate);
    if (firstDate == secondDate)
        QCOMPARE(offsets.first() - offsets.last(), 3600); // CEST, then CET

    // kalvora-plot reads the files as one series, each record with the date and offset of the
    // CSV row of the same reading.
    QStringList csvTimes;
    int records = 0;
    for (const QString &name : logs) {
        const QString log = folder.filePath(name);
        records += RecordTimes(log).size();
        for (const QByteArray &row : ReadAll(log.chopped(4) + QStringLiteral(".csv")).split('\n'))
            csvTimes << QString::fromLatin1(row.left(row.indexOf(',')));
    }
    QProcess plot;
    plot.setProcessEnvironment(env);
    QStringList plotArguments;
    for (const QString &name : logs)
        plotArguments << folder.filePath(name);
    const QString plotCsv = dir.filePath(QStringLiteral("plot.csv"));
    plot.start(QStringLiteral(PLOT_BINARY), plotArguments << QStringLiteral("--csv") << plotCsv);
    QVERIFY(plot.waitForFinished(60000));
    QCOMPARE(plot.exitCode(), 0);
    const QList<QByteArray> rows = ReadAll(plotCsv).trimmed().split('\n');
    QCOMPARE(rows.size() - 1, records);
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QString time = QString::fromLatin1(rows[i].left(rows[i].indexOf(',')));
        QVERIFY2(csvTimes.contains(time), qPrintable(time));
    }
}

QTEST_GUILESS_MAIN(tst_CliLogUnattended)
#include "tst_CliLogUnattended.moc"

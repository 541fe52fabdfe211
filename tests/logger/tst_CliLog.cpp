// `kalvora-cli log` as a process: three chambers, one falling silent and coming back, the
// window's log format byte for byte, CSV rows, and whole files after SIGTERM.
#include "CliProcess.h"
#include "FileBytes.h"
#include "SimulatedLine.h"

#include "core/LogFormat.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <thread>

using chambersim::ChamberFaults;
using namespace std::chrono_literals;

namespace {

QString OnlyFile(const QDir &dir, const QString &pattern) {
    const QStringList found = dir.entryList({pattern}, QDir::Files);
    return found.size() == 1 ? dir.filePath(found.first()) : QString();
}

int Seconds(const QString &hhmmss) {
    const QStringList p = hhmmss.split(QLatin1Char(':'));
    return p[0].toInt() * 3600 + p[1].toInt() * 60 + p[2].toInt();
}

// The times of the records, after checking every byte of the file against the window's format.
QList<int> CheckLogFile(const QString &path, const QString &temperature) {
    const QByteArray bytes = ReadAll(path);
    const QByteArray header = LogHeaderBytes();
    if (!bytes.startsWith(header)) {
        qWarning("%s does not start with the header", qPrintable(path));
        return {};
    }
    QList<int> times;
    const QByteArray end("\r\n\r\n");
    qsizetype at = header.size();
    while (at < bytes.size()) {
        const qsizetype next = bytes.indexOf(end, at);
        if (next < 0) {
            qWarning("%s ends inside a record", qPrintable(path));
            return {};
        }
        const QByteArray record = bytes.mid(at, next + end.size() - at);
        const QString time = QString::fromLatin1(record.mid(4, 8));
        const QByteArray expected = LogRecordBytes(time, temperature, QStringLiteral("2"),
                                                   QStringLiteral("3(12)"), QStringLiteral("2(5)"));
        if (record != expected) {
            qWarning("record differs: %s", record.constData());
            return {};
        }
        times << Seconds(time);
        at = next + end.size();
    }
    return times;
}

// Seconds of day of the CSV rows, after checking the header and the row layout.
QList<int> CheckCsvFile(const QString &path, const QString &temperature) {
    const QStringList lines = QString::fromUtf8(ReadAll(path)).split(QLatin1Char('\n'));
    if (lines.isEmpty() || lines.first() != QLatin1String(
                                                "time,current_temperature,set_temperature,"
                                                "time_to_mode,stabilisation_time,"
                                                "time_to_mode_set_point,stabilisation_set_point,"
                                                "program,step,steps,cycle,cycles") ||
        !lines.last().isEmpty())
        return {};
    static const QRegularExpression row(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT(\\d\\d:\\d\\d:\\d\\d)[+-]\\d\\d:\\d\\d,(.*)$"));
    QList<int> times;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const auto match = row.match(lines[i]);
        // set temperature 250.0 fails its bound: an empty cell
        if (!match.hasMatch() || match.captured(2) != temperature +
                                     QStringLiteral(",,01:02,00:30,10:05,09:00,2,3,12,2,5")) {
            qWarning("bad row: %s", qPrintable(lines[i]));
            return {};
        }
        times << Seconds(match.captured(1));
    }
    return times;
}

int LargestGap(const QList<int> &times) {
    int gap = 0;
    for (qsizetype i = 1; i < times.size(); ++i)
        gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}

} // namespace

class tst_CliLog : public QObject {
    Q_OBJECT
private slots:
    void chamberFallsSilentAndComesBack();
    void badFolderExits6();
};

void tst_CliLog::chamberFallsSilentAndComesBack() {
    SimulatedLine line({1, 2, 3});
    const std::vector<std::pair<int, std::uint16_t>> registers{
        {0, 235}, {1, 2}, {2, 2500}, {4, 0}, {5, 30}, {6, 1}, {7, 2}, {8, 9}, {9, 0},
        {10, 3}, {11, 12}, {12, 2}, {13, 5}, {14, 605}};
    for (int address : {1, 2, 3})
        for (const auto &[reg, value] : registers)
            line.setRawInput(address, reg, value);
    line.setRawInput(3, 0, 65136); // -40

    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    {
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# the three chambers of the test bus\n"
                   "chambers=1-3\n"
                   "period=1\n"
                   "--record-every 1\n"
                   "csv\n"
                   "timeout=150\n"
                   "period=30\n"); // the command line wins over this
    }
    QProcess cli;
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "--config", config, "--period", "1", "--dir", dir.path(), "--port",
               line.slavePath()});
    QVERIFY(cli.waitForStarted());

    std::this_thread::sleep_for(3500ms);
    ChamberFaults silent;
    silent.silentFirst = 1 << 30;
    line.setFaults(2, silent);
    std::this_thread::sleep_for(4000ms);
    line.setFaults(2, ChamberFaults{}); // answers again (its request count is past silentFirst)
    std::this_thread::sleep_for(3500ms);
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);

    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(err.count(QStringLiteral("chamber 2: no answer")), 1);
    QCOMPARE(err.count(QStringLiteral("chamber 2 answers again")), 1);
    QCOMPARE(err.count(QLatin1Char('\n')), 2);

    const QDir folder(dir.path());
    const QList<int> steady = CheckLogFile(OnlyFile(folder, "*1 *.txt"), "23.5");
    const QList<int> resumed = CheckLogFile(OnlyFile(folder, "*2 *.txt"), "23.5");
    const QList<int> cold = CheckLogFile(OnlyFile(folder, "*3 *.txt"), "-40");
    QVERIFY(steady.size() >= 8);
    QVERIFY(cold.size() >= 8);
    QVERIFY(LargestGap(steady) <= 2);
    // No record while it was silent: a gap of about four seconds, records before and after.
    QVERIFY2(LargestGap(resumed) >= 3, qPrintable(QString::number(LargestGap(resumed))));
    QVERIFY(resumed.size() >= 4 && resumed.size() <= steady.size() - 2);

    const QList<int> csvSteady = CheckCsvFile(OnlyFile(folder, "*1 *.csv"), "23.5");
    const QList<int> csvResumed = CheckCsvFile(OnlyFile(folder, "*2 *.csv"), "23.5");
    QVERIFY(csvSteady.size() >= 8);
    QVERIFY(LargestGap(csvResumed) >= 3);
    QVERIFY(csvResumed.size() >= 4 && csvResumed.size() <= csvSteady.size() - 2);
}

void tst_CliLog::badFolderExits6() {
    SimulatedLine line({1});
    QTemporaryDir dir;
    const CliRun missing = RunCli({"log", "1", "--dir", dir.filePath("nowhere"), "--port",
                                   line.slavePath()});
    QCOMPARE(missing.exitCode, 6);
    // A folder nobody may write into: /proc is one even for root.
    const CliRun readOnly = RunCli({"log", "1", "--dir", "/proc", "--port", line.slavePath()});
    QCOMPARE(readOnly.exitCode, 6);
    QVERIFY2(readOnly.err.startsWith(QStringLiteral("kalvora-cli: /proc/")), qPrintable(readOnly.err));
}

QTEST_GUILESS_MAIN(tst_CliLog)
#include "tst_CliLog.moc"

// The estimated end of a running program, end to end: a program written through the logger's
// shared link, the simulated chamber running it at a speed-up, and the end /api/chambers gives
// compared with the chamber's own end; after a restart the journal still gives the table; a
// --program file gives it too, and a table that is not the chamber's gives none.
#include "CliProcess.h"
#include "FileBytes.h"
#include "HttpClient.h"
#include "LoopbackPort.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include "core/ControlFrames.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace {

// Simulated seconds per real second: a chamber minute is a real second; under the sanitizers
// three, so that the program outlasts the slower restart of the logger.
#ifdef KALVORA_SANITIZED
constexpr double kSpeedUp = 20;
#else
constexpr double kSpeedUp = 60;
#endif
constexpr int kPeriodSeconds = 2;

// Program 3: at the chamber's own 20 °C, so that its ramps take no time, as a time to mode of
// 0 counts in the estimate; 2 + 4 minutes a cycle, 3 cycles: 18 chamber minutes.
QByteArray ProgramFile(int number, int cycles) {
    return QStringLiteral("\uFEFFПрограмма Kalvora;1\nПрограмма №;%1\nЧисло шагов;2\n"
                          "Число циклов;%2\nНазвание;Выдержка\nОписание;\n"
                          "№ шага;Т, °С;Стабилизация, чч;Стабилизация, мм;Выход,чч;Выход,мм\n"
                          "1;20;0;2;0;0\n2;20;0;4;0;0\n")
        .arg(number)
        .arg(cycles)
        .toUtf8();
}

QJsonObject Chamber(int port) {
    const HttpReply reply = HttpGet(static_cast<quint16>(port), QStringLiteral("/api/chambers"));
    return QJsonDocument::fromJson(reply.body)
        .object()
        .value(QStringLiteral("chambers"))
        .toArray()
        .first()
        .toObject();
}

// When, in real ms since the epoch, the logger expects the chamber to end: its last reading's
// moment (now less the reading's age) plus the time left then, in real time.
struct Expected {
    QString basis;
    double endMs = 0;
};
Expected ExpectedEnd(int port) {
    const qint64 askedAt = QDateTime::currentMSecsSinceEpoch();
    const QJsonObject c = Chamber(port);
    Expected e{c.value(QStringLiteral("run_end_basis")).toString()};
    if (e.basis != QLatin1String("estimated"))
        return e;
    const QDateTime end =
        QDateTime::fromString(c.value(QStringLiteral("run_end_estimate")).toString(), Qt::ISODate);
    const QDateTime read =
        QDateTime::fromString(c.value(QStringLiteral("last_good_reading")).toString(), Qt::ISODate);
    const double readAt = askedAt - c.value(QStringLiteral("age_seconds")).toDouble() * 1000;
    e.endMs = readAt + read.msecsTo(end) / kSpeedUp;
    return e;
}

} // namespace

class tst_CliRunEnd : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    void startLogger(QProcess &logger, const QString &port, int httpPort, const QStringList &more) {
        logger.start(QStringLiteral(CLI_BINARY),
                     QStringList{"log", "1", "--period", QString::number(kPeriodSeconds), "--dir",
                                 dir_.path(), "--port", port, "--http",
                                 QStringLiteral("127.0.0.1:%1").arg(httpPort)} +
                         more);
        QVERIFY(logger.waitForStarted());
    }

    static void stopLogger(QProcess &logger) {
        ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
        QVERIFY(logger.waitForFinished(kEventTimeoutMs));
        QCOMPARE(logger.exitCode(), 0);
    }

private slots:
    void endThroughTheLinkAndAfterARestart() {
        SimulatedLine line({1});
        line.setSpeedUp(kSpeedUp);
        const QString link = dir_.filePath(QStringLiteral("COM2"));
        const int httpPort = FreePort();
        QProcess logger;
        StopOnExit stop{logger};
        startLogger(logger, line.slavePath(), httpPort, {"--share", link});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), kEventTimeoutMs);
        const QString program = dir_.filePath(QStringLiteral("hold.csv"));
        QVERIFY(WriteFile(program, ProgramFile(3, 3)));
        QCOMPARE(RunCli({"write-program", "1", program, "--port", link}).exitCode, 0);
        QCOMPARE(RunCli({"start-program", "1", "3", "--port", link}).exitCode, 0);

        Expected first;
        QTRY_VERIFY_WITH_TIMEOUT((first = ExpectedEnd(httpPort)).basis == "estimated",
                                 kEventTimeoutMs);
        QCOMPARE(Chamber(httpPort).value(QStringLiteral("cycles")).toInt(), 3);
        // The link passes frames only: `read` through it learns the table from its own file.
        const CliRun read = RunCli({"read", "1", "--json", "--program", program, "--port", link});
        QCOMPARE(read.exitCode, 0);
        const QJsonObject reading = QJsonDocument::fromJson(read.out.toUtf8()).object();
        QCOMPARE(reading.value(QStringLiteral("run_end_basis")).toString(),
                 QStringLiteral("estimated"));
        const int left = reading.value(QStringLiteral("run_seconds_left")).toInt();
        QVERIFY2(left > 0 && left <= 18 * 60, qPrintable(read.out));

        // A new run of the logger, with no link and no file: the journal holds the table.
        stopLogger(logger);
        startLogger(logger, line.slavePath(), httpPort, {});
        Expected restarted;
        QTRY_VERIFY_WITH_TIMEOUT((restarted = ExpectedEnd(httpPort)).basis == "estimated",
                                 kEventTimeoutMs);

        const auto running = [&line] {
            line.catchUpClock();
            return line.bus().withModel(1, [](chambersim::ChamberModel &m) {
                return m.mode() == chambersim::Mode::Program;
            });
        };
        QVERIFY(running());
        while (running())
            QThread::msleep(10);
        const double endedAt = QDateTime::currentMSecsSinceEpoch();
        // The counters are whole minutes (a second here): within one period of the logger.
        const double slack = kPeriodSeconds * 1000;
        qInfo("expected end off by %.0f ms, after the restart by %.0f ms", first.endMs - endedAt,
              restarted.endMs - endedAt);
#ifndef KALVORA_SANITIZED // how soon this loop sees the end depends on the machine's load
        QVERIFY2(std::abs(first.endMs - endedAt) <= slack,
                 qPrintable(QStringLiteral("first: %1 ms off").arg(first.endMs - endedAt)));
        QVERIFY2(std::abs(restarted.endMs - endedAt) <= slack,
                 qPrintable(QStringLiteral("restarted: %1 ms off").arg(restarted.endMs - endedAt)));
#endif
        QTRY_COMPARE_WITH_TIMEOUT(
            Chamber(httpPort).value(QStringLiteral("run_end_basis")).toString(),
            QStringLiteral("not running"), kEventTimeoutMs);
        QVERIFY(Chamber(httpPort).value(QStringLiteral("run_end_estimate")).isNull());
        QVERIFY(Chamber(httpPort).value(QStringLiteral("run_seconds_left")).isNull());
    }

    // The chamber runs program 3 with 3 cycles, written at its own panel (not through the
    // logger): a --program file gives the table, or, with other cycles, no end.
    void tableFromAProgramFile_data() {
        QTest::addColumn<int>("fileCycles");
        QTest::addColumn<QString>("basis");
        QTest::newRow("the chamber's table") << 3 << "estimated";
        QTest::newRow("another table") << 4 << "table mismatch";
        QTest::newRow("none") << 0 << "table unknown";
    }
    void tableFromAProgramFile() {
        QFETCH(int, fileCycles);
        QFETCH(QString, basis);
        SimulatedLine line({1});
        const auto write = [&line](const Frame &frame) {
            std::vector<std::uint16_t> values;
            for (std::size_t at = 7; at + 3 < frame.size(); at += 2)
                values.push_back(static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]));
            line.bus().withModel(1, [&](chambersim::ChamberModel &m) {
                return m.writeHolding(frame[2] << 8 | frame[3], values);
            });
        };
        write(BuildStepFrame(1, 3, 1, {20, 0, 2, 0, 0}, 2, 3));
        write(BuildStepFrame(1, 3, 2, {20, 0, 4, 0, 0}, 2, 3));
        write(BuildProgramStartFrame(1, 3));
        // A journal of its own: the other tests' writes are not this chamber's.
        QStringList more{"--events",
                         dir_.filePath(QStringLiteral("events-%1.jsonl").arg(fileCycles))};
        if (fileCycles > 0) {
            const QString file = dir_.filePath(QStringLiteral("p%1.csv").arg(fileCycles));
            QVERIFY(WriteFile(file, ProgramFile(3, fileCycles)));
            more << "--program" << QStringLiteral("1:3=%1").arg(file);
        }
        const int httpPort = FreePort();
        QProcess logger;
        StopOnExit stop{logger};
        startLogger(logger, line.slavePath(), httpPort, more);
        QTRY_VERIFY_WITH_TIMEOUT(Chamber(httpPort).value(QStringLiteral("step")).toInt() == 1,
                                 kEventTimeoutMs);
        const QJsonObject c = Chamber(httpPort);
        QCOMPARE(c.value(QStringLiteral("run_end_basis")).toString(), basis);
        // The chamber's clock stands still: 2 + 4 + 2 × 6 minutes from its first reading.
        const auto time = [&c](const char *key) {
            return QDateTime::fromString(c.value(QLatin1String(key)).toString(), Qt::ISODate);
        };
        if (basis == QLatin1String("estimated"))
            QCOMPARE(time("last_good_reading").secsTo(time("run_end_estimate")), 18 * 60);
        else
            QVERIFY(c.value(QStringLiteral("run_end_estimate")).isNull());
        stopLogger(logger);
    }

    void badProgramOptions_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QByteArray good = ProgramFile(3, 3);
        QTest::newRow("no number") << "1=%1" << good << 2 << "not CHAMBER:NUMBER=FILE";
        QTest::newRow("chamber not logged") << "2:3=%1" << good << 2 << "chamber 2 is not logged";
        QTest::newRow("program 16") << "1:16=%1" << good << 2 << "program 16 is outside 1..15";
        QTest::newRow("another program's file") << "1:4=%1" << good << 2 << "the file is program 3";
        QTest::newRow("plain table")
            << "1:3=%1" << QByteArray("20,0,2,0,0\n") << 2 << "is not a program file";
        QByteArray outOfRange = good;
        outOfRange.replace("1;20;0;2;0;0", "1;500;0;2;0;0");
        QTest::newRow("cell out of range") << "1:3=%1" << outOfRange << 2 << ":8: ";
        QTest::newRow("missing file") << "1:3=%1/none" << QByteArray() << 6 << "cannot read";
    }
    void badProgramOptions() {
        QFETCH(QString, option);
        QFETCH(QByteArray, file);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString path = dir_.filePath(QStringLiteral("bad.csv"));
        QVERIFY(WriteFile(path, file));
        const CliRun run = RunCli({"log", "1", "--dir", dir_.path(), "--port", "/dev/null",
                                   "--program", option.arg(path)});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(tst_CliRunEnd)
#include "tst_CliRunEnd.moc"

// `kalvora-cli log --metrics` scraped by a real Prometheus server, and the chamber's
// temperature found through Prometheus's query API; a metrics port that cannot be listened on
// never keeps the chambers from being logged.
#include "CliProcess.h"
#include "SimulatedLine.h"

#include "core/LogFormat.h"

#include "FileBytes.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "HttpClient.h"
#include "LoopbackPort.h"

using namespace std::chrono_literals;

class tst_CliMetrics : public QObject {
    Q_OBJECT
private slots:
    void prometheusScrapesTheChambers();
    void metricsPortTakenRecordsStillWritten();
    void malformedAddressIsAUsageError_data();
    void malformedAddressIsAUsageError();
};

void tst_CliMetrics::prometheusScrapesTheChambers() {
    const QString prometheus = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    if (prometheus.isEmpty())
        QSKIP("the prometheus binary is missing (./test.sh installs the Debian package)");

    SimulatedLine line({1, 4});
    line.setRawInput(1, 0, 235);
    line.setRawInput(4, 0, 65136);
    QTemporaryDir dir;
    const int metricsPort = FreePort();
    QProcess cli;
    StopOnExit stopCli{cli};
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "1,4,9", "--period", "1", "--timeout", "100", "--dir", dir.path(), "--port",
               line.slavePath(), "--metrics", QStringLiteral("127.0.0.1:%1").arg(metricsPort)});
    QVERIFY(cli.waitForStarted());

    // The exposition itself: every metric with its HELP and TYPE, samples per chamber.
    std::string exposition;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const HttpReply reply = HttpGet(metricsPort, QStringLiteral("/metrics"));
            exposition = reply.body.toStdString();
            return exposition.find("kalvora_chamber_up{chamber=\"9\"} 0") != std::string::npos;
        }(),
        20000);
    const QString text = QString::fromStdString(exposition);
    for (const char *name :
         {"kalvora_chamber_up", "kalvora_chamber_temperature_celsius",
          "kalvora_chamber_set_temperature_celsius", "kalvora_chamber_program",
          "kalvora_chamber_step", "kalvora_chamber_cycle",
          "kalvora_chamber_last_reading_timestamp_seconds", "kalvora_chamber_exchanges_total"}) {
        QVERIFY2(text.contains(QStringLiteral("# HELP %1 ").arg(QLatin1String(name))), name);
        QVERIFY2(text.contains(QStringLiteral("# TYPE %1 ").arg(QLatin1String(name))), name);
    }
    QVERIFY(
        text.contains(QStringLiteral("kalvora_chamber_temperature_celsius{chamber=\"4\"} -40\n")));
    QVERIFY(!text.contains(QStringLiteral("kalvora_chamber_temperature_celsius{chamber=\"9\"}")));
    QVERIFY(text.contains(
        QStringLiteral("kalvora_chamber_exchanges_total{chamber=\"9\",result=\"timeout\"}")));

    const int prometheusPort = FreePort();
    const QString config = dir.filePath(QStringLiteral("prometheus.yml"));
    {
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                  "scrape_configs:\n  - job_name: kalvora\n    static_configs:\n"
                                  "      - targets: ['127.0.0.1:%1']\n")
                       .arg(metricsPort)
                       .toUtf8());
    }
    QProcess server;
    StopOnExit stopServer{server};
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(prometheus,
                 {"--config.file=" + config,
                  "--storage.tsdb.path=" + dir.filePath(QStringLiteral("data")),
                  QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
    QVERIFY(server.waitForStarted());
    server.closeReadChannel(QProcess::StandardError);

    std::string body;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const HttpReply reply = HttpGet(
                prometheusPort,
                "/api/v1/query?query=kalvora_chamber_temperature_celsius%7Bchamber%3D%221%22%7D");
            body = reply.body.toStdString();
            return body.find("\"23.5\"") != std::string::npos;
        }(),
        90000);
    QVERIFY2(body.find("\"chamber\":\"1\"") != std::string::npos, body.c_str());

    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 0);
}

void tst_CliMetrics::metricsPortTakenRecordsStillWritten() {
    const int port = FreePort();
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    QCOMPARE(::listen(holder, 4), 0);

    SimulatedLine line({1});
    line.setRawInput(1, 0, 235);
    QTemporaryDir dir;
    QProcess cli;
    StopOnExit stopCli{cli};
    const QString metrics = QStringLiteral("127.0.0.1:%1").arg(port);
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "1", "--period", "1", "--record-every", "1", "--timeout", "100", "--dir",
               dir.path(), "--port", line.slavePath(), "--metrics", metrics});
    QVERIFY(cli.waitForStarted());
    const QByteArray header = ToWindows1251(LogHeader() + QStringLiteral("\r\n"));
    QString log;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QStringList found = QDir(dir.path()).entryList({"*.txt"}, QDir::Files);
            log = found.size() == 1 ? dir.filePath(found.first()) : QString();
            const QByteArray bytes = ReadAll(log);
            return bytes.startsWith(header) && bytes.count("\r\n\r\n") >= 2;
        }(),
        20000);
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    ::close(holder);
    QCOMPARE(cli.exitCode(), 0);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(err.startsWith(QStringLiteral("kalvora-cli: warning: --metrics %1: Address already "
                                           "in use; logging goes on")
                                .arg(metrics)),
             qPrintable(err));
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
}

void tst_CliMetrics::malformedAddressIsAUsageError_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv6 without brackets") << "::1:9731";
    QTest::newRow("no port") << "localhost";
    QTest::newRow("port 0") << "127.0.0.1:0";
}

// Checked before anything starts: no file is made.
void tst_CliMetrics::malformedAddressIsAUsageError() {
    QFETCH(QString, address);
    SimulatedLine line({1});
    QTemporaryDir dir;
    const CliRun run = RunCli({"log", "1", "--period", "1", "--dir", dir.path(), "--port",
                               line.slavePath(), "--metrics", address});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(QStringLiteral("is not [HOST:]PORT")), qPrintable(run.err));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(tst_CliMetrics)
#include "tst_CliMetrics.moc"

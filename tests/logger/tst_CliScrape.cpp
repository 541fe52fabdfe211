// `kalvora-cli log` with an alarm, a shared link and --http, scraped at its real /metrics: the
// alarm's gauge follows the chamber; every metric the shipped alerting rules and the README
// name is in the scrape, and so is every series the rules' own tests feed them; promtool accepts
// the scrape, a link path with a double quote and a backslash included. The names are read from
// those files here, so that a rule or a README line added later is checked too.
#include "CliProcess.h"
#include "HttpClient.h"
#include "LoopbackPort.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <yaml-cpp/yaml.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

using chambersim::ChamberFaults;
using namespace std::chrono_literals;

namespace {

QString SourceFile(const char *path) {
    return QStringLiteral(KALVORA_SOURCE_DIR "/") + QLatin1String(path);
}

// Metric names as the rules' expressions use them: ours all start with kalvora_.
QSet<QString> NamesIn(const QString &text, const QRegularExpression &pattern) {
    QSet<QString> names;
    for (const QRegularExpressionMatch &m : pattern.globalMatch(text))
        names << m.captured(1);
    return names;
}

QSet<QString> RuleMetricNames() {
    const YAML::Node rules = YAML::LoadFile(SourceFile("packaging/kalvora-alerts.yml").toStdString());
    QString expressions;
    for (const YAML::Node &group : rules["groups"])
        for (const YAML::Node &rule : group["rules"])
            expressions += QString::fromStdString(rule["expr"].as<std::string>()) + '\n';
    return NamesIn(expressions, QRegularExpression(QStringLiteral(R"(\b(kalvora_[A-Za-z0-9_:]+))")));
}

// The README names a metric as code: `kalvora_chamber_up`, `kalvora_alarm_active{chamber,kind}`.
QSet<QString> ReadmeMetricNames() {
    QFile readme(SourceFile("README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    return NamesIn(QString::fromUtf8(readme.readAll()),
                   QRegularExpression(QStringLiteral("`(kalvora_[a-z][a-z0-9_]*)")));
}

// The series the rules' tests feed them, as "name{label=...}" selectors.
QStringList RuleTestSeries() {
    const YAML::Node tests =
        YAML::LoadFile(SourceFile("tests/package/kalvora-alerts.test.yml").toStdString());
    QStringList series;
    for (const YAML::Node &test : tests["tests"])
        for (const YAML::Node &input : test["input_series"])
            series << QString::fromStdString(input["series"].as<std::string>());
    return series;
}

// The samples of one family in a scrape, each line whole.
QStringList Samples(const QString &scrape, const QString &name) {
    QStringList found;
    for (const QString &line : scrape.split(QLatin1Char('\n')))
        if (line.startsWith(name + QLatin1Char('{')) || line.startsWith(name + QLatin1Char(' ')))
            found << line;
    return found;
}

QString Scrape(int port) {
    const HttpReply reply = HttpGet(static_cast<quint16>(port), QStringLiteral("/metrics"));
    return reply.status == 200 ? QString::fromUtf8(reply.body) : QString();
}

bool ScrapeUntil(int port, const std::function<bool(const QString &)> &holds, QString &scrape,
                 std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!holds(scrape = Scrape(port))) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

} // namespace

class tst_CliScrape : public QObject {
    Q_OBJECT
private slots:
    void realScrapeHoldsWhatTheRulesAndTheReadmeName();
};

void tst_CliScrape::realScrapeHoldsWhatTheRulesAndTheReadmeName() {
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is missing (./test.sh installs Debian's prometheus)");
    SimulatedLine line({1, 2});
    line.setTemperatures(1, 235, 250);
    line.setTemperatures(2, 612, 600);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral(R"(bench "1" \ COM2)"));
    const int port = FreePort();
    QProcess cli;
    StopOnExit stop{cli};
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "1,2", "--period", "1", "--timeout", "100", "--dir", dir.path(), "--port",
               line.slavePath(), "--http", QStringLiteral("127.0.0.1:%1").arg(port), "--share",
               link, "--alarm", "2 silent 3s", "--on-alarm",
               QStandardPaths::findExecutable(QStringLiteral("true"))});
    QVERIFY(cli.waitForStarted());

    const QString active = QStringLiteral("\nkalvora_alarm_active{chamber=\"2\",kind=\"silent\"} %1\n");
    const auto timeout = 30000ms * kTimingSlack;
    QString scrape;
    QVERIFY2(ScrapeUntil(port, [&](const QString &s) {
                 return s.contains(active.arg(0)) &&
                        s.contains(QLatin1String("kalvora_chamber_up{chamber=\"2\"} 1"));
             }, scrape, timeout),
             qPrintable(scrape));
    line.setFaults(2, ChamberFaults{.silentFirst = 1 << 30});
    QVERIFY2(ScrapeUntil(port, [&](const QString &s) { return s.contains(active.arg(1)); }, scrape,
                         timeout),
             qPrintable(scrape));
    const QString raised = scrape;
    line.setFaults(2, ChamberFaults{});
    QVERIFY2(ScrapeUntil(port, [&](const QString &s) { return s.contains(active.arg(0)); }, scrape,
                         timeout),
             qPrintable(scrape));

    // What the rules and the README name, as samples of the scrape taken while the alarm held.
    const QSet<QString> ruleNames = RuleMetricNames();
    const QSet<QString> readmeNames = ReadmeMetricNames();
    QVERIFY(ruleNames.contains(QStringLiteral("kalvora_alarm_active")));
    QVERIFY(readmeNames.contains(QStringLiteral("kalvora_client_requests_total")));
    for (const QString &name : ruleNames + readmeNames)
        QVERIFY2(!Samples(raised, name).isEmpty(), qPrintable(name + QLatin1String(" is not in:\n") + raised));

    // The rules' tests feed them real series: our names, with labels the samples have
    // (job and instance are Prometheus's own, and so is "up").
    const QRegularExpression selector(QStringLiteral(R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)\{(.*)\}$)"));
    const QRegularExpression labelName(QStringLiteral(R"((?:^|,)\s*([a-zA-Z_][a-zA-Z0-9_]*)=)"));
    const QStringList series = RuleTestSeries();
    QVERIFY(!series.isEmpty());
    for (const QString &s : series) {
        const QRegularExpressionMatch m = selector.match(s);
        QVERIFY2(m.hasMatch(), qPrintable(s));
        if (m.captured(1) == QLatin1String("up"))
            continue;
        const QStringList samples = Samples(raised, m.captured(1));
        QVERIFY2(!samples.isEmpty(), qPrintable(s + QLatin1String(": no such metric")));
        for (const QRegularExpressionMatch &l : labelName.globalMatch(m.captured(2))) {
            const QString name = l.captured(1);
            if (name == QLatin1String("job") || name == QLatin1String("instance"))
                continue;
            QVERIFY2(samples.first().contains(QLatin1Char('{') + name + QLatin1String("=\"")) ||
                         samples.first().contains(QLatin1Char(',') + name + QLatin1String("=\"")),
                     qPrintable(s + QLatin1String(": the metric has no label ") + name));
        }
    }

    // The link's path, escaped; every family once; promtool finds nothing to say.
    QVERIFY2(raised.contains(QStringLiteral(R"(kalvora_client_requests_total{link="%1",result="ok"})")
                                 .arg(QString(link).replace(QLatin1String("\\"), QLatin1String("\\\\"))
                                          .replace(QLatin1String("\""), QLatin1String("\\\"")))),
             qPrintable(raised));
    for (const QString &typeLine : raised.split(QLatin1Char('\n')))
        if (typeLine.startsWith(QLatin1String("# TYPE ")))
            QCOMPARE(raised.count(typeLine + QLatin1Char('\n')), 1);
    for (const QString &text : {raised, scrape}) {
        QProcess check;
        check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
        QVERIFY(check.waitForStarted());
        check.write(text.toUtf8());
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
        QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    }

    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliScrape)
#include "tst_CliScrape.moc"

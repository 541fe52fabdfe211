// The tools as cron or a system service starts them: no display, no XDG_RUNTIME_DIR, no locale,
// a short PATH. The simulator makes the line, kalvora-cli reads and logs the chamber on it, and
// kalvora-plot draws the log; each prints its own output and nothing of Qt's.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QProcessEnvironment PlainEnvironment() {
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), QDir::homePath());
    env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    // An instrumented build needs its suppressions; they print nothing when all is well.
    const QProcessEnvironment ours = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        if (ours.contains(QLatin1String(name)))
            env.insert(QLatin1String(name), ours.value(QLatin1String(name)));
    return env;
}

struct ToolRun {
    int exitCode = -1; // -1: crashed or did not end in time
    QByteArray out;
    QByteArray err;
};

ToolRun RunTool(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessEnvironment(PlainEnvironment());
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class tst_PlainEnvironment : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void toolsPrintOnlyTheirOwn_data();
    void toolsPrintOnlyTheirOwn();
    void helpFitsEightyColumns_data();
    void helpFitsEightyColumns();

private:
    QTemporaryDir dir_;
    QProcess sim_;
    QString link_;
    QString log_;
};

// The simulator on a pseudo-terminal, and a log of its chamber 1 written by kalvora-cli: both
// in the plain environment too.
void tst_PlainEnvironment::initTestCase() {
    QVERIFY(dir_.isValid());
    link_ = dir_.filePath(QStringLiteral("ttySIM"));
    sim_.setProcessEnvironment(PlainEnvironment());
    sim_.start(QStringLiteral(SIM_BINARY),
               {QStringLiteral("--link"), link_, QStringLiteral("--chamber"), QStringLiteral("1")});
    QVERIFY(sim_.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(link_), 10000);

    const QString logs = dir_.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkpath(logs));
    QProcess logger;
    logger.setProcessEnvironment(PlainEnvironment());
    logger.start(QStringLiteral(CLI_BINARY),
                 {QStringLiteral("log"), QStringLiteral("1"), QStringLiteral("--port"), link_,
                  QStringLiteral("--dir"), logs, QStringLiteral("--period"), QStringLiteral("1"),
                  QStringLiteral("--record-every"), QStringLiteral("1")});
    QVERIFY(logger.waitForStarted());
    // Two records: the header line and its empty line, then two records of two lines each.
    const auto logLines = [&] {
        const QStringList files = QDir(logs).entryList({QStringLiteral("*.txt")}, QDir::Files);
        if (files.size() != 1)
            return 0;
        log_ = QDir(logs).filePath(files.front());
        QFile file(log_);
        return file.open(QIODevice::ReadOnly) ? static_cast<int>(file.readAll().count('\n')) : 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(logLines() >= 6, 30000);
    ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
    QVERIFY(logger.waitForFinished(10000));
    QCOMPARE(logger.exitCode(), 0);
    const QByteArray err = logger.readAllStandardError();
    QVERIFY2(err.isEmpty(), err.constData());
}

void tst_PlainEnvironment::cleanupTestCase() {
    if (sim_.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(sim_.processId()), SIGTERM);
    QVERIFY(sim_.waitForFinished(10000));
    const QByteArray err = sim_.readAllStandardError();
    QVERIFY2(err.isEmpty(), err.constData());
}

void tst_PlainEnvironment::toolsPrintOnlyTheirOwn_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments"); // {port}, {log} and {dir} are filled in
    QTest::addColumn<QString>("written");       // the file the run makes, if any
    const QString cli = QStringLiteral(CLI_BINARY), plot = QStringLiteral(PLOT_BINARY),
                  sim = QStringLiteral(SIM_BINARY), window = QStringLiteral(WINDOW_BINARY);
    // The window program answers these without a display, and opens no window.
    QTest::newRow("kalvora --help") << window << QStringList{"--help"} << "";
    QTest::newRow("kalvora --version") << window << QStringList{"--version"} << "";
    QTest::newRow("kalvora-cli --help") << cli << QStringList{"--help"} << "";
    QTest::newRow("kalvora-cli --version") << cli << QStringList{"--version"} << "";
    QTest::newRow("kalvora-cli scan")
        << cli << QStringList{"scan", "--to", "2", "--port", "{port}"} << "";
    QTest::newRow("kalvora-cli read") << cli << QStringList{"read", "1", "--port", "{port}"} << "";
    QTest::newRow("kalvora-cli read --json")
        << cli << QStringList{"read", "1", "--json", "--port", "{port}"} << "";
    QTest::newRow("kalvora-cli set-point")
        << cli << QStringList{"set-point", "1", "25", "--port", "{port}"} << "";
    QTest::newRow("kalvora-plot --help") << plot << QStringList{"--help"} << "";
    QTest::newRow("kalvora-plot --version") << plot << QStringList{"--version"} << "";
    QTest::newRow("kalvora-plot --csv")
        << plot << QStringList{"{log}", "--csv", "{dir}/out.csv"} << "out.csv";
    for (const char *type : {"png", "svg", "pdf"}) {
        const QString file = QStringLiteral("out.") + QLatin1String(type);
        QTest::addRow("kalvora-plot -o %s", type)
            << plot << QStringList{"{log}", "-o", "{dir}/" + file} << file;
    }
    QTest::newRow("kalvora-chamber-sim --help") << sim << QStringList{"--help"} << "";
    QTest::newRow("kalvora-chamber-sim --version") << sim << QStringList{"--version"} << "";
}

void tst_PlainEnvironment::toolsPrintOnlyTheirOwn() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, written);
    arguments.replaceInStrings(QStringLiteral("{port}"), link_);
    arguments.replaceInStrings(QStringLiteral("{log}"), log_);
    arguments.replaceInStrings(QStringLiteral("{dir}"), dir_.path());
    const ToolRun run = RunTool(program, arguments);
    QVERIFY2(run.err.isEmpty(), run.err.constData());
    QCOMPARE(run.exitCode, 0);
    if (!written.isEmpty())
        QVERIFY(QFileInfo(dir_.filePath(written)).size() > 0);
}

// Every tool's and every command's help, as a terminal of 80 columns shows it.
void tst_PlainEnvironment::helpFitsEightyColumns_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    const QString cli = QStringLiteral(CLI_BINARY), plot = QStringLiteral(PLOT_BINARY),
                  sim = QStringLiteral(SIM_BINARY), window = QStringLiteral(WINDOW_BINARY);
    QTest::newRow("kalvora") << window << QStringList{"--help"};
    QTest::newRow("kalvora-cli") << cli << QStringList{"--help"};
    // The commands as the tool's own help lists them, so that a new one is covered too.
    const ToolRun top = RunTool(cli, {QStringLiteral("--help")});
    const QString listed = QString::fromUtf8(top.out);
    const QString commands = listed.section(QStringLiteral("Commands:\n"), 1).section(
        QStringLiteral("\n\n"), 0, 0);
    static const QRegularExpression name(QStringLiteral("^  ([a-z][a-z-]+)"));
    for (const QString &line : commands.split(QLatin1Char('\n'))) {
        const auto match = name.match(line);
        if (match.hasMatch())
            QTest::addRow("kalvora-cli %s", qPrintable(match.captured(1)))
                << cli << QStringList{match.captured(1), QStringLiteral("--help")};
    }
    QTest::newRow("kalvora-plot") << plot << QStringList{"--help"};
    QTest::newRow("kalvora-plot report") << plot << QStringList{"report", "--help"};
    QTest::newRow("kalvora-chamber-sim") << sim << QStringList{"--help"};
}

void tst_PlainEnvironment::helpFitsEightyColumns() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    const ToolRun run = RunTool(program, arguments);
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = QString::fromUtf8(run.out).split(QLatin1Char('\n'));
    QVERIFY(lines.size() > 3);
    for (const QString &line : lines)
        QVERIFY2(line.size() <= 80, qPrintable(QStringLiteral("%1 columns: %2").arg(line.size()).arg(line)));
    // Our own words, not the toolkit's.
    QVERIFY(!run.out.contains("Displays help on commandline options"));
    QVERIFY(!run.out.contains("--help-all"));
}

QTEST_GUILESS_MAIN(tst_PlainEnvironment)
#include "tst_PlainEnvironment.moc"

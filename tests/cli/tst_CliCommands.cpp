// kalvora-cli's one-shot commands as processes against the simulated chambers on a pty.
#include "CliProcess.h"
#include "FileBytes.h"
#include "SimulatedLine.h"

#include "core/ControlFrames.h"
#include "core/ModbusRtu.h"
#include "core/ProgramFile.h"
#include "platform/LineExchange.h"
#include "platform/SerialPort.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using chambersim::ChamberFaults;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

QStringList WithPort(const SimulatedLine &line, QStringList arguments) {
    // Right after the command, so that arguments after a "--" stay arguments.
    arguments.insert(1, QStringLiteral("--port"));
    arguments.insert(2, line.slavePath());
    return arguments;
}

// Requests that reached the chambers, in order.
std::vector<Bytes> Requests(const SimulatedLine &line) {
    std::vector<Bytes> requests;
    for (const ReceivedFrame &frame : line.received())
        if (frame.isRequest)
            requests.push_back(frame.bytes);
    return requests;
}

// A file of `content` in `dir`; its path.
QString FileIn(const QTemporaryDir &dir, const QString &name, const QByteArray &content) {
    const QString path = dir.filePath(name);
    if (!WriteFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class tst_CliCommands : public QObject {
    Q_OBJECT
private slots:
    void scanFindsChambersAndSkipsSilentOnes();
    void scanWithEchoOnTheLine();
    void readDecodesTable_data();
    void readDecodesTable();
    void readExitCodes();
    void controlCommandsSendTheWindowsFrames_data();
    void controlCommandsSendTheWindowsFrames();
    void writeProgramSendsStepFrames();
    void writeProgramRejectsBadCells_data();
    void writeProgramRejectsBadCells();
    void writeProgramFileSendsItsProgram();
    void writeProgramFileRejected_data();
    void writeProgramFileRejected();
    void dryRunChecksAndSendsNothing();
    void confirmTurnsMissingResponseIntoFailure();
    void secondOpenerGetsExit3();
    void usageErrorsExit2();
    void noisyLineEndsTheCommand_data();
    void noisyLineEndsTheCommand();
    void vanishedPortIsNamed();
    void helpShowsOnlyOurOptions_data();
    void helpShowsOnlyOurOptions();
};

void tst_CliCommands::noisyLineEndsTheCommand_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("read") << QStringList{"read", "1"};
    // Without --confirm a missing response is a warning, but this frame never went out.
    QTest::newRow("start, a write") << QStringList{"start", "1"};
}

// A line that never falls quiet ends each try at its give-up time; the command then fails with
// that outcome instead of waiting for a gap that never comes. A busy machine may leave real gaps
// in the simulator's noise (see tst_LineExchange), in which the command rightly goes through:
// such a round is run again, with short tries to make a stall less likely.
void tst_CliCommands::noisyLineEndsTheCommand() {
    QFETCH(QStringList, arguments);
    SimulatedLine line({1});
    const QString neverQuiet = QStringLiteral("kalvora-cli: chamber 1: line never quiet\n");
    bool stalled = false;
    for (int round = 0; round < 20; ++round) {
        line.clearReceived();
        line.startNoise();
        QTRY_VERIFY_WITH_TIMEOUT(line.noise().bytes >= 20, 10000);
        const auto started = std::chrono::steady_clock::now();
        const CliRun run =
            RunCli(WithPort(line, arguments + QStringList{"--tries", "1", "--timeout", "20"}),
                   30000);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        stalled = stalled || line.noise().longestGap >= LineExchange::kFrameGap;
        line.stopNoise();
        QVERIFY2(run.exitCode != -1, "the command did not end");
        if (run.err != neverQuiet)
            continue;
        QCOMPARE(run.exitCode, 4);
        QVERIFY(elapsed >= LineExchange::giveUpAfter(20ms));
        QVERIFY(Requests(line).empty()); // never sent
        return;
    }
    if (stalled)
        QSKIP("the machine held the simulator's noise up in every round");
    QFAIL("a line that never paused was never found never quiet");
}

// The adapter is unplugged while a reply is awaited: the message names the port and its device.
void tst_CliCommands::vanishedPortIsNamed() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyADAPTER");
    SimulatedLine line({1}, link);
    ChamberFaults slow;
    slow.replyDelayMs = 60000;
    line.setFaults(1, slow);
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KALVORA_COM1"), link);
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(CLI_BINARY), {"read", "1", "--timeout", "30000"});
    QVERIFY(cli.waitForStarted());
    QVERIFY(line.waitForReceived(1, 10s));
    line.vanish(3s);
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 3);
    QCOMPARE(QString::fromUtf8(cli.readAllStandardError()),
             QStringLiteral("kalvora-cli: port COM1 (%1) lost: Input/output error\n").arg(link));
}

void tst_CliCommands::scanFindsChambersAndSkipsSilentOnes() {
    // 2 answers only its fifth probe; 4 answers with a damaged CRC; 3 is silent (no chamber).
    SimulatedLine line({1, 2, 4, 6});
    ChamberFaults late;
    late.silentFirst = 4;
    line.setFaults(2, late);
    ChamberFaults damaged;
    damaged.breakCrc = true;
    line.setFaults(4, damaged);
    const CliRun run = RunCli(WithPort(line, {"scan", "--from", "0", "--to", "7", "--timeout", "60"}));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("1\n2\n6\n"));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err)); // no progress line when not a terminal
    // The window's probe: a read of 3 input registers; 5 tries for each address that is silent.
    const auto requests = Requests(line);
    const auto probe3 = BuildReadRequest(3, 4, 3);
    QCOMPARE(std::count(requests.begin(), requests.end(), Bytes(probe3.begin(), probe3.end())), 5);
}

void tst_CliCommands::scanWithEchoOnTheLine() {
    SimulatedLine line({0, 5});
    line.setEcho(true);
    const CliRun run = RunCli(WithPort(line, {"scan", "--to", "6", "--tries", "1", "--timeout", "40"}));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("0\n5\n"));
}

void tst_CliCommands::readDecodesTable_data() {
    QTest::addColumn<QList<int>>("registers"); // register, value pairs
    QTest::addColumn<QString>("json");
    QTest::newRow("plausible") << QList<int>{0, 235, 1, 2, 2, 65336, 4, 1, 5, 30, 6, 123, 7, 45,
                                            8, 9, 9, 0, 10, 3, 11, 12, 12, 2, 13, 65535, 14, 605}
                               << R"({"address": 1, "current_temperature": 23.5, "set_temperature": -20, "time_to_mode": "123:45", "stabilisation_time": "01:30", "time_to_mode_set_point": "10:05", "stabilisation_set_point": "09:00", "program": 2, "step": 3, "steps": 12, "cycle": 2, "cycles": 65535})";
    QTest::newRow("implausible") << QList<int>{0, 2500, 1, 20, 2, 64536, 4, 200, 5, 1, 6, 5,
                                               7, 60, 8, 1, 9, 60, 10, 3, 11, 20, 12, 1000,
                                               13, 4, 14, 12000}
                                 << R"({"address": 1, "current_temperature": null, "set_temperature": null, "time_to_mode": null, "stabilisation_time": null, "time_to_mode_set_point": null, "stabilisation_set_point": null, "program": null, "step": null, "steps": null, "cycle": null, "cycles": null})";
    QTest::newRow("edges") << QList<int>{0, 64537, 1, 19, 2, 2499, 4, 199, 5, 59, 6, 999, 7, 0,
                                         8, 0, 9, 59, 10, 19, 11, 19, 12, 999, 13, 0, 14, 11999}
                           << R"({"address": 1, "current_temperature": -99.9, "set_temperature": 249.9, "time_to_mode": "999:00", "stabilisation_time": "199:59", "time_to_mode_set_point": "199:59", "stabilisation_set_point": "00:59", "program": 19, "step": 19, "steps": 19, "cycle": 999, "cycles": 0})";
}

void tst_CliCommands::readDecodesTable() {
    QFETCH(QList<int>, registers);
    QFETCH(QString, json);
    SimulatedLine line({1});
    for (qsizetype i = 0; i < registers.size(); i += 2)
        line.setRawInput(1, registers[i], static_cast<std::uint16_t>(registers[i + 1]));
    const CliRun run = RunCli(WithPort(line, {"read", "1", "--json"}));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, json + QLatin1Char('\n'));
    QVERIFY(QJsonDocument::fromJson(run.out.toUtf8()).isObject());

    const CliRun text = RunCli(WithPort(line, {"read", "1"}));
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.out.count(QLatin1Char('\n')), 9); // one line per figure
}

void tst_CliCommands::readExitCodes() {
    SimulatedLine line({1, 2, 3});
    ChamberFaults refusing;
    refusing.exceptionReply = true;
    line.setFaults(2, refusing);
    ChamberFaults late;
    late.silentFirst = 2; // answers the third and last try
    line.setFaults(3, late);

    const auto started = std::chrono::steady_clock::now();
    const CliRun silent = RunCli(WithPort(line, {"read", "9", "--tries", "2", "--timeout", "300"}));
    QCOMPARE(silent.exitCode, 4);
    QVERIFY(std::chrono::steady_clock::now() - started >= 600ms); // tries x timeout of silence
    QCOMPARE(silent.err, QStringLiteral("kalvora-cli: chamber 9: no answer\n"));

    const CliRun refused = RunCli(WithPort(line, {"read", "2"}));
    QCOMPARE(refused.exitCode, 4);
    QVERIFY2(refused.err.contains(QStringLiteral("exception 4")), qPrintable(refused.err));
    QCOMPARE(line.bus().requestCount(2), 1); // an exception is an answer: no retry

    QCOMPARE(RunCli(WithPort(line, {"read", "3", "--timeout", "100"})).exitCode, 0);
}

void tst_CliCommands::controlCommandsSendTheWindowsFrames_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Bytes>("frame");
    QTest::newRow("start") << QStringList{"start", "1"} << BuildManualModeFrame(1, true);
    QTest::newRow("stop") << QStringList{"stop", "1"} << BuildManualModeFrame(1, false);
    QTest::newRow("start-program") << QStringList{"start-program", "7", "3"}
                                   << BuildProgramStartFrame(7, 3);
    QTest::newRow("stop-program") << QStringList{"stop-program", "250"}
                                  << BuildProgramStopFrame(250);
    QTest::newRow("set-point 25") << QStringList{"set-point", "1", "25"} << BuildSetPointFrame(1, 25);
    QTest::newRow("set-point -20") << QStringList{"set-point", "1", "-20"}
                                   << BuildSetPointFrame(1, -20);
    QTest::newRow("set-point -- -85") << QStringList{"set-point", "0", "--", "-85"}
                                      << BuildSetPointFrame(0, -85);
}

void tst_CliCommands::controlCommandsSendTheWindowsFrames() {
    QFETCH(QStringList, arguments);
    QFETCH(Bytes, frame);
    SimulatedLine line({0, 1, 7, 250});
    const CliRun run = RunCli(WithPort(line, arguments));
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err)); // the chamber's response came
    QCOMPARE(Requests(line), std::vector<Bytes>{frame});
}

void tst_CliCommands::writeProgramSendsStepFrames() {
    SimulatedLine line({1});
    QTemporaryDir dir;
    const QString csv = FileIn(dir, "program.csv",
                               "temperature,stab h,stab min,mode h,mode min\n"
                               "-40,1,30,0,45\n"
                               "# keep warm\n"
                               "\n"
                               "180,99,59,99,59\r\n"
                               " 0,0,0,0,0\n");
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = RunCli(WithPort(line, {"write-program", "1", "--program", "2", "--cycles",
                                              "125", csv}));
    QCOMPARE(run.exitCode, 0);
    QVERIFY(std::chrono::steady_clock::now() - started >= 1000ms); // three frames 500 ms apart
    const std::vector<Bytes> expected{
        BuildStepFrame(1, 2, 1, {-40, 1, 30, 0, 45}, 3, 125),
        BuildStepFrame(1, 2, 2, {180, 99, 59, 99, 59}, 3, 125),
        BuildStepFrame(1, 2, 3, {0, 0, 0, 0, 0}, 3, 125)};
    QCOMPARE(Requests(line), expected);
    // The window's example frame for the first row.
    QCOMPARE(expected[0], (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x0D, 0x1A, 0x00, 0x02, 0x00, 0x01,
                                 0x00, 0x28, 0x00, 0x01, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x03, 0x00,
                                 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x2D, 0x00, 0x02, 0x00, 0x05,
                                 0x8D, 0x09}));
}

void tst_CliCommands::writeProgramRejectsBadCells_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("where");
    const QStringList good{"--program", "1", "--cycles", "10"};
    QTest::newRow("temperature 181") << QByteArray("20,0,0,0,0\n181,0,0,0,0\n") << good
                                     << "row 2, column 1 (temperature): 181 is outside -85..180";
    QTest::newRow("letter") << QByteArray("20,0,x,0,0\n") << good
                            << "row 1, column 3 (stabilisation minutes): 'x' is not a valid integer value";
    QTest::newRow("empty cell") << QByteArray("# c\n20,0,0,,0\n") << good
                                << "row 2, column 4 (time-to-mode hours): empty";
    QTest::newRow("minutes 60") << QByteArray("20,0,0,0,60\n") << good
                                << "row 1, column 5 (time-to-mode minutes): 60 is outside 0..59";
    QTest::newRow("short row") << QByteArray("20,0,0\n") << good
                               << "row 1, column 4 (time-to-mode hours): a step has 5 columns";
    QTest::newRow("16 steps") << QByteArray("1,0,0,0,0\n").repeated(16) << good
                              << "row 16: a program has at most 15 steps";
    QTest::newRow("cycles 1000") << QByteArray("20,0,0,0,0\n")
                                 << QStringList{"--program", "1", "--cycles", "1000"}
                                 << "--cycles: '1000' is outside 1..999";
}

void tst_CliCommands::writeProgramRejectsBadCells() {
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, options);
    QFETCH(QString, where);
    SimulatedLine line({1});
    QTemporaryDir dir;
    const QString path = FileIn(dir, "p.csv", csv);
    const CliRun run = RunCli(WithPort(line, QStringList{"write-program", "1", path} + options));
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains(where), qPrintable(run.err));
    QVERIFY(!line.waitForReceived(1, 100ms)); // nothing sent
}

namespace {

ProgramTexts ThreeStepProgram() {
    ProgramTexts texts;
    texts.programNumber = "2";
    texts.steps = "3";
    texts.cycles = "125";
    texts.name = "Термоцикл";
    texts.cells[0] = {"-40", "1", "30", "0", "45"};
    texts.cells[1] = {"180", "99", "59", "99", "59"};
    texts.cells[2] = {" 0", "0", "0", "0", "0"};
    return texts;
}

std::vector<Bytes> ThreeStepFrames(int program, int cycles) {
    return {BuildStepFrame(1, program, 1, {-40, 1, 30, 0, 45}, 3, cycles),
            BuildStepFrame(1, program, 2, {180, 99, 59, 99, 59}, 3, cycles),
            BuildStepFrame(1, program, 3, {0, 0, 0, 0, 0}, 3, cycles)};
}

} // namespace

// The file's own program number and cycles, unless the command line gives others.
void tst_CliCommands::writeProgramFileSendsItsProgram() {
    QTemporaryDir dir;
    const QString path = FileIn(dir, "p.csv", WriteProgramFile(ThreeStepProgram(), false));
    {
        SimulatedLine line({1});
        const CliRun run = RunCli(WithPort(line, {"write-program", "1", path}));
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(Requests(line), ThreeStepFrames(2, 125));
    }
    SimulatedLine line({1});
    const CliRun run =
        RunCli(WithPort(line, {"write-program", "1", "--program", "9", "--cycles", "7", path}));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(Requests(line), ThreeStepFrames(9, 7));
}

void tst_CliCommands::writeProgramFileRejected_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    ProgramTexts outOfRange = ThreeStepProgram();
    outOfRange.cells[1][0] = "181";
    QTest::newRow("cell out of range")
        << WriteProgramFile(outOfRange, false) << QStringList() << 5
        << "p.csv:9: step 2, Т, °С: 181 is outside -85..180";
    ProgramTexts draft = ThreeStepProgram();
    draft.cells[2][4] = "";
    QTest::newRow("draft") << WriteProgramFile(draft, true) << QStringList() << 5
                           << "p.csv:11: step 3, Выход,мм: empty";
    QTest::newRow("not a program")
        << QByteArray("Программа;1\n") << QStringList{"--program", "1", "--cycles", "1"} << 5
        << "p.csv: no steps";
    ProgramTexts unnumbered = ThreeStepProgram();
    unnumbered.programNumber.clear();
    QTest::newRow("no program number") << WriteProgramFile(unnumbered, false) << QStringList()
                                       << 2 << "the file names no program number";
    ProgramTexts badCycles = ThreeStepProgram();
    badCycles.cycles = "0";
    QTest::newRow("the file's cycles, replaced")
        << WriteProgramFile(badCycles, false) << QStringList{"--cycles", "1000"} << 5
        << "--cycles: '1000' is outside 1..999";
}

void tst_CliCommands::writeProgramFileRejected() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    SimulatedLine line({1});
    QTemporaryDir dir;
    const QString path = FileIn(dir, "p.csv", bytes);
    const CliRun run = RunCli(WithPort(line, QStringList{"write-program", "1", path} + options));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!line.waitForReceived(1, 100ms));
}

void tst_CliCommands::dryRunChecksAndSendsNothing() {
    SimulatedLine line({1});
    QTemporaryDir dir;
    const QString path = FileIn(dir, "p.csv", WriteProgramFile(ThreeStepProgram(), false));
    const QDateTime before = QDateTime::currentDateTime();
    const CliRun run = RunCli(WithPort(line, {"write-program", "--dry-run", "1", path}));
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // (135 + 11998 + 0) min a cycle, 125 cycles.
    const qint64 minutes = 1516625;
    QVERIFY2(run.out.contains("total duration: 1053 d 05 h 05 min (1516625 min)"),
             qPrintable(run.out));
    QVERIFY2(run.out.contains("time to mode 0 in step 3: the chamber sets its own rate"),
             qPrintable(run.out));
    const qsizetype at = run.out.indexOf("end if started now: ");
    QVERIFY(at >= 0);
    const QDateTime end =
        QDateTime::fromString(run.out.mid(at + 20, 19), Qt::ISODate);
    QVERIFY(end.isValid());
    QVERIFY(end >= before.addSecs(minutes * 60 - 1));
    QVERIFY(end <= QDateTime::currentDateTime().addSecs(minutes * 60 + 1));
    QVERIFY(!line.waitForReceived(1, 100ms));
    // Without an address as well.
    QCOMPARE(RunCli({"write-program", "--dry-run", path}).exitCode, 0);
}

void tst_CliCommands::confirmTurnsMissingResponseIntoFailure() {
    SimulatedLine line({1});
    const CliRun warned = RunCli(WithPort(line, {"start", "2", "--timeout", "100"}));
    QCOMPARE(warned.exitCode, 0);
    QVERIFY2(warned.err.contains(QStringLiteral("warning: chamber 2: no answer")),
             qPrintable(warned.err));
    const CliRun confirmed = RunCli(WithPort(line, {"start", "2", "--timeout", "100", "--confirm"}));
    QCOMPARE(confirmed.exitCode, 4);
    QCOMPARE(RunCli(WithPort(line, {"stop", "1", "--confirm"})).exitCode, 0);
}

void tst_CliCommands::secondOpenerGetsExit3() {
    SimulatedLine line({1});
    SerialPort holder;
    QString reason;
    QVERIFY(holder.open(line.slavePath(), &reason));
    const CliRun run = RunCli(WithPort(line, {"read", "1"}));
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.err, QStringLiteral("kalvora-cli: port %1 (%1) is in use\n").arg(line.slavePath()));

    qputenv("KALVORA_COM1", line.slavePath().toLocal8Bit());
    const CliRun named = RunCli({"read", "1"});
    qunsetenv("KALVORA_COM1");
    QCOMPARE(named.exitCode, 3);
    QCOMPARE(named.err, QStringLiteral("kalvora-cli: port COM1 (%1) is in use\n").arg(line.slavePath()));

    const CliRun missing = RunCli({"read", "1", "--port", "/nonexistent/tty"});
    QCOMPARE(missing.exitCode, 3);
    QVERIFY(missing.err.contains(QStringLiteral("/nonexistent/tty")));
}

void tst_CliCommands::usageErrorsExit2() {
    const QList<QStringList> cases{{}, {"frobnicate"}, {"read"}, {"read", "251"},
                                   {"read", "1", "--tries", "0"}, {"scan", "--bogus"},
                                   {"log"}, {"log", "1,3-2"}, {"write-program", "1"}};
    for (const QStringList &arguments : cases) {
        const CliRun run = RunCli(arguments);
        QVERIFY2(run.exitCode == 2, qPrintable(arguments.join(' ') + ": " + run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1); // one line naming the cause
    }
    const CliRun version = RunCli({"--version"});
    QCOMPARE(version.out, QStringLiteral("kalvora-cli " PROJECT_VERSION_TEXT "\n"));
    for (const char *command : {"scan", "read", "log", "write-program", "set-point"}) {
        const CliRun help = RunCli({command, "--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("(default: ")));
    }
}

void tst_CliCommands::helpShowsOnlyOurOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    // A port that cannot be opened: a help request taken for a command fails at once.
    const QStringList noPort{"--port", "/dev/kalvora-no-such-port"};
    QTest::newRow("--help") << QStringList{"--help"};
    QTest::newRow("--help-all") << QStringList{"--help-all"};
    QTest::newRow("scan --help") << QStringList{"scan", "--help"} + noPort;
    QTest::newRow("scan --help-all") << QStringList{"scan", "--help-all"} + noPort;
    QTest::newRow("read -?") << QStringList{"read", "1", "-?"} + noPort;
    QTest::newRow("log --help-all") << QStringList{"log", "1", "--help-all"} + noPort;
}

// Qt's own options (-platform, -qmljsdebugger ...) are none of the tool's; the port's help names
// every place a COMn name is looked up.
void tst_CliCommands::helpShowsOnlyOurOptions() {
    QFETCH(QStringList, arguments);
    const CliRun run = RunCli(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    for (const char *place : {"KALVORA_COM", "~/.config/kalvora/ports.conf",
                              "/etc/kalvora/ports.conf", "/dev/ttyS<n-1>"})
        QVERIFY2(run.out.contains(QLatin1String(place)), place);
    for (const char *foreign : {"help-all", "Qt specific", "qmljsdebugger", "-platform"})
        QVERIFY2(!run.out.contains(QLatin1String(foreign)), foreign);
}

QTEST_GUILESS_MAIN(tst_CliCommands)
#include "tst_CliCommands.moc"

// kalvora-cli: unattended multi-chamber logging, scripting and metrics, on the window
// program's core and port code, without windows.
#include "base/CliError.h"
#include "cli/Commands.h"
#include "lab/LabCommand.h"
#include "logger/LogCommand.h"
#include "platform/ChildProcess.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

const char kHelp[] = R"(Usage: kalvora-cli COMMAND [options] [arguments]
Reads, logs and controls climatic test chambers, Modbus RTU slaves on an RS-485
line at 57600 8N1, as the window program does, without windows.

Commands:
  scan                 list the bus addresses that answer (0 to 250)
  read ADDR            one reading of a chamber's figures (--json for JSON)
  log ADDRS            the logging service: log chambers (e.g. 1,3,5-8) until
                       SIGINT, SIGTERM or SIGHUP, with the events journal,
                       alarms, the page, the JSON API and /metrics (--http),
                       and the bus shared with other masters (--share)
  lab                  the lab's page: every chamber that Prometheus scrapes
  alarm-test           send one test notification through every alarm channel
  write-program ADDR FILE
                       write a program from a file, one frame per step
  set-point ADDR T     write the manual set-point (whole degrees, -85..180)
  start ADDR           start the manual mode
  stop ADDR            stop the manual mode
  start-program ADDR P start the program run from program P
  stop-program ADDR    stop the program run
  audit verify FILE... check an audit trail's chain and print its head
  audit show FILE...   print the writes recorded in an audit trail as a table
Each command lists its options and their defaults: kalvora-cli COMMAND --help.

Options of every command:
  --port P             COMn or a device path (default: COM1). COMn is the device
                       in $KALVORA_COMn, else the one mapped to COMn (lines
                       COMn=DEVICE) in ~/.config/kalvora/ports.conf, else in
                       /etc/kalvora/ports.conf, else /dev/ttyS<n-1>.
  --tries N            Requests per exchange (default: per command).
  --timeout MS         Silence after which a try counts as unanswered (default:
                       per command); a line that never falls quiet ends a try
                       after 2 x MS + 100 ms, unsent.
  -h, --help           Show this help, or a command's, and exit.
  --version            Show the version and exit.

Exit status:
  0 ok, 2 usage, 3 port cannot be opened, is in use or was lost (unplugged),
  4 no answer (or an exception reply, or a line never quiet), 5 input rejected
  (nothing sent), 6 file error, 7 a channel of alarm-test did not deliver,
  8 audit verify found the trail broken.

Frames on the line are traced with QT_LOGGING_RULES="kalvora.line.debug=true".
)";

int Dispatch(const QString &command, const QStringList &arguments) {
    if (command == QLatin1String("scan"))
        return RunScan(arguments);
    if (command == QLatin1String("read"))
        return RunRead(arguments);
    if (command == QLatin1String("log"))
        return RunLog(arguments);
    if (command == QLatin1String("lab"))
        return RunLab(arguments);
    if (command == QLatin1String("alarm-test"))
        return RunAlarmTest(arguments);
    if (command == QLatin1String("audit"))
        return RunAudit(arguments);
    if (command == QLatin1String("write-program"))
        return RunWriteProgram(arguments);
    if (IsControlCommand(command))
        return RunControlCommand(command, arguments);
    throw CliError{kExitUsage,
                   QStringLiteral("unknown command '%1' (try: kalvora-cli --help)").arg(command)};
}

} // namespace

int main(int argc, char **argv) {
    // Started with SIGCHLD ignored (some service managers and shells do that), the hooks'
    // children would be reaped by the kernel and their outcome lost.
    RestoreChildSignal();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvora-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALVORA_VERSION));
    const QStringList arguments = app.arguments().mid(1);
    const QString first = arguments.value(0);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("--help-all") || first == QLatin1String("-?")) {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (first == QLatin1String("--version") || arguments.contains(QStringLiteral("--version"))) {
        std::printf("kalvora-cli %s\n", KALVORA_VERSION);
        return kExitOk;
    }
    if (first.isEmpty() || first.startsWith(QLatin1Char('-'))) {
        PrintError(QStringLiteral("a command comes first (try: kalvora-cli --help)"));
        return kExitUsage;
    }
    try {
        return Dispatch(first, arguments.mid(1));
    } catch (const CliError &error) {
        PrintError(error.message);
        return error.exitCode;
    }
}

#include "logger/LogCommand.h"
#include "core/AddressList.h"
#include "base/CommandLine.h"
#include "base/ConfigFile.h"
#include "base/WebConfig.h"
#include "logger/alarms/AlarmOptions.h"
#include "logger/KnownProgramsSources.h"
#include "logger/LogRun.h"
#include "platform/AuditFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Options from --config come first, so that the command line wins.
QStringList WithConfigFile(const QStringList &arguments, const CommandLine &line) {
    QString path;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--config") && i + 1 < arguments.size())
            path = arguments[i + 1];
        else if (a.startsWith(QLatin1String("--config=")))
            path = a.mid(9);
    }
    if (path.isEmpty())
        return arguments;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    const ConfigArguments config =
        ParseConfigText(QString::fromUtf8(file.readAll()), line.valueOptions(), line.flags());
    if (!config.error.isEmpty())
        throw CliError{kExitUsage, path + QStringLiteral(": ") + config.error};
    if (config.arguments.contains(QStringLiteral("--config")))
        throw CliError{kExitUsage, path + QStringLiteral(": --config cannot be nested")};
    return config.arguments + arguments;
}

std::chrono::seconds Seconds(const CommandLine &line, const QString &name, int fallback) {
    return std::chrono::seconds(line.intValue(name, fallback, 1, 86400));
}

QString LogDescription() {
    return
        QStringLiteral(
            "Reads every chamber of ADDRS (a list with ranges: 1,3,5-8) every --period seconds\n"
            "and writes one log file per chamber into --dir: the window's file name (the\n"
            "chamber number in place of \">\"), Windows-1251 text, its header and record\n"
            "format, a record every --record-every seconds carrying the time of the reading\n"
            "that composed it. Each file holds one local date: the first record of a new date\n"
            "or UTC offset (midnight, a clock change) starts a new file named by its moment.\n"
            "A chamber that does not answer, or reports an implausible temperature, gets no\n"
            "record until it answers plausibly again; stderr and the events journal get one\n"
            "line when its outage starts and one when it ends. A chamber silent for three\n"
            "rounds is asked less often (every 2nd, 4th ... round, at least once a minute).\n"
            "A lost port (an adapter unplugged) is opened again every 2 s, backing off to\n"
            "30 s, and logging goes on into the same files. Every event goes to --events as\n"
            "one JSON object a line. Runs until SIGINT, SIGTERM or SIGHUP, then writes the\n"
            "records still pending and exits 0 with every file whole.\n"
            "\n"
            "--config FILE reads options from FILE, one per line, as on the command line with\n"
            "or without the leading dashes (\"period=4\", \"--period 4\", \"csv\" or\n"
            "\"csv=yes\"/\"csv=no\"); \"#\" starts a comment line; \"chambers=1,3,5-8\" gives\n"
            "ADDRS. The command line wins.\n"
            "\n"
            "--share PATH lets other Modbus RTU masters use the bus while it logs: a\n"
            "pseudo-terminal linked at PATH (group dialout, mode 0660) that the window\n"
            "program (ports.conf: COM2=PATH), kalvora-cli or any master opens as the port.\n"
            "Their requests of function 4 or 16 go on the bus between the logger's own\n"
            "tries, one try each, and the reply goes back to the one who asked. The\n"
            "logger's records come first: a request waits for the exchange under way, and\n"
            "for the logger's round when it would make the round late. Damaged or other\n"
            "requests are dropped and counted. Every write is put in the events journal,\n"
            "and in the audit trail in --dir (audit-YYYY-MM.jsonl) before it is sent.\n"
            "--share PATH:USER makes the link for USER alone (owner USER, mode 0600; the\n"
            "logger must run as root to give it): its writes carry USER in the trail, those\n"
            "of a link without a user carry \"unknown\". A PATH that links to another\n"
            "running logger's pseudo-terminal is refused.\n"
            "\n"
            "While a chamber runs a program whose table the logger knows, the page and\n"
            "/api/chambers show an estimate of the run's end and the time left, from the\n"
            "chamber's step, cycle and time counters and the table's later steps and cycles.\n"
            "The logger knows a table when its step records went through a --share link\n"
            "(the journal keeps them: a restart knows them again), or from --program\n"
            "CHAMBER:NUMBER=FILE, a program file (docs/programs.md; repeatable). Of a file\n"
            "and the writes, the newer wins. Where the table is not known, or is not the one\n"
            "the chamber reports (steps, cycles, the step's set-points), no end is shown.\n\n") +
            AlarmHelpText();
}

// "--http" or "--metrics", whichever gives the server's address (the same when both do); empty
// for none.
QString ServerOption(const CommandLine &line) {
    const bool http = line.isSet(QStringLiteral("http"));
    const bool metrics = line.isSet(QStringLiteral("metrics"));
    if (http && metrics &&
        line.value(QStringLiteral("http")) != line.value(QStringLiteral("metrics")))
        throw CliError{kExitUsage, QStringLiteral("--http and --metrics name one server: give "
                                                  "one address (%1 or %2)")
                                       .arg(line.value(QStringLiteral("http")),
                                            line.value(QStringLiteral("metrics")))};
    return http ? QStringLiteral("--http") : metrics ? QStringLiteral("--metrics") : QString();
}

// Every usage and folder error, before anything starts.
LogOptions ReadLogOptions(CommandLine &line) {
    LogOptions options;
    for (const QString &name : line.parser().values(QStringLiteral("http-host"))) {
        if (name.isEmpty() || name.contains(QLatin1Char(' ')))
            throw CliError{kExitUsage, QStringLiteral("--http-host: '%1' is no name").arg(name)};
        options.hostNames.push_back(name.toStdString());
    }
    const QStringList positional = line.positional();
    if (positional.size() > 1)
        throw CliError{kExitUsage, QStringLiteral("log takes one list of chambers (try: "
                                                  "kalvora-cli log --help)")};
    const QString list = positional.isEmpty() ? line.value(QStringLiteral("chambers"))
                                              : positional.first();
    if (list.isEmpty())
        throw CliError{kExitUsage, QStringLiteral("log needs ADDRS (try: kalvora-cli log --help)")};
    const AddressListResult addresses = ParseAddressList(list, AddressOrder::Ascending);
    if (!addresses.error.isEmpty())
        throw CliError{kExitUsage, addresses.error};
    LogSettings &settings = options.settings;
    settings.addresses = addresses.addresses;
    settings.dir = line.isSet(QStringLiteral("dir")) ? line.value(QStringLiteral("dir"))
                                                     : QStringLiteral(".");
    settings.period = Seconds(line, QStringLiteral("period"), 4);
    settings.recordEvery = Seconds(line, QStringLiteral("record-every"), 60);
    settings.csv = line.isSet(QStringLiteral("csv"));
    options.alarms = ReadAlarmOptions(line, settings.addresses);
    options.common = line.common();
    for (const QString &program : line.parser().values(QStringLiteral("program")))
        options.programs.push_back(ReadNamedProgram(program, settings.addresses));
    QStringList paths;
    for (const QString &text : line.parser().values(QStringLiteral("share"))) {
        QString error;
        const std::optional<SharedLinkOption> link = ParseSharedLinkOption(text, &error);
        if (!link)
            throw CliError{kExitUsage, error};
        if (paths.contains(link->path))
            throw CliError{kExitUsage,
                           QStringLiteral("--share: '%1' is given twice").arg(link->path)};
        if (!link->user.isEmpty() && !UserIdOf(link->user))
            throw CliError{kExitUsage, QStringLiteral("--share %1: there is no user %2")
                                           .arg(link->path, link->user)};
        paths << link->path;
        options.shares.push_back(*link);
    }
    if (!QFileInfo(settings.dir).isDir())
        throw CliError{kExitFile, QStringLiteral("--dir %1 is not a folder").arg(settings.dir)};
    options.eventsPath = line.isSet(QStringLiteral("events"))
                             ? line.value(QStringLiteral("events"))
                             : QDir(settings.dir).filePath(QStringLiteral("events.jsonl"));
    options.serverOption = ServerOption(line);
    if (!options.serverOption.isEmpty())
        options.serverAddress = line.value(options.serverOption.mid(2));
    if (line.isSet(QStringLiteral("web-config"))) {
        if (options.serverOption.isEmpty())
            throw CliError{kExitUsage, QStringLiteral("--web-config secures the --http server: "
                                                      "give --http too")};
        options.webConfig = LoadWebConfig(line.value(QStringLiteral("web-config")));
    }
    return options;
}

} // namespace

void AddLogOptions(CommandLine &line) {
    line.addValueOption(QStringLiteral("dir"), QStringLiteral("DIR"),
                        QStringLiteral("Folder for the files (default: the current folder)."));
    line.addValueOption(QStringLiteral("period"), QStringLiteral("S"),
                        QStringLiteral("Seconds between readings of every chamber (default: 4)."));
    line.addValueOption(QStringLiteral("record-every"), QStringLiteral("S"),
                        QStringLiteral("Seconds between log records (default: 60)."));
    line.addFlag(QStringLiteral("csv"),
                 QStringLiteral("Also append every good reading to a UTF-8 CSV file per chamber "
                                "beside its log (same name, .csv)."));
    line.addValueOption(QStringLiteral("events"), QStringLiteral("FILE"),
                        QStringLiteral("The events journal, one JSON object a line (default: "
                                       "events.jsonl in --dir)."));
    line.addValueOption(
        QStringLiteral("http"), QStringLiteral("[HOST:]PORT"),
        QStringLiteral("Serve a read-only overview page at http://HOST:PORT/ (every chamber's "
                       "last reading, alarms, a day's trend, the events), its JSON API under "
                       "/api/ and Prometheus metrics at /metrics; an IPv6 address in brackets: "
                       "[::1]:9731; a PORT alone is 127.0.0.1:PORT (default: off). Without "
                       "--web-config there is no login: 127.0.0.1 keeps it to this machine, "
                       "0.0.0.0 opens it to anyone on the network. "
                       "A port that cannot be "
                       "listened on gives a warning and is tried again every 30 s; logging "
                       "goes on."));
    line.addValueOption(QStringLiteral("metrics"), QStringLiteral("[HOST:]PORT"),
                        QStringLiteral("The same as --http (the same server, page included)."));
    line.addValueOption(
        QStringLiteral("http-host"), QStringLiteral("NAME"),
        QStringLiteral("A name the lab reaches the --http server by when it listens on an "
                       "address other than a loopback, e.g. lab-pc.example.org (repeatable). "
                       "Requests are answered only when their Host is such a name, the "
                       "listening address, a loopback name or address, or (on 0.0.0.0 or [::]) "
                       "any address; any other name gets 421, so that a web page elsewhere "
                       "cannot read the pages through a name of its own that points here. On a "
                       "loopback only loopback names and addresses are answered."));
    line.addValueOption(
        QStringLiteral("web-config"), QStringLiteral("FILE"),
        QStringLiteral("TLS and a login for the --http server, from a YAML file: "
                       "tls_server_config (cert_file, key_file: PEM files, relative to FILE's "
                       "folder) and basic_auth_users (user name: bcrypt hash, as htpasswd -nBC "
                       "10 USER makes it). Every page, the JSON API, /metrics and /static then "
                       "answer 401 without a valid user and password; failed logins are counted "
                       "in /metrics and journaled (login_failed, never the password). A file "
                       "that cannot be read, a bad hash, a missing, unreadable or non-PEM "
                       "certificate or key, or a key of another certificate stops the start "
                       "(exit 2) (default: none, no login, plain HTTP)."));
    line.addValueOption(QStringLiteral("share"), QStringLiteral("PATH[:USER]"),
                        QStringLiteral("Share the bus through a pseudo-terminal linked at PATH, "
                                       "e.g. /run/kalvora/bench1/COM2 (repeatable; default: "
                                       "none); with :USER, for that user alone. The link is "
                                       "removed on exit."));
    line.addValueOption(
        QStringLiteral("program"), QStringLiteral("CHAMBER:NUMBER=FILE"),
        QStringLiteral("The table of program NUMBER (1..15) on CHAMBER is the program file "
                       "FILE, for the estimate of a run's end, e.g. 3:2=/etc/kalvora/programs/"
                       "heat.csv (repeatable; default: the tables written through --share)."));
    line.addValueOption(QStringLiteral("chambers"), QStringLiteral("ADDRS"),
                        QStringLiteral("The chambers, when ADDRS is not given (for --config)."));
    line.addValueOption(QStringLiteral("config"), QStringLiteral("FILE"),
                        QStringLiteral("Read options from FILE first (default: none)."));
    AddAlarmOptions(line);
}

int RunLog(const QStringList &arguments) {
    CommandLine line(QStringLiteral("log"), QStringLiteral("ADDRS"), LogDescription(), {2, 300});
    AddLogOptions(line);
    if (const auto done = line.parse(WithConfigFile(arguments, line)))
        return *done;
    // Nothing has started yet: a usage error, or a malformed server address, leaves no trace.
    LogRun run(ReadLogOptions(line));
    // Signals, bus, journal, server, service manager, shared links, alarms, logger: LogRun::start
    // says why in that order. A part that cannot start throws, and what did start is stopped.
    run.start();
    // Files first, then READY=1, then the rounds until a signal.
    const int exitCode = run.logUntilStopped();
    // The same parts in the reverse order.
    run.stop();
    return exitCode;
}

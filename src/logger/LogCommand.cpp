#include "logger/LogCommand.h"
#include "core/AddressList.h"
#include "base/Bus.h"
#include "base/ConfigFile.h"
#include "logger/alarms/AlarmOptions.h"
#include "logger/http/OverviewServer.h"
#include "logger/Logger.h"
#include "logger/share/BusShare.h"

#include "core/RetrySchedule.h"
#include "platform/ServiceNotifier.h"
#include "platform/SystemRegionalSettings.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <csignal>
#include <optional>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;


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

Clock::time_point NextAfter(Clock::time_point due, std::chrono::seconds every) {
    const auto now = Clock::now();
    do
        due += every;
    while (due <= now); // a late round or write skips the moments it missed
    return due;
}

// Waits out the lost port: opens it again after 2 s, then after twice as long each time, up
// to 30 s. False when a signal ended the wait.
bool AwaitPort(Bus &bus, Logger &logger, const TerminationSignals &termination,
               const std::function<void()> &ping) {
    RetrySchedule schedule; // 2 s, then twice as long each time, up to 30 s
    QString lastReason;
    while (true) {
        // Pinged every second while it waits: waiting for an adapter is not a hang.
        const auto reopenAt = Clock::now() + schedule.nextWait();
        while (Clock::now() < reopenAt) {
            ping();
            if (termination.waitUntil(std::min(reopenAt, Clock::now() + std::chrono::seconds(1))))
                return false;
        }
        QString reason;
        if (bus.reopen(&reason)) {
            logger.portBack();
            return true;
        }
        if (reason != lastReason)
            PrintWarning(QStringLiteral("%1 cannot be opened yet: %2").arg(logger.portText(), reason));
        lastReason = reason;
    }
}

QJsonObject OptionsJson(const LogSettings &settings, const CommonOptions &common,
                        const QStringList &shares) {
    QJsonObject options{
        {QStringLiteral("period"), static_cast<qint64>(settings.period.count())},
        {QStringLiteral("record-every"), static_cast<qint64>(settings.recordEvery.count())},
        {QStringLiteral("csv"), settings.csv},
        {QStringLiteral("tries"), common.tries},
        {QStringLiteral("timeout"), static_cast<qint64>(common.timeout.count())},
        {QStringLiteral("dir"), QDir(settings.dir).absolutePath()}};
    if (!shares.isEmpty())
        options.insert(QStringLiteral("share"), QJsonArray::fromStringList(shares));
    return options;
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
            "tries, one try each, and the reply goes back to the one who asked; a request\n"
            "waits at most for the exchange under way (up to --timeout). Damaged or other\n"
            "requests are dropped and counted. Every write is put in the events journal.\n\n") +
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

// The page beside the metrics; with --csv, its trends start from the files of the last day.
void ServeOverview(OverviewServer &server, const LogSettings &settings, const QString &eventsPath,
                   const LoggerClock &clock, EventJournal &journal) {
    server.serveOverview({settings.addresses, eventsPath, QStringLiteral(KALVORA_DYGRAPHS_DIR)},
                         clock, [&journal](const QString &path, const QString &reason) {
                             PrintWarning(QStringLiteral("the overview page's charts cannot be "
                                                         "shown: %1: %2 (install libjs-dygraphs)")
                                              .arg(path, reason));
                             journal.write(QStringLiteral("page_asset_missing"),
                                           {{QStringLiteral("path"), path},
                                            {QStringLiteral("reason"), reason}});
                         });
    if (settings.csv) {
        const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(settings.period);
        // Rows come a period apart while a chamber answers; a late round must not read as an
        // outage.
        server.fillHistoryFromCsv(settings.dir, clock.now().toMSecsSinceEpoch(),
                                  std::max<qint64>(3 * period.count(), period.count() + 5000));
    }
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
                       "[::1]:9731; a PORT alone is 127.0.0.1:PORT (default: off). No login: "
                       "127.0.0.1 keeps it to this machine, 0.0.0.0 opens it to the network. "
                       "A port that cannot be "
                       "listened on gives a warning and is tried again every 30 s; logging "
                       "goes on."));
    line.addValueOption(QStringLiteral("metrics"), QStringLiteral("[HOST:]PORT"),
                        QStringLiteral("The same as --http (the same server, page included)."));
    line.addValueOption(QStringLiteral("share"), QStringLiteral("PATH"),
                        QStringLiteral("Share the bus through a pseudo-terminal linked at PATH, "
                                       "e.g. /run/kalvora/bench1/COM2 (repeatable; default: "
                                       "none). The link is removed on exit."));
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

    LogSettings settings;
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
    settings.addresses = addresses.addresses;
    settings.dir = line.isSet(QStringLiteral("dir")) ? line.value(QStringLiteral("dir"))
                                                     : QStringLiteral(".");
    settings.period = Seconds(line, QStringLiteral("period"), 4);
    settings.recordEvery = Seconds(line, QStringLiteral("record-every"), 60);
    settings.csv = line.isSet(QStringLiteral("csv"));
    const AlarmSettings alarmSettings = ReadAlarmOptions(line, settings.addresses);
    const CommonOptions common = line.common();
    const QStringList shares = line.parser().values(QStringLiteral("share"));
    for (const QString &path : shares)
        if (path.isEmpty() || shares.count(path) > 1)
            throw CliError{kExitUsage,
                           QStringLiteral("--share: '%1' is empty or given twice").arg(path)};
    if (!QFileInfo(settings.dir).isDir())
        throw CliError{kExitFile, QStringLiteral("--dir %1 is not a folder").arg(settings.dir)};
    const QString eventsPath = line.isSet(QStringLiteral("events"))
                                   ? line.value(QStringLiteral("events"))
                                   : QDir(settings.dir).filePath(QStringLiteral("events.jsonl"));

    // A malformed address is a usage error before anything starts; whether it can be listened
    // on never decides whether the chambers are logged.
    std::unique_ptr<OverviewServer> metrics;
    const QString httpOption = ServerOption(line);
    if (!httpOption.isEmpty())
        metrics = std::make_unique<OverviewServer>(line.value(httpOption.mid(2)), HttpLimits{},
                                                   httpOption);

    std::optional<TerminationSignals> watched;
    try {
        watched.emplace();
    } catch (const std::system_error &error) {
        throw CliError{1, QString::fromLocal8Bit(error.what())};
    }
    TerminationSignals &termination = *watched;
    std::signal(SIGPIPE, SIG_IGN); // a scraper that hangs up must not end the run

    Bus bus(common, termination.fd());
    const SystemClock clock;
    EventJournal journal(eventsPath, clock);
    // The server reports from its own thread: it stops before the journal goes.
    const auto stopServer = qScopeGuard([&metrics] {
        if (metrics)
            metrics->stop();
    });
    if (metrics) {
        ServeOverview(*metrics, settings, eventsPath, clock, journal);
        metrics->start([&journal, httpOption,
                        failed = false](const HttpServerEvent &event) mutable {
            if (event.kind == HttpServerEvent::Kind::Failed) {
                PrintWarning(QStringLiteral("%1 %2: %3; logging goes on without the page and "
                                            "metrics, listening is tried again every %4 s")
                                 .arg(httpOption, event.address, event.reason)
                                 .arg(std::chrono::duration_cast<std::chrono::seconds>(
                                          HttpLimits{}.retryInterval)
                                          .count()));
                journal.write(QStringLiteral("metrics_failed"),
                              {{QStringLiteral("address"), event.address},
                               {QStringLiteral("reason"), event.reason}});
                failed = true;
            } else {
                if (failed)
                    PrintWarning(
                        QStringLiteral("%1 %2: listening now").arg(httpOption, event.address));
                journal.write(QStringLiteral("metrics_listening"),
                              {{QStringLiteral("address"), event.address}});
                failed = false;
            }
        });
    }
    const ServiceNotifier notifier;
    struct Stopping {
        const ServiceNotifier &notifier;
        ~Stopping() { notifier.stopping(); }
    } stopping{notifier};
    // The manager restarts a logger that stays silent for its whole watchdog interval: it is
    // pinged after every exchange, and during long waits.
    const auto pingEvery = notifier.watchdogInterval()
                               ? std::chrono::duration_cast<Clock::duration>(
                                     *notifier.watchdogInterval() / 2)
                               : Clock::duration::max();
    // Other masters on the bus: served between the logger's tries and while it waits.
    std::unique_ptr<BusShare> share;
    if (!shares.isEmpty()) {
        share = std::make_unique<BusShare>(shares, bus, journal);
        bus.setBeforeEachTry([&share] { share->serve(); });
    }
    const int shareFd = share ? share->wakeFd() : -1;
    QJsonArray chambers;
    for (int address : settings.addresses)
        chambers.append(address);
    journal.write(QStringLiteral("started"),
                  {{QStringLiteral("version"), QCoreApplication::applicationVersion()},
                   {QStringLiteral("port"), bus.portName()},
                   {QStringLiteral("device"), bus.devicePath()},
                   {QStringLiteral("chambers"), chambers},
                   {QStringLiteral("options"), OptionsJson(settings, common, shares)}});
    // Alarms: their journal lines and warnings come from the delivery threads too; the
    // journal locks, and stderr lines are written whole.
    std::unique_ptr<AlarmCenter> alarms;
    if (!alarmSettings.rules.empty())
        alarms = std::make_unique<AlarmCenter>(
            alarmSettings.rules, alarmSettings.delivery, settings.addresses,
            [&journal](const JournalEvent &event) {
                QJsonObject members;
                for (const auto &[name, value] : event.members)
                    members.insert(name, value);
                journal.write(event.event, members);
            },
            [](const QString &warning) { PrintWarning(warning); });
    const auto advanceAlarms = [&alarms, &clock] {
        if (alarms)
            alarms->advance(AlarmClock::now(), clock.now());
    };
    bool ready = false; // READY=1 comes first, once the files exist
    Logger logger(settings, bus, clock, journal, ReadSystemRegionalSettings(),
                  // After every exchange: a round over a large silent bus may outlast the
                  // watchdog's interval.
                  [&metrics, &notifier, &ready, &share](const BusMetrics &snapshot) {
                      if (ready)
                          notifier.watchdog();
                      if (!metrics)
                          return;
                      BusMetrics published = snapshot;
                      if (share)
                          published.shareText = share->metricsText();
                      metrics->update(std::move(published));
                  },
                  alarms.get());
    const auto stopped = [&journal](const QJsonObject &why) {
        journal.write(QStringLiteral("stopped"), why);
    };
    try {
        logger.createFiles();
        notifier.ready();
        ready = true;
        auto nextRound = Clock::now();
        auto nextRecord = nextRound + settings.recordEvery;
        auto nextPing = pingEvery == Clock::duration::max() ? Clock::time_point::max()
                                                            : Clock::now() + pingEvery;
        const auto ping = [&] {
            notifier.watchdog();
            if (pingEvery != Clock::duration::max())
                nextPing = Clock::now() + pingEvery;
        };
        while (!termination.arrived()) {
            if (Clock::now() >= nextRound) {
                const Logger::RoundEnd end = logger.readRound(nextRound);
                advanceAlarms();
                if (end == Logger::RoundEnd::Stopped)
                    break;
                if (end == Logger::RoundEnd::PortLost) {
                    // What was read before the loss is written before the wait.
                    logger.writeRecords();
                    logger.portLost(logger.lostResult());
                    if (!AwaitPort(bus, logger, termination, [&] {
                            ping();
                            advanceAlarms();
                        }))
                        break;
                }
                nextRound = NextAfter(nextRound, settings.period);
            } else if (Clock::now() >= nextRecord) {
                logger.writeRecords();
                nextRecord = NextAfter(nextRecord, settings.recordEvery);
            } else if (Clock::now() >= nextPing) {
                ping();
            } else if (termination.waitUntil(std::min({nextRound, nextRecord, nextPing}),
                                             shareFd)) {
                break;
            } else if (share) {
                share->serve();
            }
        }
        logger.writeRecords();
    } catch (const CliError &error) {
        stopped({{QStringLiteral("reason"), error.message},
                 {QStringLiteral("exit_code"), error.exitCode}});
        throw;
    }
    const int signal = termination.take();
    stopped({{QStringLiteral("signal"), QString::fromLatin1(TerminationSignals::name(signal))}});
    return kExitOk;
}

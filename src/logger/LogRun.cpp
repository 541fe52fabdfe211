#include "logger/LogRun.h"

#include "base/CliError.h"
#include "logger/alarms/AlarmCenter.h"
#include "logger/EventJournal.h"
#include "logger/http/OverviewServer.h"
#include "logger/ServiceWatchdog.h"
#include "logger/share/BusShare.h"

#include "core/LoginFailurePacing.h"
#include "core/RetrySchedule.h"
#include "platform/ServiceNotifier.h"
#include "platform/SystemRegionalSettings.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <csignal>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point NextAfter(Clock::time_point due, std::chrono::seconds every) {
    const auto now = Clock::now();
    do
        due += every;
    while (due <= now); // a late round or write skips the moments it missed
    return due;
}

QJsonArray ChambersJson(const std::vector<int> &addresses) {
    QJsonArray chambers;
    for (int address : addresses)
        chambers.append(address);
    return chambers;
}

QJsonObject OptionsJson(const LogOptions &o) {
    QJsonObject options{
        {QStringLiteral("period"), static_cast<qint64>(o.settings.period.count())},
        {QStringLiteral("record-every"), static_cast<qint64>(o.settings.recordEvery.count())},
        {QStringLiteral("csv"), o.settings.csv},
        {QStringLiteral("tries"), o.common.tries},
        {QStringLiteral("timeout"), static_cast<qint64>(o.common.timeout.count())},
        {QStringLiteral("dir"), QDir(o.settings.dir).absolutePath()}};
    if (!o.shares.empty()) {
        QJsonArray shares;
        for (const SharedLinkOption &link : o.shares)
            shares.append(link.user.isEmpty() ? link.path
                                              : link.path + QLatin1Char(':') + link.user);
        options.insert(QStringLiteral("share"), shares);
    }
    if (o.webConfig)
        options.insert(QStringLiteral("web-config"), QFileInfo(o.webConfig->path).absoluteFilePath());
    return options;
}

} // namespace

LogRun::LogRun(const LogOptions &options) : options_(options) {
    // Whether the address can be listened on never decides whether the chambers are logged;
    // only a malformed one stops the run, before anything starts.
    if (!options_.serverOption.isEmpty()) {
        server_ = std::make_unique<OverviewServer>(options_.serverAddress, HttpLimits{},
                                                   options_.serverOption);
        server_->http().acceptHostNames(options_.hostNames);
        // A certificate and key that cannot serve stop the run here, before anything starts.
        if (options_.webConfig) {
            loginPacing_ = std::make_unique<LoginFailurePacing>();
            server_->http().secure(*options_.webConfig, [this](const LoginFailure &failure) {
                journalLoginFailure(failure);
            });
        }
    }
}

// From the server's threads, while the server runs: the journal exists from before its start to
// after its stop.
void LogRun::journalLoginFailure(const LoginFailure &failure) {
    LoginFailurePacing::Verdict verdict;
    {
        std::lock_guard lock(loginPacingMutex_);
        verdict = loginPacing_->failed(failure.peer.toStdString(),
                                       LoginFailurePacing::Clock::now());
    }
    if (!verdict.journal)
        return;
    QJsonObject members{{QStringLiteral("user"), failure.user},
                        {QStringLiteral("peer"), failure.peer}};
    if (verdict.leftOut)
        members.insert(QStringLiteral("left_out"), static_cast<qint64>(verdict.leftOut));
    journal_->write(QStringLiteral("login_failed"), members);
}

LogRun::~LogRun() { stop(); }

void LogRun::start() {
    // 1. The signals first: every later wait, the bus's included, ends at once on one.
    try {
        signals_ = std::make_unique<TerminationSignals>();
    } catch (const std::system_error &error) {
        throw CliError{1, QString::fromLocal8Bit(error.what())};
    }
    std::signal(SIGPIPE, SIG_IGN); // a scraper that hangs up must not end the run
    // 2. The bus, before anything that tells of it.
    bus_ = std::make_unique<Bus>(options_.common, signals_->fd());
    // 3. The journal: every part below writes to it. The program tables it holds come first,
    // before the run adds to it.
    for (const NamedProgram &named : options_.programs)
        programs_.named(named.chamber, named.program, named.table, named.savedAtMs);
    ReplayJournalWrites(options_.eventsPath, programs_);
    journal_ = std::make_unique<EventJournal>(options_.eventsPath, clock_);
    // 4. The page and /metrics, serving the state the logger publishes from its first files on.
    startServer();
    // 5. The service manager: told STOPPING=1 once the parts below have stopped.
    notifier_ = std::make_unique<ServiceNotifier>();
    watchdog_ = std::make_unique<ServiceWatchdog>(*notifier_);
    // 6. Other masters on the bus, served between the logger's tries and while it waits.
    startShare();
    // The run's first line in the journal, once every link could be made.
    journal_->write(QStringLiteral("started"),
                    {{QStringLiteral("version"), QCoreApplication::applicationVersion()},
                     {QStringLiteral("port"), bus_->portName()},
                     {QStringLiteral("device"), bus_->devicePath()},
                     {QStringLiteral("chambers"), ChambersJson(options_.settings.addresses)},
                     {QStringLiteral("options"), OptionsJson(options_)}});
    // 7. The alarms, told of every chamber's outcome by the logger.
    startAlarms();
    // 8. The logger: publishes to the server, feeds the alarms and the watchdog.
    logger_ = std::make_unique<Logger>(
        options_.settings, *bus_, clock_, *journal_, ReadSystemRegionalSettings(),
        server_ || share_
            ? Logger::Publish([this](const BusMetrics &snapshot) { publish(snapshot); })
            : Logger::Publish(),
        alarms_.get(), [this] { watchdog_->alive(); }, &programs_);
}

void LogRun::startServer() {
    if (!server_)
        return;
    const LogSettings &settings = options_.settings;
    EventJournal &journal = *journal_;
    server_->serveOverview(
        {settings.addresses, options_.eventsPath, QStringLiteral(KALVORA_DYGRAPHS_DIR)}, clock_,
        [&journal](const QString &path, const QString &reason) {
            PrintWarning(QStringLiteral("the overview page's charts cannot be shown: %1: %2 "
                                        "(install libjs-dygraphs)")
                             .arg(path, reason));
            journal.write(QStringLiteral("page_asset_missing"),
                          {{QStringLiteral("path"), path}, {QStringLiteral("reason"), reason}});
        });
    if (settings.csv) {
        const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(settings.period);
        // Rows come a period apart while a chamber answers; a late round must not read as an
        // outage.
        server_->fillHistoryFromCsv(settings.dir, clock_.now().toMSecsSinceEpoch(),
                                    std::max<qint64>(3 * period.count(), period.count() + 5000));
    }
    // Reports from the server's own thread: the journal locks, stderr lines are written whole.
    server_->start([&journal, option = options_.serverOption,
                    failed = false](const HttpServerEvent &event) mutable {
        if (event.kind == HttpServerEvent::Kind::Failed) {
            PrintWarning(
                QStringLiteral("%1 %2: %3; logging goes on without the page and metrics, "
                               "listening is tried again every %4 s")
                    .arg(option, event.address, event.reason)
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(
                             HttpLimits{}.retryInterval)
                             .count()));
            journal.write(QStringLiteral("metrics_failed"),
                          {{QStringLiteral("address"), event.address},
                           {QStringLiteral("reason"), event.reason}});
            failed = true;
        } else {
            if (failed)
                PrintWarning(QStringLiteral("%1 %2: listening now").arg(option, event.address));
            journal.write(QStringLiteral("metrics_listening"),
                          {{QStringLiteral("address"), event.address}});
            failed = false;
        }
    });
    serverStarted_ = true;
}

void LogRun::startShare() {
    if (options_.shares.empty())
        return;
    share_ = std::make_unique<BusShare>(
        options_.shares, *bus_, *journal_, options_.settings.dir,
        [this](int chamber, int start, std::span<const std::uint16_t> values) {
            programs_.written(chamber, start, values, clock_.now().toMSecsSinceEpoch());
        });
    bus_->setBeforeEachTry([this] { share_->serve(); });
}

void LogRun::startAlarms() {
    if (options_.alarms.rules.empty())
        return;
    // Their journal lines and warnings come from the delivery threads too: the journal locks,
    // and stderr lines are written whole.
    alarms_ = std::make_unique<AlarmCenter>(
        options_.alarms.rules, options_.alarms.delivery, options_.settings.addresses,
        [this](const JournalEvent &event) {
            QJsonObject members;
            for (const auto &[name, value] : event.members)
                members.insert(name, value);
            journal_->write(event.event, members);
        },
        [](const QString &warning) { PrintWarning(warning); });
}

void LogRun::publish(const BusMetrics &snapshot) {
    if (share_)
        for (const ChamberMetrics &chamber : snapshot.chambers)
            if (chamber.lastValues && chamber.lastGoodReading.isValid())
                share_->readingSeen(chamber.address, *chamber.lastValues,
                                    chamber.lastGoodReading);
    if (!server_)
        return;
    BusMetrics published = snapshot;
    if (share_)
        published.sharedLinks = share_->metrics();
    server_->update(std::move(published));
}

int LogRun::logUntilStopped() {
    const int shareFd = share_ ? share_->wakeFd() : -1;
    try {
        logger_->createFiles();
        notifier_->ready(); // READY=1 comes once the files exist
        watchdog_->arm();
        auto nextRound = Clock::now();
        auto nextRecord = nextRound + options_.settings.recordEvery;
        while (!signals_->arrived()) {
            if (Clock::now() >= nextRound) {
                // The shared links' clients get the bus only while the round keeps its period.
                if (share_)
                    share_->roundStarts(NextAfter(nextRound, options_.settings.period));
                const Logger::RoundEnd end = logger_->readRound(nextRound);
                logger_->advanceAlarms(AlarmClock::now());
                if (end == Logger::RoundEnd::Stopped)
                    break;
                if (end == Logger::RoundEnd::PortLost) {
                    // What was read before the loss is written before the wait.
                    logger_->writeRecords();
                    logger_->portLost(logger_->lostResult());
                    if (!awaitPort())
                        break;
                }
                nextRound = NextAfter(nextRound, options_.settings.period);
                if (share_)
                    share_->roundEnded(nextRound);
            } else if (Clock::now() >= nextRecord) {
                logger_->writeRecords();
                nextRecord = NextAfter(nextRecord, options_.settings.recordEvery);
            } else if (Clock::now() >= watchdog_->nextPingAt()) {
                watchdog_->ping();
            } else if (signals_->waitUntil(
                           std::min({nextRound, nextRecord, watchdog_->nextPingAt()}), shareFd)) {
                break;
            } else if (share_) {
                share_->serve();
            }
        }
        logger_->writeRecords();
    } catch (const CliError &error) {
        journalStopped({{QStringLiteral("reason"), error.message},
                        {QStringLiteral("exit_code"), error.exitCode}});
        throw;
    }
    const int signal = signals_->take();
    journalStopped(
        {{QStringLiteral("signal"), QString::fromLatin1(TerminationSignals::name(signal))}});
    return kExitOk;
}

// Waits out the lost port: opens it again after 2 s, then after twice as long each time, up to
// 30 s. The watchdog is pinged and the alarms advanced every second meanwhile: waiting for an
// adapter is not a hang, and a chamber's silence goes on counting.
bool LogRun::awaitPort() {
    RetrySchedule schedule;
    QString lastReason;
    while (true) {
        const auto reopenAt = Clock::now() + schedule.nextWait();
        while (Clock::now() < reopenAt) {
            watchdog_->ping();
            logger_->advanceAlarms(AlarmClock::now());
            if (signals_->waitUntil(std::min(reopenAt, Clock::now() + std::chrono::seconds(1))))
                return false;
        }
        QString reason;
        if (bus_->reopen(&reason)) {
            logger_->portBack();
            return true;
        }
        if (reason != lastReason)
            PrintWarning(
                QStringLiteral("%1 cannot be opened yet: %2").arg(logger_->portText(), reason));
        lastReason = reason;
    }
}

void LogRun::journalStopped(const QJsonObject &why) {
    // The notifications still queued get their last try, and their drops are journaled,
    // before the line that ends the run.
    if (alarms_)
        alarms_->finish();
    journal_->write(QStringLiteral("stopped"), why);
}

void LogRun::stop() {
    // 8. The logger first: nothing reads the bus or publishes after this.
    logger_.reset();
    // 7. The alarms: their delivery threads end, and with them their journal lines.
    alarms_.reset();
    // 6. The shared links: removed while the bus they relay to is still open.
    if (bus_)
        bus_->setBeforeEachTry({});
    share_.reset();
    // 5. Every part that works for the service has stopped: the manager hears it.
    if (notifier_)
        notifier_->stopping();
    watchdog_.reset();
    notifier_.reset();
    // 4. The server reports from its own thread: it stops before the journal goes.
    if (serverStarted_)
        server_->stop();
    serverStarted_ = false;
    // 3, 2, 1.
    journal_.reset();
    bus_.reset();
    signals_.reset();
}

#pragma once
// One run of `kalvora-cli log`, put together from its parts: the signals that end it, the bus,
// the events journal, the HTTP server, the shared links, the alarms and the logger, and the
// service manager told how it goes. start() starts them in that order, stop() stops them in the
// reverse one; both say, step by step, why a part comes where it does.
#include "base/Bus.h"
#include "base/LoggerClock.h"
#include "base/WebConfig.h"
#include "logger/alarms/AlarmOptions.h"
#include "logger/KnownProgramsSources.h"
#include "logger/Logger.h"

#include "core/SharedLinkOption.h"

#include <QJsonObject>
#include <vector>
#include <string>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>

class AlarmCenter;
class LoginFailurePacing;
struct LoginFailure;
class BusShare;
class EventJournal;
class OverviewServer;
class ServiceNotifier;
class ServiceWatchdog;
class TerminationSignals;

// Everything the command line and --config say, checked.
struct LogOptions {
    LogSettings settings;
    AlarmSettings alarms;
    CommonOptions common;
    std::vector<SharedLinkOption> shares; // --share
    std::vector<NamedProgram> programs;   // --program
    QString eventsPath;
    QString serverOption;  // "--http" or "--metrics", the one that gave the address; empty: none
    QString serverAddress; // [HOST:]PORT
    std::vector<std::string> hostNames; // --http-host: names the server may be asked by
    std::optional<WebConfig> webConfig; // --web-config: TLS and a login for the server
};

class LogRun {
public:
    // Nothing starts yet. A malformed server address throws CliError(kExitUsage).
    explicit LogRun(const LogOptions &options);
    ~LogRun(); // stop(), for a run that ends by an exception
    LogRun(const LogRun &) = delete;
    LogRun &operator=(const LogRun &) = delete;

    // Throws CliError when a part cannot start; what did start is stopped again by stop().
    void start();
    // Makes the first files, says READY=1, and logs until SIGINT, SIGTERM or SIGHUP; then writes
    // the records still pending. The journal's last line says why it stopped. Returns the exit
    // code; throws CliError when the files cannot be written.
    int logUntilStopped();
    // Stops every part that started, in the reverse order of start(). Once; later calls do
    // nothing.
    void stop();

private:
    void startServer();
    void startShare();
    void startAlarms();
    bool awaitPort(); // false when a signal ended the wait
    void publish(const BusMetrics &snapshot);
    void journalStopped(const QJsonObject &why);
    void journalLoginFailure(const LoginFailure &failure);

    const LogOptions options_;
    const SystemClock clock_;
    std::unique_ptr<OverviewServer> server_;
    std::mutex loginPacingMutex_; // failed logins come from the server's threads
    std::unique_ptr<LoginFailurePacing> loginPacing_;
    bool serverStarted_ = false;
    std::unique_ptr<TerminationSignals> signals_;
    std::unique_ptr<Bus> bus_;
    std::unique_ptr<EventJournal> journal_;
    std::unique_ptr<ServiceNotifier> notifier_;
    std::unique_ptr<ServiceWatchdog> watchdog_;
    std::unique_ptr<BusShare> share_;
    std::unique_ptr<AlarmCenter> alarms_;
    std::unique_ptr<Logger> logger_;
    KnownPrograms programs_; // the bus's thread only: the logger's and the links' writes
};

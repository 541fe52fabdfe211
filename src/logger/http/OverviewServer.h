#pragma once
// The logger's read-only web server: /metrics in the Prometheus text format and, when asked,
// the overview page with its JSON API (docs/http-api.md). The logging loop hands it a fresh
// snapshot after every exchange; the handlers copy what they need under a lock and compose
// their answers on the server's threads, so a client never holds up a round.
#include "base/LoggerClock.h"
#include "logger/http/HttpServer.h"
#include "logger/metrics/MetricsText.h"

#include "core/Reading.h"
#include "core/ReadingHistory.h"

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

struct OverviewSettings {
    std::vector<int> addresses; // the logger's, in its order
    QString eventsPath;
    QString dygraphsFolder; // Debian's libjs-dygraphs, read at each request
};

class OverviewServer {
public:
    // A page asset that cannot be read: its path and why. Called once a file, from a server
    // thread.
    using AssetWarning = std::function<void(const QString &path, const QString &reason)>;

    // "HOST:PORT", IPv6 in brackets. Throws CliError(kExitUsage), naming `option`, when
    // malformed; nothing is bound yet.
    explicit OverviewServer(const QString &hostAndPort, HttpLimits limits = {},
                            const QString &option = QStringLiteral("--http"));
    ~OverviewServer(); // stops serving and joins the threads
    OverviewServer(const OverviewServer &) = delete;
    OverviewServer &operator=(const OverviewServer &) = delete;

    // Adds the page, its assets and the JSON API beside /metrics. Before start() only; the
    // clock gives the answers' "now" and must outlive the server.
    void serveOverview(OverviewSettings settings, const LoggerClock &clock, AssetWarning warn);
    // A chamber's history from its readings CSV rows, before the first update().
    void fillHistory(int address, const QList<Reading> &readings, qint64 from, qint64 until,
                     qint64 gapAfterMs);
    // Every logged chamber's history from the readings CSV files in `folder` written in the
    // last day (the logger's own names: "ЖЫМ№<chamber> <time stamp>.csv"). Unreadable files
    // are passed over. now: ms since the epoch.
    void fillHistoryFromCsv(const QString &folder, qint64 now, qint64 gapAfterMs);

    HttpServer &http() { return *http_; }
    // Returns at once; see HttpServer::start for the events.
    void start(HttpServer::EventHandler onEvent) { http_->start(std::move(onEvent)); }
    void stop() { http_->stop(); }
    void update(BusMetrics bus);

private:
    void serveAsset(const QString &resource, const char *type, HttpServer::Response &response);
    void serveDygraphs(const QString &file, const char *type, HttpServer::Response &response);
    void serveChamber(const std::string &rest, const HttpServer::Request &request,
                      HttpServer::Response &response);
    void serveEvents(const HttpServer::Request &request, HttpServer::Response &response);
    bool logs(int address) const;

    OverviewSettings settings_;
    const LoggerClock *clock_ = nullptr;
    AssetWarning warn_;

    std::mutex mutex_;
    BusMetrics bus_;
    std::mutex historyMutex_;
    ReadingHistory history_;
    std::mutex warnedMutex_;
    std::set<QString> warned_;
    std::unique_ptr<HttpServer> http_; // last: its threads end before what they read goes
};

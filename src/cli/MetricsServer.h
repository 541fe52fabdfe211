#pragma once
// Serves /metrics in the Prometheus text format; the logging loop hands it a fresh snapshot
// after every reading. Further read-only pages register on http() before start().
#include "HttpServer.h"
#include "MetricsText.h"

#include <QString>
#include <memory>
#include <mutex>
#include <vector>

class MetricsServer {
public:
    // "HOST:PORT", IPv6 in brackets. Throws CliError(kExitUsage) when malformed; nothing is
    // bound yet.
    explicit MetricsServer(const QString &hostAndPort, HttpLimits limits = {});
    ~MetricsServer(); // stops serving and joins the threads
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    HttpServer &http() { return *http_; }
    // Returns at once; see HttpServer::start for the events.
    void start(HttpServer::EventHandler onEvent) { http_->start(std::move(onEvent)); }
    void stop() { http_->stop(); }
    void update(BusMetrics bus);

private:
    std::mutex mutex_;
    BusMetrics bus_;
    std::unique_ptr<HttpServer> http_; // last: its threads end before the snapshot goes
};

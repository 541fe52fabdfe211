#pragma once
// The lab's page on the HTTP server: /, its script, the overview's tiles and style, and
// /api/lab. The answer is made from Prometheus's query API at a request, at most once every few
// seconds whoever asks: many browsers on the page ask Prometheus no more than one.
#include "lab/LabModel.h"
#include "lab/PrometheusClient.h"
#include "logger/http/HttpServer.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

class LabServer {
public:
    LabServer(const ListenAddress &address, const QString &addressText,
              PrometheusSettings prometheus, HttpLimits limits = {});
    ~LabServer(); // stops serving and joins the threads

    HttpServer &http() { return *http_; }
    void start(HttpServer::EventHandler onEvent) { http_->start(std::move(onEvent)); }
    void stop() { http_->stop(); }

    // The /api/lab answer now (from the cache when it is fresh enough).
    QByteArray labJson();

private:
    void serveResource(const QString &resource, const char *type, HttpServer::Response &response);

    std::optional<QByteArray> cachedJson(bool freshOnly) const;

    std::mutex queryMutex_; // one refresh at a time; the others meanwhile get the last answer
    PrometheusClient prometheus_;
    std::vector<LabBench> lastBenches_; // shown, marked old, while Prometheus cannot be reached
    mutable std::mutex cacheMutex_;
    QByteArray cached_;
    std::chrono::steady_clock::time_point cachedAt_{};
    std::unique_ptr<HttpServer> http_; // last: its threads end before what they read goes
};

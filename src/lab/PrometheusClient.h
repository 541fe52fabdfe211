#pragma once
// Prometheus's HTTP query API, read with libcurl: /api/v1/query and /api/v1/query_range, nothing
// else. Each call is one blocking request, bounded by the time-out.
#include <QByteArray>
#include <QString>

#include <chrono>

struct PrometheusSettings {
    QString url;          // "http://prometheus:9090", without /api/...
    QString user;         // basic auth when not empty
    QByteArray password;  // read from a file, never from the command line
    QString caFile;       // trust this CA for https:// (the system's otherwise)
    std::chrono::milliseconds timeout{5000};
};

struct PrometheusAnswer {
    QByteArray body; // Prometheus's JSON, also for its own errors (status 400, 422, 503)
    QString error;   // empty when an answer came; the reason otherwise
};

class PrometheusClient {
public:
    explicit PrometheusClient(PrometheusSettings settings);
    ~PrometheusClient();
    PrometheusClient(const PrometheusClient &) = delete;
    PrometheusClient &operator=(const PrometheusClient &) = delete;

    PrometheusAnswer query(const QString &promql, double at);
    PrometheusAnswer queryRange(const QString &promql, double start, double end, int stepSeconds);
    const PrometheusSettings &settings() const { return settings_; }

private:
    PrometheusAnswer get(const QString &path, const QList<QPair<QString, QString>> &parameters);

    PrometheusSettings settings_;
    void *curl_; // one handle: its connection is kept between the page's refreshes
};

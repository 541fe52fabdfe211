#include "MetricsServer.h"

#include "CliError.h"

#include <httplib.h>

namespace {

ListenAddress Parsed(const QString &hostAndPort) {
    const auto address = ParseListenAddress(hostAndPort);
    if (!address)
        throw CliError{kExitUsage, QStringLiteral("--metrics: '%1' is not HOST:PORT (an IPv6 "
                                                  "address in brackets: [::1]:9731)")
                                       .arg(hostAndPort)};
    return *address;
}

} // namespace

MetricsServer::MetricsServer(const QString &hostAndPort, HttpLimits limits)
    : http_(std::make_unique<HttpServer>(Parsed(hostAndPort), hostAndPort, limits)) {
    http_->get("/metrics", [this](const httplib::Request &, httplib::Response &response) {
        BusMetrics snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = bus_;
        }
        response.set_content(PrometheusText(snapshot).toStdString(),
                             "text/plain; version=0.0.4; charset=utf-8");
    });
}

MetricsServer::~MetricsServer() { http_->stop(); }

void MetricsServer::update(BusMetrics bus) {
    std::lock_guard lock(mutex_);
    bus_ = std::move(bus);
}

#include "MetricsServer.h"

#include "CliError.h"
#include "OptionNumbers.h"

#include <httplib.h>

MetricsServer::MetricsServer() : server_(std::make_unique<httplib::Server>()) {}

MetricsServer::~MetricsServer() {
    if (serving_.joinable()) {
        server_->stop();
        serving_.join();
    }
}

void MetricsServer::start(const QString &hostAndPort) {
    const qsizetype colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
    const QString host = hostAndPort.left(colon);
    const auto port = ParseDecimal(hostAndPort.mid(colon + 1), 1, 65535);
    if (colon <= 0 || !port)
        throw CliError{kExitUsage,
                       QStringLiteral("--metrics: '%1' is not HOST:PORT").arg(hostAndPort)};
    server_->Get("/metrics", [this](const httplib::Request &, httplib::Response &response) {
        BusMetrics snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = bus_;
        }
        response.set_content(PrometheusText(snapshot).toStdString(),
                             "text/plain; version=0.0.4; charset=utf-8");
    });
    if (!server_->bind_to_port(host.toStdString(), *port))
        throw CliError{kExitUsage,
                       QStringLiteral("--metrics: cannot listen on %1").arg(hostAndPort)};
    serving_ = std::thread([this] { server_->listen_after_bind(); });
}

void MetricsServer::update(BusMetrics bus) {
    std::lock_guard lock(mutex_);
    bus_ = std::move(bus);
}

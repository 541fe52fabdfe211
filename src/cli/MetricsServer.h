#pragma once
// Serves /metrics in the Prometheus text format from a thread of its own; the logging loop
// hands it a fresh snapshot after every reading.
#include "MetricsText.h"

#include <QString>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

class MetricsServer {
public:
    MetricsServer();
    ~MetricsServer(); // stops serving and joins the thread
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // "HOST:PORT". Throws CliError(kExitUsage) when it is malformed or cannot be listened on.
    void start(const QString &hostAndPort);
    void update(BusMetrics bus);

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread serving_;
    std::mutex mutex_;
    BusMetrics bus_;
};

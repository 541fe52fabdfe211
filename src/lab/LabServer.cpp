#include "lab/LabServer.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

static void InitLabResources() {
    Q_INIT_RESOURCE(lab);
    Q_INIT_RESOURCE(web);
}

namespace {

constexpr auto kFreshFor = std::chrono::seconds(4);

double NowSeconds() { return QDateTime::currentMSecsSinceEpoch() / 1000.0; }

} // namespace

LabServer::LabServer(const ListenAddress &address, const QString &addressText,
                     PrometheusSettings prometheus, HttpLimits limits)
    : prometheus_(std::move(prometheus)),
      http_(std::make_unique<HttpServer>(address, addressText, limits)) {
    InitLabResources();
    using Request = HttpServer::Request;
    using Response = HttpServer::Response;
    http_->get("/", [this](const Request &, Response &response) {
        serveResource(QStringLiteral(":/lab/lab.html"), "text/html; charset=utf-8", response);
    });
    http_->get("/static/lab.js", [this](const Request &, Response &response) {
        serveResource(QStringLiteral(":/lab/lab.js"), "text/javascript; charset=utf-8", response);
    });
    http_->get("/static/overview.js", [this](const Request &, Response &response) {
        serveResource(QStringLiteral(":/web/overview.js"), "text/javascript; charset=utf-8",
                      response);
    });
    http_->get("/static/kalvora.css", [this](const Request &, Response &response) {
        serveResource(QStringLiteral(":/web/kalvora.css"), "text/css; charset=utf-8", response);
    });
    http_->get("/api/lab", [this](const Request &, Response &response) {
        response.setHeader("Cache-Control", "no-store");
        response.setContent(labJson(), "application/json; charset=utf-8");
    });
}

LabServer::~LabServer() { http_->stop(); }

void LabServer::serveResource(const QString &resource, const char *type,
                              HttpServer::Response &response) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly)) {
        response.status = 500;
        response.setContent("missing " + resource.toUtf8(), "text/plain; charset=utf-8");
        return;
    }
    response.setHeader("Cache-Control", "no-cache");
    response.setContent(file.readAll(), type);
}

std::optional<QByteArray> LabServer::cachedJson(bool freshOnly) const {
    std::lock_guard lock(cacheMutex_);
    if (cached_.isEmpty() ||
        (freshOnly && std::chrono::steady_clock::now() - cachedAt_ >= kFreshFor))
        return std::nullopt;
    return cached_;
}

QByteArray LabServer::labJson() {
    if (auto fresh = cachedJson(true))
        return *fresh;
    std::unique_lock refresh(queryMutex_, std::try_to_lock);
    if (!refresh.owns_lock()) {
        // Another request is asking Prometheus, which may take its whole time-out: the last
        // answer (it names its own moment) rather than a wait behind it.
        if (auto last = cachedJson(false))
            return *last;
        refresh.lock();
        if (auto fresh = cachedJson(true))
            return *fresh;
    }
    const auto now = std::chrono::steady_clock::now();
    const double at = NowSeconds();
    LabInputs inputs;
    inputs.now = at;
    QString error;
    const auto ask = [&](const QString &promql) -> std::vector<PromSample> {
        if (!error.isEmpty())
            return {};
        const PrometheusAnswer answer = prometheus_.query(promql, at);
        if (!answer.error.isEmpty()) {
            error = answer.error;
            return {};
        }
        PromVector vector = ParsePromVector(answer.body);
        if (!vector.error.isEmpty())
            error = vector.error;
        return std::move(vector.samples);
    };
    const QString lookback = QStringLiteral("[%1h]").arg(kLabLookbackHours);
    inputs.portUp = ask(QStringLiteral("last_over_time(kalvora_port_up%1)").arg(lookback));
    inputs.up = ask(QStringLiteral("up"));
    for (const QString &metric : LabChamberMetrics())
        inputs.chamberLast[metric] =
            ask(QStringLiteral("last_over_time(%1%2)").arg(metric, lookback));
    inputs.alarms = ask(QStringLiteral("kalvora_alarm_active == 1"));
    std::vector<LabBench> benches;
    if (error.isEmpty()) {
        benches = BuildLab(inputs);
        lastBenches_ = benches;
    } else {
        // What was last known, every figure old: a banner says why, the page is never empty.
        benches = lastBenches_;
        for (LabBench &bench : benches)
            for (LabChamber &chamber : bench.chambers)
                chamber.answering = false;
    }
    const QByteArray json = QJsonDocument(LabJson(benches, at, prometheus_.settings().url, error))
                                .toJson(QJsonDocument::Compact);
    std::lock_guard lock(cacheMutex_);
    cached_ = json;
    cachedAt_ = now;
    return json;
}

#include "logger/http/OverviewServer.h"

#include "base/CliError.h"
#include "logger/http/OverviewJson.h"

#include "core/AlarmRules.h"
#include "core/ExchangeOutcome.h"
#include "core/LogFormat.h"
#include "core/OverviewQuery.h"
#include "core/ReadingsCsv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <algorithm>

static void InitWebResources() { Q_INIT_RESOURCE(web); }

namespace {

constexpr char kJson[] = "application/json; charset=utf-8";

ListenAddress Parsed(const QString &hostAndPort, const QString &option) {
    const auto address = ParseListenAddress(hostAndPort);
    if (!address)
        throw CliError{kExitUsage, QStringLiteral("%1: '%2' is not [HOST:]PORT (an IPv6 "
                                                  "address in brackets: [::1]:9731)")
                                       .arg(option, hostAndPort)};
    return *address;
}

void Json(HttpServer::Response &response, int status, const QByteArray &body) {
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setContent(body, kJson);
}

void JsonError(HttpServer::Response &response, int status, const QString &text) {
    Json(response, status, ErrorJson(text));
}

std::optional<QString> Parameter(const HttpServer::Request &request, const char *name) {
    if (!request.hasParam(name))
        return std::nullopt;
    return QString::fromStdString(request.param(name));
}

// The newest bytes of the journal, enough for `count` lines or back to `since`: read from the
// end a block at a time, at most a few megabytes.
QList<QByteArray> JournalLines(const QString &path, std::optional<qint64> since, int count) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    constexpr qint64 kBlock = 256 * 1024;
    constexpr qint64 kAtMost = 16 * 1024 * 1024;
    const qint64 size = file.size();
    qint64 from = size;
    QByteArray tail;
    EventLines selected;
    while (true) {
        from = std::max<qint64>(0, from - kBlock);
        if (!file.seek(from))
            return {};
        tail = file.read(size - from);
        selected = SelectEventLines(tail, from == 0, since, count);
        if (selected.reachedOlder || from == 0 || size - from >= kAtMost)
            return selected.lines;
    }
}

} // namespace

OverviewServer::OverviewServer(const QString &hostAndPort, HttpLimits limits, const QString &option)
    : http_(std::make_unique<HttpServer>(Parsed(hostAndPort, option), hostAndPort, limits)) {
    http_->get("/metrics", [this](const HttpServer::Request &, HttpServer::Response &response) {
        BusMetrics snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = bus_;
        }
        snapshot.failedLogins = http_->failedLogins();
        response.setContent(PrometheusText(snapshot).toUtf8(),
                            "text/plain; version=0.0.4; charset=utf-8");
    });
}

OverviewServer::~OverviewServer() { http_->stop(); }

void OverviewServer::serveOverview(OverviewSettings settings, const LoggerClock &clock,
                                   AssetWarning warn) {
    InitWebResources();
    settings_ = std::move(settings);
    clock_ = &clock;
    warn_ = std::move(warn);
    using Request = HttpServer::Request;
    using Response = HttpServer::Response;
    HttpServer &http = *http_;
    http.get("/", [this](const Request &, Response &response) {
        serveAsset(QStringLiteral("index.html"), "text/html; charset=utf-8", response);
    });
    const struct {
        const char *name;
        const char *type;
    } assets[] = {{"kalvora.css", "text/css; charset=utf-8"},
                  {"overview.js", "text/javascript; charset=utf-8"},
                  {"chamber.js", "text/javascript; charset=utf-8"}};
    for (const auto &asset : assets)
        http.get(std::string("/static/") + asset.name, [this, asset](const Request &, Response &r) {
            serveAsset(QString::fromLatin1(asset.name), asset.type, r);
        });
    // The page's words for the journal's exchange outcomes and the alarms' kinds come from the
    // program's own tables, which the report reads too.
    http.get("/static/words.js", [](const Request &, Response &response) {
        const auto object = [](const QJsonObject &words) {
            return QJsonDocument(words).toJson(QJsonDocument::Compact);
        };
        response.setHeader("Cache-Control", "no-cache");
        response.setContent("const KalvoraOutcomeWords = " +
                                object(OutcomeRussianByJournalValue()) +
                                ";\nconst KalvoraAlarmWords = " +
                                object(AlarmKindRussianByName()) + ";\n",
                            "text/javascript; charset=utf-8");
    });
    http.get("/static/dygraph.min.js", [this](const Request &, Response &response) {
        serveDygraphs(QStringLiteral("dygraph.min.js"), "text/javascript; charset=utf-8", response);
    });
    http.get("/static/dygraph.css", [this](const Request &, Response &response) {
        serveDygraphs(QStringLiteral("dygraph.min.css"), "text/css; charset=utf-8", response);
    });
    http.getUnder("/chamber/", [this](const Request &request, Response &response) {
        const ChamberInPath chamber =
            ParseChamberInPath(QString::fromStdString(request.rest));
        if (chamber.address && logs(*chamber.address)) {
            serveAsset(QStringLiteral("chamber.html"), "text/html; charset=utf-8", response);
            return;
        }
        // A page that is not there, whatever the path holds; the page itself tells the reader,
        // in its own language, that there is no such chamber.
        serveAsset(QStringLiteral("chamber.html"), "text/html; charset=utf-8", response);
        if (response.status != 500)
            response.status = 404;
    });
    http.get("/api/chambers", [this](const Request &, Response &response) {
        BusMetrics snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = bus_;
        }
        Json(response, 200, ChambersJson(snapshot, clock_->now()));
    });
    http.get("/api/events", [this](const Request &request, Response &response) {
        serveEvents(request, response);
    });
    http.getUnder("/api/chambers/", [this](const Request &request, Response &response) {
        serveChamber(request.rest, request, response);
    });
    http.getUnder("/api/", [](const Request &, Response &response) {
        JsonError(response, 404, QStringLiteral("no such API path"));
    });
}

bool OverviewServer::logs(int address) const {
    return std::find(settings_.addresses.begin(), settings_.addresses.end(), address) !=
           settings_.addresses.end();
}

void OverviewServer::serveAsset(const QString &resource, const char *type,
                                HttpServer::Response &response) {
    QFile file(QStringLiteral(":/web/") + resource);
    if (!file.open(QIODevice::ReadOnly)) {
        response.status = 500;
        return;
    }
    const QByteArray bytes = file.readAll();
    response.setHeader("Cache-Control", "no-cache");
    response.setContent(bytes, type);
}

void OverviewServer::serveDygraphs(const QString &file, const char *type,
                                   HttpServer::Response &response) {
    const QString path = settings_.dygraphsFolder + QLatin1Char('/') + file;
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) {
        bool first = false;
        {
            std::lock_guard lock(warnedMutex_);
            first = warned_.insert(path).second;
        }
        if (first && warn_)
            warn_(path, source.errorString());
        response.status = 404;
        response.setContent("The chart library is not installed (libjs-dygraphs).\n",
                            "text/plain; charset=utf-8");
        return;
    }
    response.setHeader("Cache-Control", "max-age=3600");
    response.setContent(source.readAll(), type);
}

void OverviewServer::serveChamber(const std::string &rest, const HttpServer::Request &request,
                                  HttpServer::Response &response) {
    const std::string suffix = "/history";
    if (rest.size() < suffix.size() ||
        rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) != 0) {
        JsonError(response, 404, QStringLiteral("no such API path"));
        return;
    }
    const QString number = QString::fromStdString(rest.substr(0, rest.size() - suffix.size()));
    const ChamberInPath chamber = ParseChamberInPath(number);
    if (!chamber.isNumber) {
        JsonError(response, 400, QStringLiteral("'%1' is not a chamber number").arg(number));
        return;
    }
    if (!chamber.address || !logs(*chamber.address)) {
        JsonError(response, 404, QStringLiteral("chamber %1 is not logged here").arg(number));
        return;
    }
    const auto minutes = ParseHistoryMinutes(Parameter(request, "minutes"));
    if (!minutes) {
        JsonError(
            response, 400,
            QStringLiteral("minutes must be a whole number from 1 to %1").arg(kMaxHistoryMinutes));
        return;
    }
    const qint64 now = clock_->now().toMSecsSinceEpoch();
    std::vector<HistoryPoint> points;
    {
        std::lock_guard lock(historyMutex_);
        points = history_.points(*chamber.address, now, *minutes * ReadingHistory::kMinuteMs);
    }
    Json(response, 200, HistoryJson(*chamber.address, *minutes, points));
}

void OverviewServer::serveEvents(const HttpServer::Request &request, HttpServer::Response &response) {
    std::optional<qint64> since;
    if (const auto text = Parameter(request, "since")) {
        since = ParseSinceTime(*text);
        if (!since) {
            JsonError(response, 400,
                      QStringLiteral("since must be a time as the journal writes it, "
                                     "2026-12-10T17:03:04+01:00"));
            return;
        }
    }
    Json(response, 200, EventsJson(JournalLines(settings_.eventsPath, since, since ? 1000 : 200)));
}

void OverviewServer::fillHistory(int address, const QList<Reading> &readings, qint64 from,
                                 qint64 until, qint64 gapAfterMs) {
    std::lock_guard lock(historyMutex_);
    FillHistory(history_, address, readings, from, until, gapAfterMs);
    // Thinned to this moment now, not at the first round: the rows may end hours ago.
    history_.expire(until);
}

void OverviewServer::fillHistoryFromCsv(const QString &folder, qint64 now, qint64 gapAfterMs) {
    const qint64 from = now - ReadingHistory::kKeptMs;
    const QDir dir(folder);
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.csv")}, QDir::Files | QDir::Readable, QDir::Name);
    for (int address : settings_.addresses) {
        // "<folder>/ЖЫМ№3 ": the space after the number tells chamber 3 from chamber 31.
        const QString marker(QChar(0x1));
        const QString named = WithChamberNumber(NewLogFileName(QString(), marker), address);
        const QString prefix = named.left(named.indexOf(marker));
        QList<Reading> rows;
        for (const QFileInfo &info : files) {
            if (!info.fileName().startsWith(prefix) ||
                info.lastModified().toMSecsSinceEpoch() < from)
                continue;
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            if (const auto read = ReadReadingsCsv(file.readAll()))
                rows += read->readings;
        }
        if (!rows.isEmpty())
            fillHistory(address, rows, from, now, gapAfterMs);
    }
}

void OverviewServer::update(BusMetrics bus) {
    {
        std::lock_guard lock(historyMutex_);
        for (const ChamberMetrics &c : bus.chambers) {
            const auto before =
                std::find_if(bus_.chambers.begin(), bus_.chambers.end(),
                             [&c](const ChamberMetrics &b) { return b.address == c.address; });
            const bool replied =
                c.lastGoodReading.isValid() &&
                (before == bus_.chambers.end() || before->lastGoodReading != c.lastGoodReading);
            if (replied && c.sensorOk.value_or(false) && c.lastValues)
                history_.addReading(c.address, HistoryPointOf(c.lastGoodReading.toMSecsSinceEpoch(),
                                                              *c.lastValues));
            else if (replied)
                history_.addGap(c.address, c.lastGoodReading.toMSecsSinceEpoch());
            if ((!c.up || !bus.portUp) && c.silentSince.isValid())
                history_.addGap(c.address, c.silentSince.toMSecsSinceEpoch());
        }
        if (clock_)
            history_.expire(clock_->now().toMSecsSinceEpoch());
    }
    std::lock_guard lock(mutex_);
    bus_ = std::move(bus);
}

// kalvora-cli lab: one page for every chamber of every logger that the lab's Prometheus scrapes,
// grouped by bench, each tile linking to its logger's own chamber page. It reads Prometheus's
// query API only, so it runs on any PC of the lab or on the Prometheus server itself.
#include "lab/LabCommand.h"

#include "base/CliError.h"
#include "base/CommandLine.h"
#include "base/WebConfig.h"
#include "core/LoginFailurePacing.h"
#include "lab/LabServer.h"

#include "platform/TerminationSignals.h"

#include <QFile>
#include <QUrl>

#include <memory>
#include <mutex>
#include <system_error>

namespace {

const char kDescription[] =
    "Serves one page with a tile for every chamber of every logger that the lab's\n"
    "Prometheus scrapes (kalvora-cli log --http on each PC), grouped by bench, with\n"
    "the look of a logger's overview; each tile links to its logger's own chamber\n"
    "page. It reads Prometheus's query API (/api/v1/query) only and talks to no\n"
    "chamber and no logger. A chamber is silent, old or alarmed by the rules of the\n"
    "logger's page; a logger Prometheus cannot scrape is shown as a bench down, with\n"
    "its chambers' last figures marked old; Prometheus out of reach is a banner above\n"
    "the last known tiles. The page's data is at /api/lab (docs/http-api.md). A\n"
    "bench's name is the target's label bench=, its page the label page= (else\n"
    "http://INSTANCE/). Runs until SIGINT, SIGTERM or SIGHUP.";

// Failed logins to the page, one warning each on stderr (the service's journal), at the pace
// LoginFailurePacing allows so that a flood of wrong passwords cannot fill the log; never the
// password. Called on the server's threads.
HttpServer::LoginFailureHandler LoginFailureWarnings() {
    struct Pacing {
        std::mutex mutex;
        LoginFailurePacing pacing;
    };
    auto shared = std::make_shared<Pacing>();
    return [shared](const LoginFailure &failure) {
        LoginFailurePacing::Verdict verdict;
        {
            std::lock_guard lock(shared->mutex);
            verdict = shared->pacing.failed(failure.peer.toStdString(),
                                            LoginFailurePacing::Clock::now());
        }
        if (!verdict.journal)
            return;
        const QString leftOut =
            verdict.leftOut ? QStringLiteral(" (%1 more not shown)").arg(verdict.leftOut)
                            : QString();
        PrintWarning(QStringLiteral("failed login to the lab's page as '%1' from %2%3")
                         .arg(failure.user, failure.peer, leftOut));
    };
}

QByteArray PasswordFromFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile,
                       QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    QByteArray password = file.readAll();
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    return password;
}

} // namespace

int RunLab(const QStringList &arguments) {
    CommandLine line(QStringLiteral("lab"), QString(), QString::fromUtf8(kDescription),
                     std::nullopt);
    line.addValueOption(QStringLiteral("prometheus"), QStringLiteral("URL"),
                        QStringLiteral("The lab's Prometheus, e.g. http://prometheus:9090 "
                                       "(needed)."));
    line.addValueOption(QStringLiteral("http"), QStringLiteral("[HOST:]PORT"),
                        QStringLiteral("Serve the page at http://HOST:PORT/; a PORT alone is "
                                       "127.0.0.1:PORT (default: 127.0.0.1:9730). Without "
                                       "--web-config there is no login: 127.0.0.1 keeps it to "
                                       "this machine, 0.0.0.0 opens it to anyone on the "
                                       "network."));
    line.addValueOption(QStringLiteral("http-host"), QStringLiteral("NAME"),
                        QStringLiteral("A name the page may be asked for by, when bound to an "
                                       "address other than a loopback (repeatable)."));
    line.addValueOption(QStringLiteral("web-config"), QStringLiteral("FILE"),
                        QStringLiteral("TLS and users of the page (tls_server_config, "
                                       "basic_auth_users; default: none, no login). A bad file "
                                       "stops the start (exit 2); failed logins are warnings on "
                                       "stderr, never the password."));
    line.addValueOption(QStringLiteral("prometheus-user"), QStringLiteral("USER"),
                        QStringLiteral("Log in to Prometheus as USER (basic auth)."));
    line.addValueOption(QStringLiteral("prometheus-password-file"), QStringLiteral("FILE"),
                        QStringLiteral("The password of --prometheus-user, the first line of "
                                       "FILE."));
    line.addValueOption(QStringLiteral("prometheus-ca"), QStringLiteral("FILE"),
                        QStringLiteral("Trust this CA certificate (PEM) for an https:// "
                                       "Prometheus (default: the system's)."));
    if (const auto done = line.parse(arguments))
        return *done;
    line.expectPositional(0, QStringLiteral("no arguments"));

    PrometheusSettings prometheus;
    prometheus.url = line.value(QStringLiteral("prometheus"));
    const QUrl url(prometheus.url, QUrl::StrictMode);
    if (prometheus.url.isEmpty() || !url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty())
        throw CliError{kExitUsage,
                       QStringLiteral("--prometheus: '%1' is not an http:// or https:// URL %2")
                           .arg(prometheus.url, line.usageHint())};
    prometheus.user = line.value(QStringLiteral("prometheus-user"));
    if (line.isSet(QStringLiteral("prometheus-password-file")))
        prometheus.password = PasswordFromFile(line.value(QStringLiteral("prometheus-password-file")));
    else if (!prometheus.user.isEmpty())
        throw CliError{kExitUsage, QStringLiteral("--prometheus-user needs "
                                                  "--prometheus-password-file")};
    prometheus.caFile = line.value(QStringLiteral("prometheus-ca"));

    const QString httpText = line.isSet(QStringLiteral("http"))
                                 ? line.value(QStringLiteral("http"))
                                 : QStringLiteral("127.0.0.1:9730");
    const auto address = ParseListenAddress(httpText);
    if (!address)
        throw CliError{kExitUsage, QStringLiteral("--http: '%1' is not [HOST:]PORT (an IPv6 "
                                                  "address in brackets: [::1]:9730)")
                                       .arg(httpText)};
    std::optional<WebConfig> webConfig;
    if (line.isSet(QStringLiteral("web-config")))
        webConfig = LoadWebConfig(line.value(QStringLiteral("web-config")));

    std::optional<TerminationSignals> watched;
    try {
        watched.emplace();
    } catch (const std::system_error &error) {
        throw CliError{kExitFile, QStringLiteral("cannot watch for signals: %1")
                                      .arg(QString::fromLocal8Bit(error.what()))};
    }
    LabServer server(*address, httpText, prometheus);
    std::vector<std::string> hostNames;
    for (const QString &name : line.parser().values(QStringLiteral("http-host")))
        hostNames.push_back(name.toStdString());
    server.http().acceptHostNames(std::move(hostNames));
    // A certificate and key that cannot serve stop the start here (exit 2), never open.
    if (webConfig)
        server.http().secure(*webConfig, LoginFailureWarnings());
    server.start([httpText](const HttpServerEvent &event) {
        if (event.kind == HttpServerEvent::Kind::Failed)
            PrintWarning(QStringLiteral("--http %1: %2; tried again every 30 s")
                             .arg(httpText, event.reason));
        else
            PrintError(QStringLiteral("the lab's page is at %1").arg(httpText));
    });
    watched->waitAndTake(std::nullopt);
    server.stop();
    return kExitOk;
}

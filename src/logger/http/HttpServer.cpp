#include "logger/http/HttpServer.h"

#include "base/CliError.h"
#include "base/OptionNumbers.h"
#include "logger/http/LoginGate.h"
#include "platform/TcpListeners.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::optional<ListenAddress> ParseListenAddress(const QString &text) {
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || text.mid(close + 1, 1) != QLatin1String(":"))
            return std::nullopt;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            // A port alone stays on this machine: the pages have no login.
            const auto number = ParseDecimal(text, 1, 65535);
            if (!number)
                return std::nullopt;
            return ListenAddress{"127.0.0.1", *number};
        }
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':'))) // an IPv6 address without brackets is ambiguous
            return std::nullopt;
    }
    const auto number = ParseDecimal(port, 1, 65535);
    if (host.isEmpty() || host.contains(QLatin1Char(' ')) || !number)
        return std::nullopt;
    return ListenAddress{host.toStdString(), *number};
}

bool HttpServer::Request::hasParam(const std::string &name) const {
    return std::any_of(params.begin(), params.end(), [&](const auto &p) { return p.first == name; });
}

std::string HttpServer::Request::param(const std::string &name) const {
    for (const auto &[key, value] : params)
        if (key == name)
            return value;
    return {};
}

void HttpServer::Response::setContent(const QByteArray &content, const char *type) {
    body = content;
    setHeader("Content-Type", type);
}

void HttpServer::Response::setHeader(const std::string &name, const std::string &value) {
    for (auto &header : headers)
        if (header.first == name) {
            header.second = value;
            return;
        }
    headers.emplace_back(name, value);
}

struct HttpServer::Connection {
    int fd = -1;
    Clock::time_point deadline;
    int served = 0;
    bool overLimit = false; // opened beyond HttpLimits::connections: answered 503
    bool cut = false;
    std::string target; // the request line's target as it came
    enum class Stage { Head, Checked, Answered } stage = Stage::Head; // of the current request
};

namespace {

// Beyond the limit a few more connections are taken, to be told 503 rather than left waiting.
constexpr unsigned kRefusedAtMost = 64;

HttpServer::Connection *ConnectionOf(MHD_Connection *connection) {
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<HttpServer::Connection *>(info->socket_context) : nullptr;
}

void OnConnection(void *server, MHD_Connection *connection, void **context,
                  MHD_ConnectionNotificationCode code) {
    auto *self = static_cast<HttpServer *>(server);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        static thread_local const bool lowered = [] {
            LowerThreadPriority();
            return true;
        }();
        (void)lowered;
        auto *opened = new HttpServer::Connection;
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        opened->fd = info ? info->connect_fd : -1;
        *context = opened;
        self->connectionOpened(opened);
    } else if (*context) {
        auto *closed = static_cast<HttpServer::Connection *>(*context);
        self->connectionClosed(closed);
        delete closed;
        *context = nullptr;
    }
}

void *OnRequestLine(void *server, const char *target, MHD_Connection *connection) {
    HttpServer::Connection *open = ConnectionOf(connection);
    if (open) {
        open->target = target;
        open->stage = HttpServer::Connection::Stage::Head;
        static_cast<HttpServer *>(server)->requestLineArrived(open);
    }
    return open;
}

void OnCompleted(void *server, MHD_Connection *connection, void **, MHD_RequestTerminationCode) {
    if (HttpServer::Connection *open = ConnectionOf(connection))
        static_cast<HttpServer *>(server)->exchangeEnded(open);
}

MHD_Result CollectHeader(void *into, MHD_ValueKind, const char *key, const char *value) {
    static_cast<std::vector<std::pair<std::string, std::string>> *>(into)->emplace_back(
        key, value ? value : "");
    return MHD_YES;
}

HttpServer::Credentials CredentialsOf(MHD_Connection *connection) {
    HttpServer::Credentials credentials;
    credentials.given = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                    MHD_HTTP_HEADER_AUTHORIZATION) != nullptr;
    char *password = nullptr;
    if (char *user = MHD_basic_auth_get_username_password(connection, &password)) {
        credentials.basic = true;
        credentials.user = user;
        if (password)
            credentials.password = password;
        MHD_free(user);
    }
    if (password)
        MHD_free(password);
    if (const MHD_ConnectionInfo *info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
        credentials.peer = SocketAddressText(info->client_addr);
    return credentials;
}

void FreeBody(void *body) { delete static_cast<QByteArray *>(body); }

MHD_Result Send(MHD_Connection *connection, const HttpServer::Response &response) {
    auto *body = new QByteArray(response.body);
    MHD_Response *answer = MHD_create_response_from_buffer_with_free_callback_cls(
        static_cast<std::size_t>(body->size()), body->data(), FreeBody, body);
    if (!answer) {
        delete body;
        return MHD_NO;
    }
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(answer, name.c_str(), value.c_str());
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), answer);
    MHD_destroy_response(answer);
    return queued;
}

MHD_Result OnRequest(void *server, MHD_Connection *connection, const char *url,
                     const char *method, const char *version, const char *,
                     std::size_t *uploadSize, void **context) {
    auto *self = static_cast<HttpServer *>(server);
    auto *open = static_cast<HttpServer::Connection *>(*context);
    if (!open)
        open = ConnectionOf(connection);
    if (!open)
        return MHD_NO;
    using Stage = HttpServer::Connection::Stage;
    if (open->stage == Stage::Head) {
        RequestHead head;
        head.method = method;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &head.headers);
        head.bytes = head.method.size() + open->target.size() + std::strlen(version) + 4 + 2;
        for (const auto &[name, value] : head.headers)
            head.bytes += name.size() + value.size() + 4;
        // A refusal goes out at once, and the connection closes after it whatever follows; an
        // answer waits for the library's next call, when the whole request is in: one queued
        // before would close the connection too.
        auto refused = self->refusal(*open, head);
        if (!refused && self->asksLogin())
            refused = self->loginRefusal(CredentialsOf(connection));
        if (refused) {
            open->stage = Stage::Answered;
            return Send(connection, *refused);
        }
        open->stage = Stage::Checked;
        return MHD_YES;
    }
    if (open->stage == Stage::Answered || *uploadSize) {
        *uploadSize = 0; // nothing of a body is kept
        return MHD_YES;
    }
    open->stage = Stage::Answered;
    HttpServer::Request request;
    request.method = method;
    request.path = url;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectHeader, &request.params);
    return Send(connection, self->serve(*open, std::move(request)));
}

HttpServer::Response Plain(int status, const char *text) {
    HttpServer::Response response;
    response.status = status;
    response.setContent(QByteArray(text), "text/plain; charset=utf-8");
    return response;
}

// A refusal ends the connection: what the client sent after it is not taken for a request.
HttpServer::Response Refusal(int status, const char *text) {
    HttpServer::Response response = Plain(status, text);
    response.setHeader(MHD_HTTP_HEADER_CONNECTION, "close");
    return response;
}

// The library's own words on why it cannot start, kept for the error that says so.
void KeepLibraryMessage(void *into, const char *format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    auto *kept = static_cast<std::string *>(into);
    if (kept->empty())
        *kept = text;
    while (!kept->empty() && (kept->back() == '\n' || kept->back() == ' ' || kept->back() == '.'))
        kept->pop_back();
}

MHD_Result RefuseEveryone(void *, MHD_Connection *, const char *, const char *, const char *,
                          const char *, std::size_t *, void **) {
    return MHD_NO;
}

} // namespace

HttpServer::HttpServer(const ListenAddress &address, const QString &addressText, HttpLimits limits)
    : address_(address), addressText_(addressText), limits_(limits) {
    rules_.requestBytes = limits_.requestBytes;
    rules_.headerCount = limits_.headerCount;
    rules_.hosts.boundHost = address_.host;
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::secure(const WebConfig &config, LoginFailureHandler onFailure) {
    const auto refuse = [&config](const QString &problem) {
        throw CliError{kExitUsage, config.path + QStringLiteral(": ") + problem};
    };
    if (config.tls()) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            refuse(QStringLiteral("this build of libmicrohttpd cannot serve TLS"));
        certPem_ = config.certPem;
        keyPem_ = config.keyPem;
        // The library reads the pair when a daemon starts: one that listens nowhere tells now
        // whether the key and certificate parse and belong together.
        std::string reason;
        MHD_Daemon *trial = MHD_start_daemon(
            MHD_USE_TLS | MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ERROR_LOG, 0, nullptr, nullptr,
            RefuseEveryone, nullptr, MHD_OPTION_EXTERNAL_LOGGER, KeepLibraryMessage, &reason,
            MHD_OPTION_HTTPS_MEM_KEY, keyPem_.constData(), MHD_OPTION_HTTPS_MEM_CERT,
            certPem_.constData(), MHD_OPTION_END);
        if (!trial)
            refuse(QStringLiteral("the certificate %1 and key %2 cannot serve TLS%3")
                       .arg(config.certFile, config.keyFile,
                            reason.empty() ? QString()
                                           : QStringLiteral(" (") +
                                                 QString::fromStdString(reason) +
                                                 QStringLiteral(")")));
        MHD_stop_daemon(trial);
    }
    if (config.login()) {
        if (MHD_is_feature_supported(MHD_FEATURE_BASIC_AUTH) != MHD_YES)
            refuse(QStringLiteral("this build of libmicrohttpd cannot ask for a login"));
        gate_ = std::make_unique<LoginGate>(config);
        onLoginFailure_ = std::move(onFailure);
    }
}

std::optional<HttpServer::Response> HttpServer::loginRefusal(const Credentials &credentials) {
    if (credentials.basic) {
        switch (gate_->check(QString::fromUtf8(credentials.user),
                             QByteArray::fromStdString(credentials.password))) {
        case LoginGate::Verdict::Allowed:
            return std::nullopt;
        case LoginGate::Verdict::Busy: {
            Response busy = Refusal(503, "busy checking another login, try again\n");
            busy.setHeader("Retry-After", "1");
            return busy;
        }
        case LoginGate::Verdict::Refused:
            break;
        }
    }
    if (credentials.given) {
        ++failedLogins_;
        if (onLoginFailure_)
            onLoginFailure_({credentials.basic ? QString::fromUtf8(credentials.user) : QString(),
                             QString::fromStdString(credentials.peer)});
    }
    Response refused = Refusal(401, "login needed\n");
    refused.setHeader(MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Basic realm=\"Kalvora\", charset=\"UTF-8\"");
    return refused;
}

void HttpServer::get(const std::string &path, Handler handler) {
    routes_.push_back({path, false, std::move(handler)});
}

void HttpServer::getUnder(const std::string &prefix, Handler handler) {
    routes_.push_back({prefix, true, std::move(handler)});
}

void HttpServer::acceptHostNames(std::vector<std::string> names) {
    rules_.hosts.names = std::move(names);
}

void HttpServer::start(EventHandler onEvent) {
    onEvent_ = std::move(onEvent);
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || supervisor_.joinable())
            return;
    }
    supervisor_ = std::thread([this] { run(); });
}

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (supervisor_.joinable())
        supervisor_.join();
}

void HttpServer::report(HttpServerEvent::Kind kind, const std::string &reason) {
    if (onEvent_)
        onEvent_(HttpServerEvent{kind, addressText_, QString::fromStdString(reason)});
}

void HttpServer::setDeadline(Connection *connection, Clock::time_point deadline) {
    connection->deadline = deadline;
    if (deadline < nextWake_) {
        nextWake_ = deadline;
        wake_.notify_all();
    }
}

void HttpServer::connectionOpened(Connection *connection) {
    std::lock_guard lock(mutex_);
    open_.insert(connection);
    connection->overLimit =
        open_.size() > static_cast<std::size_t>(std::max(limits_.connections, 1));
    setDeadline(connection, Clock::now() + limits_.keepAlive);
}

void HttpServer::connectionClosed(Connection *connection) {
    std::lock_guard lock(mutex_);
    open_.erase(connection);
}

void HttpServer::requestLineArrived(Connection *connection) {
    std::lock_guard lock(mutex_);
    setDeadline(connection, Clock::now() + limits_.exchangeTimeout);
}

void HttpServer::exchangeEnded(Connection *connection) {
    std::lock_guard lock(mutex_);
    setDeadline(connection, Clock::now() + limits_.keepAlive);
}

std::optional<HttpServer::Response> HttpServer::refusal(Connection &connection,
                                                       const RequestHead &head) const {
    if (connection.overLimit) {
        Response busy = Refusal(503, "too many connections\n");
        busy.setHeader("Retry-After", "1");
        return busy;
    }
    const RequestVerdict verdict = CheckRequest(head, rules_);
    if (!verdict.status)
        return std::nullopt;
    Response refused = Refusal(verdict.status, verdict.text);
    if (verdict.status == 405)
        refused.setHeader("Allow", "GET, HEAD");
    return refused;
}

HttpServer::Response HttpServer::serve(Connection &connection, Request request) const {
    Response response;
    const Route *route = nullptr;
    for (const Route &candidate : routes_) {
        if (candidate.prefix ? request.path.size() > candidate.path.size() &&
                                   request.path.compare(0, candidate.path.size(),
                                                        candidate.path) == 0
                             : request.path == candidate.path) {
            route = &candidate;
            break;
        }
    }
    if (!route) {
        response = Plain(404, "not found\n");
    } else {
        if (route->prefix)
            request.rest = request.path.substr(route->path.size());
        try {
            route->handler(request, response);
        } catch (...) {
            response = Plain(500, "internal error\n");
        }
    }
    if (++connection.served >= limits_.keepAliveRequests)
        response.setHeader(MHD_HTTP_HEADER_CONNECTION, "close");
    return response;
}

void HttpServer::run() {
    LowerThreadPriority();
    std::vector<MHD_Daemon *> daemons;
    std::string reported;
    auto nextAttempt = Clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = Clock::now();
        if (daemons.empty() && now >= nextAttempt) {
            lock.unlock();
            std::string failure;
            for (int fd : ListenOnEveryAddress(address_.host, address_.port, failure)) {
                const auto seconds = std::chrono::ceil<std::chrono::seconds>(limits_.ioTimeout);
                const bool tls = !certPem_.isEmpty();
                std::vector<MHD_OptionItem> tlsOptions;
                if (tls) {
                    tlsOptions.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0,
                                          const_cast<char *>(keyPem_.constData())});
                    tlsOptions.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0,
                                          const_cast<char *>(certPem_.constData())});
                }
                tlsOptions.push_back({MHD_OPTION_END, 0, nullptr});
                MHD_Daemon *daemon = MHD_start_daemon(
                    MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC |
                        (tls ? MHD_USE_TLS : 0),
                    0, nullptr, nullptr, OnRequest, this, MHD_OPTION_LISTEN_SOCKET, fd,
                    MHD_OPTION_ARRAY, tlsOptions.data(),
                    MHD_OPTION_THREAD_POOL_SIZE,
                    static_cast<unsigned>(std::max(limits_.workers, 1)),
                    MHD_OPTION_CONNECTION_LIMIT,
                    static_cast<unsigned>(std::max(limits_.connections, 1)) + kRefusedAtMost,
                    MHD_OPTION_CONNECTION_TIMEOUT,
                    static_cast<unsigned>(std::max<long long>(seconds.count(), 1)),
                    MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connectionMemory,
                    MHD_OPTION_NOTIFY_CONNECTION, OnConnection, this,
                    MHD_OPTION_NOTIFY_COMPLETED, OnCompleted, this,
                    MHD_OPTION_URI_LOG_CALLBACK, OnRequestLine, this, MHD_OPTION_END);
                if (daemon) {
                    daemons.push_back(daemon);
                } else {
                    CloseSocket(fd);
                    failure = "the HTTP library cannot serve the socket";
                }
            }
            if (!failure.empty()) {
                for (MHD_Daemon *daemon : daemons)
                    MHD_stop_daemon(daemon);
                daemons.clear();
                if (failure != reported)
                    report(HttpServerEvent::Kind::Failed, failure);
                reported = failure;
                nextAttempt = Clock::now() + limits_.retryInterval;
            } else {
                report(HttpServerEvent::Kind::Listening, {});
                reported.clear();
            }
            lock.lock();
            continue;
        }
        // Connections past their deadline end now; the library closes them at its next look.
        auto wakeAt = daemons.empty() ? nextAttempt : Clock::time_point::max();
        for (Connection *open : open_) {
            if (open->cut)
                continue;
            if (open->deadline <= now) {
                CutConnection(open->fd);
                open->cut = true;
            } else {
                wakeAt = std::min(wakeAt, open->deadline);
            }
        }
        nextWake_ = wakeAt;
        wake_.wait_until(lock, std::min(wakeAt, now + std::chrono::hours(1)),
                         [&] { return stopping_ || nextWake_ < wakeAt; });
    }
    lock.unlock();
    for (MHD_Daemon *daemon : daemons)
        MHD_stop_daemon(daemon);
}

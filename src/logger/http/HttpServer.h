#pragma once
// A small HTTP server for the logger's read-only pages (GET and HEAD only), on libmicrohttpd.
// Whether it can listen never decides whether the logger runs: start() returns at once, and a
// failure to listen is reported through the event handler and retried. stop() ends every
// connection and wait at once.
//
// The library's threads (HttpLimits::workers of them) each wait on many connections at once
// and run the handlers; a client that sends slowly or never reads holds its connection only,
// never a thread. Each exchange has a deadline from its request line to its answer's last byte;
// a supervising thread cuts a connection that passes it, however it trickles.
//
// secure() adds TLS and a login (base/WebConfig.h): the library's own TLS, and basic auth checked
// in front of every route, before anything of a page, the API, /metrics or /static is composed.
// A request without valid credentials gets 401 with WWW-Authenticate and a line of text; the
// cost of the password checks is bounded as LoginGate says.
#include "base/WebConfig.h"
#include "logger/http/RequestCheck.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// HOST:PORT as the user gives it; an IPv6 address goes in brackets: "[::1]:9731".
struct ListenAddress {
    std::string host; // without the brackets
    int port = 0;
};
// Empty when the text is not HOST:PORT (port 1 to 65535); a PORT alone is 127.0.0.1:PORT.
std::optional<ListenAddress> ParseListenAddress(const QString &text);

struct HttpLimits {
    int workers = 4;                  // the library's threads, which also run the handlers
    int connections = 256;            // open at once; more are answered 503 and closed
    std::size_t requestBytes = 16384; // request line and headers together
    std::size_t headerCount = 64;
    std::size_t connectionMemory = 64 * 1024; // the library's buffers of one connection
    std::chrono::milliseconds ioTimeout{5000};        // no byte either way for this long
    std::chrono::milliseconds exchangeTimeout{10000}; // from a request line to its answer's end
    std::chrono::milliseconds keepAlive{5000};        // before a connection's next request
    int keepAliveRequests = 100;
    std::chrono::milliseconds retryInterval{30000}; // between attempts to listen
};

struct HttpServerEvent {
    enum class Kind {
        Listening, // bound and accepting; `reason` is empty
        Failed,    // the address cannot be taken (again); retried every retryInterval
    };
    Kind kind;
    QString address; // as given to the constructor
    QString reason;  // the system's text, "Address already in use"
};

// A request whose credentials were wrong: the user name it gave (empty when its Authorization
// was not basic credentials) and the peer's address. Never the password.
struct LoginFailure {
    QString user;
    QString peer;
};

class LoginGate;

class HttpServer {
public:
    struct Request {
        std::string method; // GET or HEAD
        std::string path;   // percent-decoded
        std::string rest;   // what follows the prefix of a getUnder() route
        std::vector<std::pair<std::string, std::string>> params; // the query, decoded
        bool hasParam(const std::string &name) const;
        std::string param(const std::string &name) const; // the first; empty when absent
    };
    struct Response {
        int status = 200;
        QByteArray body; // shared, not copied, when the handler hands a kept one
        std::vector<std::pair<std::string, std::string>> headers;
        void setContent(const QByteArray &content, const char *type);
        void setHeader(const std::string &name, const std::string &value);
    };
    using Handler = std::function<void(const Request &, Response &)>;
    // Called on the server's thread, at any time until stop() returns. A failure is reported once
    // until its reason changes or the server listens again, so a port taken for days makes one
    // event, not one a retry.
    using EventHandler = std::function<void(const HttpServerEvent &)>;
    // Called on the library's threads, several at once, for each failed login.
    using LoginFailureHandler = std::function<void(const LoginFailure &)>;
    // What a request's head says of its login, read by the library's basic-auth helper.
    struct Credentials {
        bool given = false; // an Authorization header came
        bool basic = false; // and it held basic credentials
        std::string user;
        std::string password;
        std::string peer; // the client's address
    };

    HttpServer(const ListenAddress &address, const QString &addressText, HttpLimits limits = {});
    ~HttpServer(); // stop()
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves GET and HEAD of `path` (an exact path; any query is in Request::params) with
    // `handler`, called on one of the library's threads. Before start() only.
    void get(const std::string &path, Handler handler);
    // Serves every path that begins with `prefix`; the rest of the path (never empty) is
    // Request::rest. Routes are tried in the order they were added.
    void getUnder(const std::string &prefix, Handler handler);
    // Names besides the bound address that requests may carry in Host when the server listens
    // on an address other than a loopback. Before start() only.
    void acceptHostNames(std::vector<std::string> names);
    // Serves over TLS when the configuration has a certificate, and only to its users when it
    // has users. Before start() only. Throws CliError(kExitUsage) naming the configuration file
    // when the library cannot serve TLS here or refuses the certificate and key (a key of
    // another certificate), so that the server never starts open by mistake.
    void secure(const WebConfig &config, LoginFailureHandler onFailure = {});
    // Requests with wrong credentials so far (none given is no failure).
    unsigned long long failedLogins() const { return failedLogins_.load(); }
    // Starts the supervising thread and returns at once; listening happens there.
    void start(EventHandler onEvent);
    // Ends every connection and thread and returns when all have ended. Safe at any moment,
    // also before start() and twice.
    void stop();

    struct Connection; // the server's record of one open connection
    struct Exchange;   // of one request
    // The library's callbacks, called on its threads.
    void connectionOpened(Connection *connection);
    void connectionClosed(Connection *connection);
    void requestLineArrived(Connection *connection);
    void exchangeEnded(Connection *connection);
    // The answer to a request whose head the server refuses, once the head has arrived.
    std::optional<Response> refusal(Connection &connection, const RequestHead &head) const;
    // The answer to a request without valid credentials; none when it may go on.
    std::optional<Response> loginRefusal(const Credentials &credentials);
    bool asksLogin() const { return gate_ != nullptr; }
    // The answer to a request let through, once the whole request has arrived.
    Response serve(Connection &connection, Request request) const;

private:
    struct Route {
        std::string path;
        bool prefix;
        Handler handler;
    };

    void run();
    void report(HttpServerEvent::Kind kind, const std::string &reason);
    void setDeadline(Connection *connection, std::chrono::steady_clock::time_point deadline);

    const ListenAddress address_;
    const QString addressText_;
    const HttpLimits limits_;
    RequestRules rules_;
    std::vector<Route> routes_;
    EventHandler onEvent_;
    QByteArray certPem_; // NUL-terminated for the library; empty without TLS
    QByteArray keyPem_;
    std::unique_ptr<LoginGate> gate_;
    LoginFailureHandler onLoginFailure_;
    std::atomic<unsigned long long> failedLogins_{0};

    std::mutex mutex_;
    std::condition_variable wake_;   // the supervising thread: stop, or an earlier deadline
    std::set<Connection *> open_;    // every open connection, with its deadline
    std::chrono::steady_clock::time_point nextWake_;
    bool stopping_ = false;
    std::thread supervisor_;
};

#pragma once
// A small HTTP server for the logger's read-only pages (GET and HEAD only), served from threads
// of its own. Whether it can listen never decides whether the logger runs: start() returns at
// once, and a failure to listen is reported through the event handler and retried. Every wait
// of its threads ends on stop(), so stopping never waits for a client or a retry.
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// HOST:PORT as the user gives it; an IPv6 address goes in brackets: "[::1]:9731".
struct ListenAddress {
    std::string host; // without the brackets
    int port = 0;
};
// Empty when the text is not HOST:PORT (port 1 to 65535).
std::optional<ListenAddress> ParseListenAddress(const QString &text);

struct HttpLimits {
    int workers = 4;  // connections served at once
    int pending = 16; // accepted connections waiting for a worker (at least 1); more are closed
    std::size_t requestBytes = 16384; // request line, headers and any body together
    std::size_t headerCount = 64;
    std::chrono::milliseconds ioTimeout{5000};        // one wait to read or write
    std::chrono::milliseconds exchangeTimeout{10000}; // a whole request and its answer
    std::chrono::milliseconds keepAlive{5000};        // an idle connection between requests
    int keepAliveRequests = 100;
    std::chrono::milliseconds retryInterval{30000}; // between attempts to listen
};

struct HttpServerEvent {
    enum class Kind {
        Listening, // bound and accepting; `reason` is empty
        Failed,    // cannot listen (again); retried every HttpLimits::retryInterval
    };
    Kind kind;
    QString address; // as given to the constructor
    QString reason;  // the system's text, "Address already in use"
};

class HttpServer {
public:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
    // Called on the server's thread, at any time until stop() returns. A failure is reported once
    // until its reason changes or the server listens again, so a port taken for days makes one
    // event, not one a retry.
    using EventHandler = std::function<void(const HttpServerEvent &)>;

    HttpServer(const ListenAddress &address, const QString &addressText, HttpLimits limits = {});
    ~HttpServer(); // stop()
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves GET and HEAD of `path` (an exact path, no query) with `handler`, called on a
    // worker thread. Before start() only.
    void get(const std::string &path, Handler handler);
    // Starts the threads and returns at once; listening happens on the server's thread.
    void start(EventHandler onEvent);
    // Ends every connection and thread and returns when all have ended. Safe at any moment,
    // also before start() and twice.
    void stop();

private:
    class Routes;
    class Connection;

    void run();
    std::string acceptUntilStopped(const std::vector<int> &listening);
    void work();
    void serve(int fd);
    bool waitForStop(std::chrono::milliseconds timeout) const;
    void report(HttpServerEvent::Kind kind, const std::string &reason);

    const ListenAddress address_;
    const QString addressText_;
    const HttpLimits limits_;
    std::unique_ptr<Routes> routes_;
    EventHandler onEvent_;
    int stopFd_ = -1;

    std::mutex mutex_;
    std::condition_variable queueChanged_;
    std::deque<int> pending_;
    bool stopping_ = false;

    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

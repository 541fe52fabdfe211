#pragma once
// A small HTTP server for the logger's read-only pages (GET and HEAD only), served from threads
// of its own. Whether it can listen never decides whether the logger runs: start() returns at
// once, and a failure to listen is reported through the event handler and retried. Every wait
// of its threads ends on stop(), so stopping never waits for a client or a retry.
//
// One thread accepts and reads every connection without blocking; only a request whose headers
// have all arrived goes to a worker. A client that never finishes its request so holds nothing
// but its socket, until its deadline.
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
// Empty when the text is not HOST:PORT (port 1 to 65535); a PORT alone is 127.0.0.1:PORT.
std::optional<ListenAddress> ParseListenAddress(const QString &text);

struct HttpLimits {
    int workers = 4;                  // requests answered at once
    int connections = 256;            // open at once; one more is answered 503 and closed
    std::size_t requestBytes = 16384; // request line and headers together
    std::size_t headerCount = 64;
    std::chrono::milliseconds ioTimeout{5000};        // one wait to write an answer
    std::chrono::milliseconds exchangeTimeout{10000}; // from a request's first byte to its answer
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

    // Serves GET and HEAD of `path` (an exact path; any query is in Request::params) with
    // `handler`, called on a worker thread. Before start() only.
    void get(const std::string &path, Handler handler);
    // Serves every path that begins with `prefix`; the rest of the path (never empty) is
    // Request::matches[1]. Routes are tried in the order they were added.
    void getUnder(const std::string &prefix, Handler handler);
    // Starts the threads and returns at once; listening happens on the server's thread.
    void start(EventHandler onEvent);
    // Ends every connection and thread and returns when all have ended. Safe at any moment,
    // also before start() and twice.
    void stop();

private:
    class Routes;
    class Connection;
    struct Client;

    void run();
    bool accept(int listening, std::vector<int> &ended);
    void received(Client &client, std::vector<int> &ended);
    void work();
    bool answer(Client &client);
    void report(HttpServerEvent::Kind kind, const std::string &reason);

    const ListenAddress address_;
    const QString addressText_;
    const HttpLimits limits_;
    std::unique_ptr<Routes> routes_;
    EventHandler onEvent_;
    int stopFd_ = -1;

    int wakeFd_ = -1;                              // a worker has handed a client back
    std::vector<std::unique_ptr<Client>> clients_; // the reading thread's, and closed by stop()

    std::mutex mutex_;
    std::condition_variable queueChanged_;
    std::deque<Client *> ready_;     // complete requests for the workers
    std::vector<Client *> answered_; // back from the workers
    bool stopping_ = false;

    std::thread reader_;
    std::vector<std::thread> workers_;
};

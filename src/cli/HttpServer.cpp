#include "HttpServer.h"

#include "OptionNumbers.h"

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

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
        if (colon < 0)
            return std::nullopt;
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

namespace {

// Set by the pre-routing handler for the request its worker thread is serving: an answer that
// leaves unread bytes behind (a refused body) must end the connection.
thread_local bool tCloseAfterAnswer = false;

std::string SystemText(int error) { return std::strerror(error); }

// One listening socket per address of the host (both loopbacks of "localhost"). An address
// family the machine lacks is skipped; any other failure fails the whole attempt.
std::vector<int> Listen(const ListenAddress &address, std::string &failure) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int error = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found)) {
        failure = address.host + ": " + ::gai_strerror(error);
        return {};
    }
    bool withIpv4 = false;
    for (const addrinfo *a = found; a; a = a->ai_next)
        withIpv4 = withIpv4 || a->ai_family == AF_INET;
    std::vector<int> sockets;
    std::vector<std::string> bound;
    for (const addrinfo *a = found; a && failure.empty(); a = a->ai_next) {
        const std::string key(reinterpret_cast<const char *>(a->ai_addr), a->ai_addrlen);
        if (std::find(bound.begin(), bound.end(), key) != bound.end())
            continue; // a name listed twice in /etc/hosts
        const int fd =
            ::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            if (errno != EAFNOSUPPORT)
                failure = SystemText(errno);
            continue;
        }
        // SO_REUSEADDR only lets a restart bind past connections in TIME_WAIT; never
        // SO_REUSEPORT, which would let a second logger share the port with this one.
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (a->ai_family == AF_INET6 && withIpv4) // both loopbacks: one socket each
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            const int error = errno;
            ::close(fd);
            if (error != EADDRNOTAVAIL && error != EAFNOSUPPORT)
                failure = SystemText(error);
            continue;
        }
        sockets.push_back(fd);
        bound.push_back(key);
    }
    ::freeaddrinfo(found);
    if (sockets.empty() && failure.empty())
        failure = address.host + ": no address to listen on";
    if (!failure.empty()) {
        for (int fd : sockets)
            ::close(fd);
        sockets.clear();
    }
    return sockets;
}

} // namespace

class HttpServer::Routes : public httplib::Server {
public:
    using httplib::Server::process_request;
};

// A client's socket as cpp-httplib's stream. Every wait ends at the first of: the socket being
// ready, one I/O time-out, the deadline of the whole exchange, and stop().
class HttpServer::Connection final : public httplib::Stream {
public:
    Connection(int fd, int stopFd, const HttpLimits &limits)
        : fd_(fd), stopFd_(stopFd), limits_(limits) {}
    ~Connection() override {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void beginExchange() {
        deadline_ = Clock::now() + limits_.exchangeTimeout;
        budget_ = limits_.requestBytes;
    }
    // True when the next request has begun to arrive within the keep-alive time.
    bool awaitRequest() {
        deadline_ = Clock::now() + limits_.keepAlive;
        return begin_ < end_ || wait(POLLIN, limits_.keepAlive);
    }
    bool overBudget() const { return budget_ == 0 && begin_ == end_; }

    bool is_readable() const override { return begin_ < end_ || wait(POLLIN, limits_.ioTimeout); }
    bool is_writable() const override { return wait(POLLOUT, limits_.ioTimeout); }

    ssize_t read(char *ptr, size_t size) override {
        if (begin_ == end_) {
            if (budget_ == 0)
                return -1;
            ssize_t n;
            do {
                if (!wait(POLLIN, limits_.ioTimeout))
                    return -1;
                n = ::recv(fd_, buffer_, std::min(sizeof buffer_, budget_), 0);
            } while (n < 0 && (errno == EAGAIN || errno == EINTR));
            if (n <= 0)
                return n;
            budget_ -= static_cast<std::size_t>(n);
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        while (true) {
            if (!wait(POLLOUT, limits_.ioTimeout))
                return -1;
            const ssize_t n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                return n;
        }
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        address(::getsockname, ip, port);
    }
    socket_t socket() const override { return fd_; }

private:
    bool wait(short events, milliseconds ioTimeout) const {
        const auto limit = std::min(Clock::now() + ioTimeout, deadline_);
        while (true) {
            const auto left = std::chrono::ceil<milliseconds>(limit - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd fds[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
            const int ready = ::poll(fds, 2, static_cast<int>(left));
            if (ready < 0 && errno != EINTR)
                return false;
            if (fds[1].revents)
                return false;
            if (ready > 0 && fds[0].revents)
                return true;
        }
    }

    template <typename Query> void address(Query query, std::string &ip, int &port) const {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        char host[NI_MAXHOST] = "";
        char service[NI_MAXSERV] = "";
        if (query(fd_, reinterpret_cast<sockaddr *>(&storage), &length) == 0 &&
            ::getnameinfo(reinterpret_cast<sockaddr *>(&storage), length, host, sizeof host,
                          service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
            ip = host;
            port = std::atoi(service);
        }
    }

    const int fd_;
    const int stopFd_;
    const HttpLimits &limits_;
    Clock::time_point deadline_ = Clock::now();
    std::size_t budget_ = 0;
    char buffer_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

HttpServer::HttpServer(const ListenAddress &address, const QString &addressText, HttpLimits limits)
    : address_(address), addressText_(addressText), limits_(limits),
      routes_(std::make_unique<Routes>()) {
    routes_->set_pre_routing_handler(
        [this](const httplib::Request &request, httplib::Response &response) {
            using Result = httplib::Server::HandlerResponse;
            tCloseAfterAnswer = false;
            if (request.method != "GET" && request.method != "HEAD") {
                response.status = 405;
                response.set_header("Allow", "GET, HEAD");
            } else if (request.headers.size() > limits_.headerCount) {
                response.status = 431;
            } else if (request.has_header("Transfer-Encoding") ||
                       (request.has_header("Content-Length") &&
                        request.get_header_value("Content-Length") != "0")) {
                response.status = 400; // a GET has no body; this one would stay unread
            } else {
                return Result::Unhandled;
            }
            tCloseAfterAnswer = true;
            return Result::Handled;
        });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::get(const std::string &path, Handler handler) {
    std::string pattern;
    for (char c : path) { // the route is a regular expression; the path is literal
        if (std::strchr(".^$|()[]{}*+?\\", c))
            pattern += '\\';
        pattern += c;
    }
    routes_->Get(pattern, std::move(handler));
}

void HttpServer::start(EventHandler onEvent) {
    onEvent_ = std::move(onEvent);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        report(HttpServerEvent::Kind::Failed, SystemText(errno));
        return;
    }
    acceptor_ = std::thread([this] { run(); });
    for (int i = 0; i < std::max(limits_.workers, 1); ++i)
        workers_.emplace_back([this] { work(); });
}

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopFd_, &one, sizeof one);
    }
    if (acceptor_.joinable())
        acceptor_.join();
    for (std::thread &worker : workers_)
        worker.join();
    workers_.clear();
    for (int fd : pending_)
        ::close(fd);
    pending_.clear();
    if (stopFd_ >= 0)
        ::close(stopFd_);
    stopFd_ = -1;
}

bool HttpServer::waitForStop(milliseconds timeout) const {
    pollfd watched{stopFd_, POLLIN, 0};
    const auto deadline = Clock::now() + timeout;
    while (true) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        const int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready > 0)
            return true;
        if (ready == 0 && Clock::now() >= deadline)
            return false;
    }
}

void HttpServer::report(HttpServerEvent::Kind kind, const std::string &reason) {
    if (onEvent_)
        onEvent_(HttpServerEvent{kind, addressText_, QString::fromStdString(reason)});
}

void HttpServer::run() {
    std::string reported;
    while (!waitForStop(milliseconds(0))) {
        std::string failure;
        const std::vector<int> listening = Listen(address_, failure);
        if (failure.empty()) {
            report(HttpServerEvent::Kind::Listening, {});
            reported.clear();
            failure = acceptUntilStopped(listening);
            for (int fd : listening)
                ::close(fd);
            if (failure.empty())
                return;
        }
        if (failure != reported)
            report(HttpServerEvent::Kind::Failed, failure);
        reported = failure;
        if (waitForStop(limits_.retryInterval))
            return;
    }
}

// Empty when stop() ended it, else why the listening sockets are no use any more.
std::string HttpServer::acceptUntilStopped(const std::vector<int> &listening) {
    std::vector<pollfd> fds;
    for (int fd : listening)
        fds.push_back({fd, POLLIN, 0});
    fds.push_back({stopFd_, POLLIN, 0});
    while (true) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return SystemText(errno);
        }
        if (fds.back().revents)
            return {};
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                switch (errno) {
                case EAGAIN:
                case EINTR:
                case ECONNABORTED:
                case EPROTO:
                case EPERM:
                    continue; // that one client's trouble
                case EMFILE:
                case ENFILE:
                case ENOBUFS:
                case ENOMEM:
                    // The pending connection stays; let descriptors free up instead of spinning.
                    if (waitForStop(milliseconds(100)))
                        return {};
                    continue;
                default:
                    return SystemText(errno);
                }
            }
            std::unique_lock lock(mutex_);
            if (pending_.size() >= static_cast<std::size_t>(std::max(limits_.pending, 1))) {
                lock.unlock();
                ::close(fd);
                continue;
            }
            pending_.push_back(fd);
            lock.unlock();
            queueChanged_.notify_one();
        }
    }
}

void HttpServer::work() {
    while (true) {
        std::unique_lock lock(mutex_);
        queueChanged_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_)
            return;
        const int fd = pending_.front();
        pending_.pop_front();
        lock.unlock();
        serve(fd);
    }
}

void HttpServer::serve(int fd) {
    Connection connection(fd, stopFd_, limits_);
    for (int served = 0; served < limits_.keepAliveRequests; ++served) {
        if (served > 0 && !connection.awaitRequest())
            return;
        connection.beginExchange();
        tCloseAfterAnswer = false;
        bool closed = false;
        const bool last = served + 1 == limits_.keepAliveRequests;
        if (!routes_->process_request(connection, last, closed, [](httplib::Request &) {}) ||
            closed || tCloseAfterAnswer || connection.overBudget())
            return;
    }
}

#include "logger/http/HttpServer.h"

#include "base/OptionNumbers.h"

#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/resource.h>
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

// What the reading thread knows of one connection. While `busy`, a worker has it and the
// reading thread leaves it alone.
struct HttpServer::Client {
    explicit Client(int fd) : fd(fd) {}
    int fd;
    std::string received; // not yet answered
    Clock::time_point deadline;
    int served = 0;
    bool busy = false;
    bool lastRequest = false; // the client has sent all it will
    bool keep = false;        // the worker's verdict: another request may follow
};

// A complete request as cpp-httplib's stream: it reads the bytes the reading thread gathered
// and writes to the socket. Every wait to write ends at the first of: the socket being ready,
// one I/O time-out, the deadline of the answer, and stop().
class HttpServer::Connection final : public httplib::Stream {
public:
    Connection(const std::string &request, int fd, int stopFd, const HttpLimits &limits)
        : request_(request), fd_(fd), stopFd_(stopFd), limits_(limits),
          deadline_(Clock::now() + limits.exchangeTimeout) {}

    std::size_t consumed() const { return begin_; }

    bool is_readable() const override { return begin_ < request_.size(); }
    bool is_writable() const override { return wait(POLLOUT); }

    ssize_t read(char *ptr, size_t size) override {
        const std::size_t n = std::min(size, request_.size() - begin_);
        std::memcpy(ptr, request_.data() + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n); // 0 past the request: nothing else is read here
    }

    ssize_t write(const char *ptr, size_t size) override {
        while (true) {
            if (!wait(POLLOUT))
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
    bool wait(short events) const {
        const auto limit = std::min(Clock::now() + limits_.ioTimeout, deadline_);
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

    const std::string &request_;
    const int fd_;
    const int stopFd_;
    const HttpLimits &limits_;
    const Clock::time_point deadline_;
    std::size_t begin_ = 0;
};

namespace {

// Answers the reading thread gives itself, without a worker.
constexpr std::string_view kTooLarge = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\n"
                                       "Content-Length: 18\r\nConnection: close\r\n\r\n"
                                       "request too large\n";
constexpr std::string_view kBusy = "HTTP/1.1 503 Service Unavailable\r\n"
                                   "Content-Type: text/plain\r\nRetry-After: 1\r\n"
                                   "Content-Length: 21\r\nConnection: close\r\n\r\n"
                                   "too many connections\n";

// Connections the server has ended, kept a moment so that the client reads the last answer:
// closing a socket with unread bytes resets the connection, and the reset may overtake it.
constexpr std::size_t kClosingAtMost = 64;
constexpr milliseconds kClosingFor{1000};

// The request line and headers have all arrived.
bool HeadComplete(const std::string &bytes) {
    return bytes.find("\r\n\r\n") != std::string::npos || bytes.find("\n\n") != std::string::npos;
}

// The server's threads yield the CPU to the logging: under a crowd of clients a round must not
// wait for an answer to be composed. (Linux gives each thread its own nice value.)
void LowerPriority() {
    [[maybe_unused]] const int ignored =
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
}

void WakeUp(int eventFd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

enum class Drained { Open, Closed, Failed };

// Reads everything available, into `into` up to atMost bytes (or throws it away).
Drained Drain(int fd, std::string *into, std::size_t atMost) {
    char buffer[4096];
    while (true) {
        const std::size_t room =
            into ? std::min(sizeof buffer, atMost - std::min(atMost, into->size())) : sizeof buffer;
        if (room == 0)
            return Drained::Open;
        const ssize_t n = ::recv(fd, buffer, room, 0);
        if (n > 0) {
            if (into)
                into->append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return Drained::Closed;
        return errno == EAGAIN ? Drained::Open : Drained::Failed;
    }
}

} // namespace

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
    // A request that could not be read leaves the stream at an unknown place: nothing after it
    // is taken for a request.
    routes_->set_logger([](const httplib::Request &, const httplib::Response &response) {
        if (response.status == 400)
            tCloseAfterAnswer = true;
    });
}

HttpServer::~HttpServer() { stop(); }

namespace {

std::string Literal(const std::string &path) {
    std::string pattern;
    for (char c : path) { // the route is a regular expression; the path is literal
        if (std::strchr(".^$|()[]{}*+?\\", c))
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

} // namespace

void HttpServer::get(const std::string &path, Handler handler) {
    routes_->Get(Literal(path), std::move(handler));
}

void HttpServer::getUnder(const std::string &prefix, Handler handler) {
    routes_->Get(Literal(prefix) + "(.+)", std::move(handler));
}

void HttpServer::start(EventHandler onEvent) {
    onEvent_ = std::move(onEvent);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0 || wakeFd_ < 0) {
        report(HttpServerEvent::Kind::Failed, SystemText(errno));
        return;
    }
    reader_ = std::thread([this] { run(); });
    for (int i = 0; i < std::max(limits_.workers, 1); ++i)
        workers_.emplace_back([this] { work(); });
}

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queueChanged_.notify_all();
    if (stopFd_ >= 0)
        WakeUp(stopFd_);
    if (reader_.joinable())
        reader_.join();
    for (std::thread &worker : workers_)
        worker.join();
    workers_.clear();
    for (const auto &client : clients_)
        ::close(client->fd);
    clients_.clear();
    ready_.clear();
    answered_.clear();
    for (int *fd : {&stopFd_, &wakeFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void HttpServer::report(HttpServerEvent::Kind kind, const std::string &reason) {
    if (onEvent_)
        onEvent_(HttpServerEvent{kind, addressText_, QString::fromStdString(reason)});
}

void HttpServer::run() {
    LowerPriority();
    std::vector<int> listening;
    std::string reported;
    auto nextAttempt = Clock::now();
    auto acceptAgainAt = Clock::now(); // later while out of descriptors
    // Server-ended connections being drained before they close, with their deadlines.
    std::vector<int> closing;
    std::vector<Clock::time_point> closingUntil;
    auto closeGently = [&](int fd) {
        ::shutdown(fd, SHUT_WR);
        if (closing.size() >= kClosingAtMost) {
            ::close(fd);
            return;
        }
        closing.push_back(fd);
        closingUntil.push_back(Clock::now() + kClosingFor);
    };
    std::vector<int> ended; // by accept() and received(): to close gently
    std::vector<pollfd> fds;
    std::vector<Client *> polled;
    while (true) {
        const auto now = Clock::now();
        if (listening.empty() && now >= nextAttempt) {
            std::string failure;
            listening = Listen(address_, failure);
            if (failure.empty()) {
                report(HttpServerEvent::Kind::Listening, {});
                reported.clear();
            } else {
                if (failure != reported)
                    report(HttpServerEvent::Kind::Failed, failure);
                reported = failure;
                nextAttempt = now + limits_.retryInterval;
            }
        }

        fds.clear();
        polled.clear();
        fds.push_back({stopFd_, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        const bool accepting = now >= acceptAgainAt;
        if (accepting)
            for (int fd : listening)
                fds.push_back({fd, POLLIN, 0});
        const std::size_t firstClient = fds.size();
        auto wakeAt = listening.empty() ? nextAttempt
                      : accepting       ? Clock::time_point::max()
                                        : acceptAgainAt;
        for (const auto &client : clients_) {
            if (client->busy)
                continue;
            fds.push_back({client->fd, POLLIN, 0});
            polled.push_back(client.get());
            wakeAt = std::min(wakeAt, client->deadline);
        }
        const std::size_t firstClosing = fds.size();
        for (std::size_t i = 0; i < closing.size(); ++i) {
            fds.push_back({closing[i], POLLIN, 0});
            wakeAt = std::min(wakeAt, closingUntil[i]);
        }
        int timeout = -1;
        if (wakeAt != Clock::time_point::max())
            timeout = static_cast<int>(std::clamp<long long>(
                std::chrono::ceil<milliseconds>(wakeAt - Clock::now()).count(), 0, 60000));
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break; // only a bad descriptor set gets here: nothing this loop could mend
        if (fds[0].revents)
            break;

        if (fds[1].revents) {
            std::uint64_t count;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
            std::vector<Client *> back;
            {
                std::lock_guard lock(mutex_);
                back.swap(answered_);
            }
            for (Client *client : back) {
                client->busy = false;
                ++client->served;
                if (!client->keep || client->served >= limits_.keepAliveRequests) {
                    ended.push_back(client->fd);
                    client->fd = -1;
                    continue;
                }
                client->deadline =
                    Clock::now() +
                    (client->received.empty() ? limits_.keepAlive : limits_.exchangeTimeout);
                received(*client, ended); // a request sent before the answer came
            }
        }

        for (std::size_t i = 2; i < firstClient; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                const std::string failure = "listening failed";
                for (int fd : listening)
                    ::close(fd);
                listening.clear();
                report(HttpServerEvent::Kind::Failed, failure);
                reported = failure;
                nextAttempt = Clock::now() + limits_.retryInterval;
                break;
            }
            if (accept(fds[i].fd, ended))
                acceptAgainAt = Clock::now() + milliseconds(100);
        }

        const auto after = Clock::now();
        for (std::size_t i = firstClient; i < firstClosing; ++i) {
            Client &client = *polled[i - firstClient];
            if (fds[i].revents) {
                const std::size_t before = client.received.size();
                const Drained drained = Drain(client.fd, &client.received, limits_.requestBytes);
                // A client may end its sending after a request and still read the answer.
                if (drained == Drained::Failed ||
                    (drained == Drained::Closed && !HeadComplete(client.received))) {
                    ::close(client.fd);
                    client.fd = -1;
                    continue;
                }
                client.lastRequest = drained == Drained::Closed;
                if (before == 0 && !client.received.empty())
                    client.deadline = after + limits_.exchangeTimeout;
                received(client, ended);
            }
            if (client.fd >= 0 && !client.busy && after >= client.deadline) {
                ::close(client.fd);
                client.fd = -1;
            }
        }
        for (std::size_t i = closing.size(); i-- > 0;) {
            const pollfd &watched = fds[firstClosing + i];
            if ((watched.revents && Drain(closing[i], nullptr, 0) != Drained::Open) ||
                after >= closingUntil[i]) {
                ::close(closing[i]);
                closing.erase(closing.begin() + static_cast<std::ptrdiff_t>(i));
                closingUntil.erase(closingUntil.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        std::erase_if(clients_, [](const auto &client) { return client->fd < 0; });
        for (int fd : ended)
            closeGently(fd);
        ended.clear();
    }
    for (int fd : listening)
        ::close(fd);
    for (int fd : closing)
        ::close(fd);
}

bool HttpServer::accept(int listening, std::vector<int> &ended) {
    for (int accepted = 0; accepted < 64; ++accepted) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) // EAGAIN or one client's trouble; out of descriptors: wait for some to free
            return errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        if (clients_.size() >= static_cast<std::size_t>(std::max(limits_.connections, 1))) {
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ended.push_back(fd);
            continue;
        }
        // cpp-httplib writes the headers and the body apart: without this, the body would wait
        // for the client's delayed acknowledgement of the headers, 40 ms an answer.
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto client = std::make_unique<Client>(fd);
        client->deadline = Clock::now() + limits_.keepAlive;
        clients_.push_back(std::move(client));
    }
    return false;
}

// A complete request goes to a worker; one that grew past the limit is refused.
void HttpServer::received(Client &client, std::vector<int> &ended) {
    if (HeadComplete(client.received)) {
        client.busy = true;
        {
            std::lock_guard lock(mutex_);
            ready_.push_back(&client);
        }
        queueChanged_.notify_one();
    } else if (client.received.size() >= limits_.requestBytes) {
        [[maybe_unused]] const ssize_t sent =
            ::send(client.fd, kTooLarge.data(), kTooLarge.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ended.push_back(client.fd);
        client.fd = -1;
    }
}

void HttpServer::work() {
    LowerPriority();
    while (true) {
        std::unique_lock lock(mutex_);
        queueChanged_.wait(lock, [this] { return stopping_ || !ready_.empty(); });
        if (stopping_)
            return;
        Client *client = ready_.front();
        ready_.pop_front();
        lock.unlock();
        client->keep = answer(*client);
        lock.lock();
        answered_.push_back(client);
        lock.unlock();
        WakeUp(wakeFd_);
    }
}

// True when the connection may carry another request.
bool HttpServer::answer(Client &client) {
    Connection connection(client.received, client.fd, stopFd_, limits_);
    tCloseAfterAnswer = false;
    bool closed = false;
    const bool last = client.lastRequest || client.served + 1 >= limits_.keepAliveRequests;
    const bool ok = routes_->process_request(connection, last, closed, [](httplib::Request &) {});
    client.received.erase(0, connection.consumed());
    return ok && !closed && !tCloseAfterAnswer && !last;
}

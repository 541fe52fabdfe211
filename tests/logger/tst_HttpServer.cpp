// The logger's HTTP server through real sockets on the loopbacks: the address forms, a port
// already taken (reported once, retried), stopping at any moment, and what it refuses.
#include "logger/http/HttpServer.h"
#include "logger/http/OverviewServer.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "HttpClient.h"
#include "LoopbackPort.h"
#include "TimingSlack.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = HttpServerEvent::Kind;

namespace {

bool HasIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool ok =
        fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

QStringList Resolved(const QString &host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    QStringList numeric;
    if (::getaddrinfo(host.toLatin1().constData(), nullptr, &hints, &found) != 0)
        return numeric;
    for (const addrinfo *a = found; a; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) == 0 &&
            (a->ai_family == AF_INET || HasIpv6Loopback()))
            numeric << QString::fromLatin1(text);
    }
    ::freeaddrinfo(found);
    numeric.removeDuplicates();
    return numeric;
}

// A plain listener on 127.0.0.1:port, as another program holding the port would be; with
// SO_REUSEPORT, as a server that shares its port would set it.
struct PortHolder {
    int fd = -1;
    explicit PortHolder(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(fd, 4) != 0)
            qFatal("cannot hold port %d", port);
    }
    ~PortHolder() { ::close(fd); }
};

// The events a server reported, as they came from its thread.
class Events {
public:
    HttpServer::EventHandler handler() {
        return [this](const HttpServerEvent &event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
            changed_.notify_all();
        };
    }
    bool waitFor(Kind kind, int count = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kEventTimeout, [&] { return this->count(kind) >= count; });
    }
    int count(Kind kind) const {
        return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                              [&](const auto &e) { return e.kind == kind; }));
    }
    std::vector<HttpServerEvent> all() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HttpServerEvent> events_;
};

// A hang fails the whole program at once instead of waiting for CTest's time-out.
class HangGuard {
public:
    explicit HangGuard(const QString &what)
        : what_(what.toLocal8Bit()), watcher_([this] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, kEventTimeout * kTimingSlack, [this] { return done_; }))
                  qFatal("%s: hangs", what_.constData());
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        watcher_.join();
    }

private:
    QByteArray what_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_;
};

int Connect(const char *host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd;
}

// Everything the server sends until it closes the connection; "<open>" appended when it is
// still open after the timeout.
QByteArray ReadUntilClosed(int fd, std::chrono::milliseconds timeout = kEventTimeout) {
    QByteArray bytes;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, 50) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
    return bytes + "<open>";
}

QByteArray Exchange(int port, const QByteArray &request) {
    const int fd = Connect("127.0.0.1", port);
    if (fd < 0)
        return "<no connection>";
    ::send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
    const QByteArray answer = ReadUntilClosed(fd);
    ::close(fd);
    return answer;
}

std::string Body(const char *host, int port, const char *path) {
    const QString address = QString::fromLatin1(host).contains(QLatin1Char(':'))
                                ? QStringLiteral("[%1]").arg(QLatin1String(host))
                                : QString::fromLatin1(host);
    HttpRequest request;
    request.timeoutMs = kEventTimeoutMs;
    const HttpReply reply =
        HttpFetch(QStringLiteral("http://%1:%2%3").arg(address).arg(port).arg(path), request);
    return reply.status == 200 ? reply.body.toStdString() : std::string("<failed>");
}

HttpLimits QuickRetries() {
    HttpLimits limits;
    limits.retryInterval = 50ms;
    return limits;
}

std::unique_ptr<HttpServer> Serving(int port, const std::string &name, HttpLimits limits = {}) {
    auto server = std::make_unique<HttpServer>(ListenAddress{"127.0.0.1", port},
                                               QStringLiteral("127.0.0.1:%1").arg(port), limits);
    server->get("/name", [name](const HttpServer::Request &, HttpServer::Response &response) {
        response.setContent(QByteArray::fromStdString(name), "text/plain");
    });
    return server;
}

} // namespace

class tst_HttpServer : public QObject {
    Q_OBJECT
private slots:
    void parsesListenAddress_data();
    void parsesListenAddress();
    void servesEveryAddressForm_data();
    void servesEveryAddressForm();
    void takenPortIsReportedOnceAndRetried();
    void stopNeverHangs_data();
    void stopNeverHangs();
    void answersOnlyWhatItServes_data();
    void answersOnlyWhatItServes();
    void slowClientsDoNotBlockOthers();
    void slowClientIsCutOff();
    void connectionsBeyondTheLimitAreAnswered();
    void hostRule_data();
    void hostRule();
    void tricklingReaderIsCutOff();
    void keepsTheConnectionAlive();
    void routesUnderAPrefix();
    void floodOfWrongPasswordsIsBounded();
};

void tst_HttpServer::parsesListenAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: malformed
    QTest::addColumn<int>("port");
    QTest::newRow("IPv4") << "127.0.0.1:9731"
                          << "127.0.0.1" << 9731;
    QTest::newRow("any IPv4") << "0.0.0.0:1"
                              << "0.0.0.0" << 1;
    QTest::newRow("name") << "localhost:65535"
                          << "localhost" << 65535;
    QTest::newRow("IPv6 in brackets") << "[::1]:9731"
                                      << "::1" << 9731;
    QTest::newRow("any IPv6") << "[::]:9731"
                              << "::" << 9731;
    QTest::newRow("IPv6 without brackets") << "::1:9731"
                                           << "" << 0;
    QTest::newRow("nothing after the bracket") << "[::1]9731"
                                               << "" << 0;
    QTest::newRow("unclosed bracket") << "[::1:9731"
                                      << "" << 0;
    QTest::newRow("empty brackets") << "[]:9731"
                                    << "" << 0;
    QTest::newRow("no host") << ":9731"
                             << "" << 0;
    QTest::newRow("no port") << "localhost:"
                             << "" << 0;
    QTest::newRow("a port alone stays on this machine") << "9731"
                                                        << "127.0.0.1" << 9731;
    QTest::newRow("a port alone out of range") << "0"
                                               << "" << 0;
    QTest::newRow("port 0") << "localhost:0"
                            << "" << 0;
    QTest::newRow("port too high") << "localhost:65536"
                                   << "" << 0;
    QTest::newRow("signed port") << "localhost:+80"
                                 << "" << 0;
    QTest::newRow("blank in host") << "local host:80"
                                   << "" << 0;
    QTest::newRow("empty") << ""
                           << "" << 0;
}

void tst_HttpServer::parsesListenAddress() {
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    const auto parsed = ParseListenAddress(text);
    QCOMPARE(parsed.has_value(), !host.isEmpty());
    if (parsed) {
        QCOMPARE(QString::fromStdString(parsed->host), host);
        QCOMPARE(parsed->port, port);
    }
}

void tst_HttpServer::servesEveryAddressForm_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("reachedAt");
    QTest::addColumn<bool>("needsIpv6");
    QTest::newRow("IPv4 loopback") << "127.0.0.1" << QStringList{"127.0.0.1"} << false;
    QTest::newRow("IPv6 loopback") << "[::1]" << QStringList{"::1"} << true;
    QTest::newRow("localhost, every address it names") << "localhost" << QStringList{"*"} << false;
    QTest::newRow("any IPv4") << "0.0.0.0" << QStringList{"127.0.0.1"} << false;
}

void tst_HttpServer::servesEveryAddressForm() {
    QFETCH(QString, host);
    QFETCH(QStringList, reachedAt);
    QFETCH(bool, needsIpv6);
    if (reachedAt == QStringList{"*"})
        reachedAt = Resolved(host);
    if (needsIpv6 && !HasIpv6Loopback())
        QSKIP("no IPv6 loopback on this machine");
    const int port = FreePort();
    const QString text = QStringLiteral("%1:%2").arg(host).arg(port);
    Events events; // outlives the server, whose thread reports to it
    OverviewServer server(text);
    server.http().get("/extra", [](const HttpServer::Request &, HttpServer::Response &response) {
        response.setContent("more", "text/plain");
    });
    ChamberMetrics chamber;
    chamber.address = 7;
    chamber.up = true;
    BusMetrics bus;
    bus.chambers = {chamber};
    server.update(bus);
    server.start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    QCOMPARE(events.all().front().address, text);
    for (const QString &at : reachedAt) {
        const QByteArray address = at.toLatin1();
        const std::string metrics = Body(address.constData(), port, "/metrics");
        QVERIFY2(metrics.find("kalvora_chamber_up{chamber=\"7\"} 1\n") != std::string::npos,
                 metrics.c_str());
        QCOMPARE(Body(address.constData(), port, "/extra"), std::string("more"));
    }
    QCOMPARE(events.count(Kind::Failed), 0);
}

// Before, a port in use ended the logger, or (SO_REUSEPORT) two loggers shared it and scrapes
// alternated between them.
void tst_HttpServer::takenPortIsReportedOnceAndRetried() {
    const int port = FreePort();
    Events firstEvents;
    auto first = Serving(port, "first");
    first->start(firstEvents.handler());
    QVERIFY(firstEvents.waitFor(Kind::Listening));

    Events secondEvents;
    auto second = Serving(port, "second", QuickRetries());
    second->start(secondEvents.handler());
    QVERIFY(secondEvents.waitFor(Kind::Failed));
    QVERIFY2(secondEvents.all().front().reason.contains(QLatin1String("in use")),
             qPrintable(secondEvents.all().front().reason));
    std::this_thread::sleep_for(500ms); // ten retries at least
    QCOMPARE(secondEvents.count(Kind::Failed), 1);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(Body("127.0.0.1", port, "/name"), std::string("first"));

    first.reset();
    QVERIFY(secondEvents.waitFor(Kind::Listening));
    QCOMPARE(Body("127.0.0.1", port, "/name"), std::string("second"));

    // A holder that set SO_REUSEPORT itself does not make room for this server either.
    second.reset();
    const PortHolder holder(port);
    Events thirdEvents;
    auto third = Serving(port, "third", QuickRetries());
    third->start(thirdEvents.handler());
    QVERIFY(thirdEvents.waitFor(Kind::Failed));
    QCOMPARE(thirdEvents.count(Kind::Listening), 0);
}

void tst_HttpServer::stopNeverHangs_data() {
    QTest::addColumn<QString>("when");
    QTest::addColumn<int>("times");
    QTest::newRow("right after start") << "start" << 300;
    QTest::newRow("never started") << "unstarted" << 100;
    QTest::newRow("port taken, before the first attempt ends") << "taken" << 300;
    QTest::newRow("waiting to retry") << "retry wait" << 3;
    QTest::newRow("client in the middle of a request") << "mid-request" << 3;
    QTest::newRow("client idle between requests") << "keep-alive" << 3;
}

void tst_HttpServer::stopNeverHangs() {
    QFETCH(QString, when);
    QFETCH(int, times);
    const int port = FreePort();
    std::unique_ptr<PortHolder> holder;
    if (when == QLatin1String("taken") || when == QLatin1String("retry wait"))
        holder = std::make_unique<PortHolder>(port);
    // Time-outs far beyond the test's patience: only stop() can end these waits.
    HttpLimits limits;
    limits.ioTimeout = limits.exchangeTimeout = limits.keepAlive = limits.retryInterval = 1h;
    const HangGuard guard(when);
    {
        for (int i = 0; i < times; ++i) {
            Events events;
            auto server = Serving(port, "x", limits);
            if (when == QLatin1String("unstarted"))
                continue;
            server->start(events.handler());
            if (when == QLatin1String("retry wait")) {
                QVERIFY(events.waitFor(Kind::Failed));
            } else if (when == QLatin1String("mid-request") ||
                       when == QLatin1String("keep-alive")) {
                QVERIFY(events.waitFor(Kind::Listening));
                const int fd = Connect("127.0.0.1", port);
                QVERIFY(fd >= 0);
                const QByteArray request =
                    when == QLatin1String("mid-request")
                        ? QByteArray("GET /na")
                        : QByteArray("GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                ::send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
                if (when == QLatin1String("keep-alive")) {
                    pollfd answered{fd, POLLIN, 0};
                    QVERIFY(::poll(&answered, 1, kEventTimeoutMs) == 1);
                } else {
                    std::this_thread::sleep_for(100ms); // a worker takes it
                }
                server.reset();
                QVERIFY(!ReadUntilClosed(fd).endsWith("<open>"));
                ::close(fd);
            }
        }
    }
}

void tst_HttpServer::answersOnlyWhatItServes_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("body"); // what the answer ends with
    const QByteArray close = "Host: 127.0.0.1\r\nConnection: close\r\n";
    QTest::newRow("GET") << "GET /name HTTP/1.1\r\n" + close + "\r\n"
                         << QByteArray("HTTP/1.1 200 OK") << QByteArray("\r\n\r\nx");
    QTest::newRow("HEAD: no body") << "HEAD /name HTTP/1.1\r\n" + close + "\r\n"
                                   << QByteArray("HTTP/1.1 200 OK") << QByteArray("\r\n\r\n");
    QTest::newRow("query string") << "GET /name?x=1 HTTP/1.1\r\n" + close + "\r\n"
                                  << QByteArray("HTTP/1.1 200 OK") << QByteArray("\r\n\r\nx");
    QTest::newRow("unknown path") << "GET /other HTTP/1.1\r\n" + close + "\r\n"
                                  << QByteArray("HTTP/1.1 404") << QByteArray();
    QTest::newRow("path as a pattern") << "GET /nam. HTTP/1.1\r\n" + close + "\r\n"
                                       << QByteArray("HTTP/1.1 404") << QByteArray();
    QTest::newRow("POST with a body, kept alive")
        << QByteArray("POST /name HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello")
        << QByteArray("HTTP/1.1 405") << QByteArray();
    QTest::newRow("PUT") << "PUT /name HTTP/1.1\r\n" + close + "Content-Length: 0\r\n\r\n"
                         << QByteArray("HTTP/1.1 405") << QByteArray();
    QTest::newRow("DELETE") << "DELETE /name HTTP/1.1\r\n" + close + "\r\n"
                            << QByteArray("HTTP/1.1 405") << QByteArray();
    QTest::newRow("GET with a body, kept alive")
        << QByteArray("GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\nhello")
        << QByteArray("HTTP/1.1 400") << QByteArray();
    // Before, only the first length was checked: "hello" was then read as the next request.
    QTest::newRow("conflicting lengths, 0 then 5")
        << QByteArray("GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n"
                      "Content-Length: 5\r\n\r\nhello")
        << QByteArray("HTTP/1.1 400") << QByteArray();
    QTest::newRow("a name rebound to the loopback")
        << QByteArray("GET /name HTTP/1.1\r\nHost: attacker.example:80\r\n\r\n")
        << QByteArray("HTTP/1.1 421") << QByteArray();
    QTest::newRow("two hosts")
        << QByteArray("GET /name HTTP/1.1\r\nHost: localhost\r\nHost: attacker.example\r\n\r\n")
        << QByteArray("HTTP/1.1 400") << QByteArray();
    QTest::newRow("localhost with a port")
        << QByteArray("GET /name HTTP/1.1\r\nHost: localhost:9731\r\nConnection: close\r\n\r\n")
        << QByteArray("HTTP/1.1 200 OK") << QByteArray("\r\n\r\nx");
    QByteArray manyHeaders = "GET /name HTTP/1.1\r\n" + close;
    for (int i = 0; i < 100; ++i)
        manyHeaders += "X-" + QByteArray::number(i) + ": 1\r\n";
    QTest::newRow("too many headers") << manyHeaders + "\r\n"
                                      << QByteArray("HTTP/1.1 431") << QByteArray();
    QByteArray large = "GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 20; ++i)
        large += "X-" + QByteArray::number(i) + ": " + QByteArray(1000, 'a') + "\r\n";
    QTest::newRow("request too large, kept alive") << large + "\r\n"
                                                   << QByteArray("HTTP/1.1 400") << QByteArray();
    QTest::newRow("not HTTP") << QByteArray("hello there\r\n\r\n")
                              << QByteArray("HTTP/1.1 400") << QByteArray();
    // The library takes a lone word for a request of a protocol it does not speak.
    QTest::newRow("a lone word: closed unanswered")
        << QByteArray("hello\r\n\r\n") << QByteArray() << QByteArray();
}

// Every refusal closes the connection: nothing left unread is taken for the next request.
void tst_HttpServer::answersOnlyWhatItServes() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, body);
    const int port = FreePort();
    Events events;
    auto server = Serving(port, "x");
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    const QByteArray answer = Exchange(port, request);
    if (statusLine.isEmpty()) {
        QCOMPARE(answer, QByteArray());
        return;
    }
    QVERIFY2(answer.startsWith(statusLine + "\r\n") || answer.startsWith(statusLine + " "),
             answer.constData());
    QVERIFY2(!answer.endsWith("<open>"), answer.constData());
    if (statusLine.contains(" 405"))
        QVERIFY2(answer.contains("\r\nAllow: GET, HEAD\r\n"), answer.constData());
    if (!body.isEmpty())
        QVERIFY2(answer.endsWith(body), answer.constData());
}

// Clients that never finish their requests, or never send one, hold no worker: many times
// as many as there are workers leave every other client served.
void tst_HttpServer::slowClientsDoNotBlockOthers() {
    const int port = FreePort();
    HttpLimits limits;
    limits.ioTimeout = limits.exchangeTimeout = limits.keepAlive = 1h;
    Events events;
    auto server = Serving(port, "x", limits);
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    std::vector<int> slow;
    for (int i = 0; i < 10 * limits.workers; ++i) {
        slow.push_back(Connect("127.0.0.1", port));
        if (i % 2)
            ::send(slow.back(), "GET /name HTTP/1.1\r\nHost:", 26, MSG_NOSIGNAL);
    }
    for (int i = 0; i < 3; ++i)
        QCOMPARE(Body("127.0.0.1", port, "/name"), std::string("x"));
    for (int fd : slow) {
        QVERIFY(ReadUntilClosed(fd, 100ms).endsWith("<open>"));
        ::close(fd);
    }
}

// A client that sends a byte now and then, never a whole request, is closed at the deadline of
// the exchange although no single wait times out.
void tst_HttpServer::slowClientIsCutOff() {
    const int port = FreePort();
    HttpLimits limits;
    limits.exchangeTimeout = 500ms;
    Events events;
    auto server = Serving(port, "x", limits);
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    const int fd = Connect("127.0.0.1", port);
    const auto began = Clock::now();
    bool closed = false;
    while (!closed && Clock::now() - began < kEventTimeout) {
        ::send(fd, "X", 1, MSG_NOSIGNAL);
        pollfd watched{fd, POLLIN, 0};
        char byte;
        closed = ::poll(&watched, 1, 50) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
    }
    QVERIFY(closed);
    QVERIFY(Clock::now() - began >= limits.exchangeTimeout);
    ::close(fd);
}

// One connection more than the limit gets a clear refusal, not a reset; the others stay served.
void tst_HttpServer::connectionsBeyondTheLimitAreAnswered() {
    const int port = FreePort();
    HttpLimits limits;
    limits.workers = 1;
    limits.connections = 2;
    limits.ioTimeout = limits.exchangeTimeout = limits.keepAlive = 1h;
    Events events;
    auto server = Serving(port, "x", limits);
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    const int idle = Connect("127.0.0.1", port);
    const int waiting = Connect("127.0.0.1", port);
    std::this_thread::sleep_for(200ms); // both accepted
    const int refused = Connect("127.0.0.1", port);
    const QByteArray request =
        "GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(refused, request.constData(), request.size(), MSG_NOSIGNAL);
    const QByteArray refusal = ReadUntilClosed(refused);
    QVERIFY2(refusal.startsWith("HTTP/1.1 503 "), refusal.constData());
    QVERIFY(!refusal.endsWith("<open>"));
    QVERIFY(ReadUntilClosed(idle, 100ms).endsWith("<open>"));
    ::send(waiting, request.constData(), request.size(), MSG_NOSIGNAL);
    QVERIFY(ReadUntilClosed(waiting).startsWith("HTTP/1.1 200"));
    ::close(waiting); // room for one more
    std::this_thread::sleep_for(200ms);
    QCOMPARE(Body("127.0.0.1", port, "/name"), std::string("x"));
    ::close(idle);
    ::close(refused);
}

void tst_HttpServer::hostRule_data() {
    QTest::addColumn<QString>("bound");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("loopback: 127.0.0.1") << "127.0.0.1" << "127.0.0.1:9731" << true;
    QTest::newRow("loopback: elsewhere in 127/8") << "127.0.0.1" << "127.1.2.3" << true;
    QTest::newRow("loopback: [::1]") << "127.0.0.1" << "[::1]:9731" << true;
    QTest::newRow("loopback: localhost, any case, final dot") << "::1" << "LocalHost.:1" << true;
    QTest::newRow("loopback: under .localhost") << "localhost" << "app.localhost" << true;
    QTest::newRow("loopback: a name") << "127.0.0.1" << "attacker.example" << false;
    QTest::newRow("loopback: a name ending in localhost") << "127.0.0.1" << "evillocalhost"
                                                          << false;
    QTest::newRow("loopback: another address") << "127.0.0.1" << "192.0.2.7" << false;
    QTest::newRow("loopback: short form") << "127.0.0.1" << "127.1" << false;
    QTest::newRow("loopback: port not a number") << "127.0.0.1" << "localhost:x" << false;
    QTest::newRow("loopback: empty") << "127.0.0.1" << "" << false;
    QTest::newRow("loopback: unclosed bracket") << "127.0.0.1" << "[::1" << false;
    QTest::newRow("bound address") << "192.0.2.7" << "192.0.2.7:80" << true;
    QTest::newRow("bound name") << "lab-pc" << "LAB-PC" << true;
    QTest::newRow("bound IPv6") << "2001:db8::7" << "[2001:db8::7]:80" << true;
    QTest::newRow("bound address, another address") << "192.0.2.7" << "192.0.2.8" << false;
    QTest::newRow("given name") << "0.0.0.0" << "lab-pc.example.org" << true;
    QTest::newRow("any address: an address") << "0.0.0.0" << "198.51.100.1" << true;
    QTest::newRow("any IPv6: an address") << "::" << "[2001:db8::1]" << true;
    QTest::newRow("any address: another name") << "0.0.0.0" << "attacker.example" << false;
    QTest::newRow("any address: loopback") << "0.0.0.0" << "localhost" << true;
}

void tst_HttpServer::hostRule() {
    QFETCH(QString, bound);
    QFETCH(QString, host);
    QFETCH(bool, allowed);
    const HostRule rule{bound.toStdString(), {"lab-pc.example.org"}};
    QCOMPARE(HostAllowed(host.toStdString(), rule), allowed);
}

// A client that reads its answer a little at a time, so that no single wait times out, is cut
// at the deadline of the exchange: it never gets the whole answer.
void tst_HttpServer::tricklingReaderIsCutOff() {
    const int port = FreePort();
    HttpLimits limits;
    limits.exchangeTimeout = 1s;
    Events events;
    auto server = Serving(port, "x", limits);
    const QByteArray big(8 << 20, 'b');
    server->get("/big", [&big](const HttpServer::Request &, HttpServer::Response &response) {
        response.setContent(big, "application/octet-stream");
    });
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray request = "GET /big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.constData(), request.size(), MSG_NOSIGNAL);
    const auto began = Clock::now();
    qint64 received = 0;
    bool ended = false;
    while (!ended && Clock::now() - began < kEventTimeout) {
        char buffer[1024];
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, 100) == 1) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            ended = n <= 0;
            received += std::max<ssize_t>(n, 0);
        }
        std::this_thread::sleep_for(20ms);
    }
    QVERIFY2(ended, QByteArray::number(received));
    QVERIFY(received < big.size());
    QVERIFY(Clock::now() - began >= limits.exchangeTimeout);
    ::close(fd);
}

// Requests one after the other on one connection are each answered on it: a server that closed
// after every answer would cost a connection a request.
void tst_HttpServer::keepsTheConnectionAlive() {
    const int port = FreePort();
    Events events;
    auto server = Serving(port, "x");
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    const int fd = Connect("127.0.0.1", port);
    QVERIFY(fd >= 0);
    const QByteArray request = "GET /name HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(::send(fd, request.constData(), request.size(), MSG_NOSIGNAL),
                 ssize_t(request.size()));
        QByteArray answer;
        while (!answer.endsWith("\r\n\r\nx")) {
            pollfd watched{fd, POLLIN, 0};
            char buffer[1024];
            QVERIFY2(::poll(&watched, 1, kEventTimeoutMs) == 1, answer.constData());
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            QVERIFY2(n > 0, qPrintable(QStringLiteral("closed after %1 answers").arg(i)));
            answer.append(buffer, n);
        }
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        QVERIFY2(!answer.contains("Connection: close"), answer.constData());
    }
    ::close(fd);
}

void tst_HttpServer::routesUnderAPrefix() {
    const int port = FreePort();
    Events events;
    auto server = Serving(port, "x");
    server->get("/api/exact", [](const HttpServer::Request &, HttpServer::Response &response) {
        response.setContent("exact", "text/plain");
    });
    server->getUnder("/api/", [](const HttpServer::Request &request,
                                 HttpServer::Response &response) {
        response.setContent(
            QByteArray::fromStdString("under:" + request.rest + ":" + request.param("m")),
            "text/plain");
    });
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    QCOMPARE(Body("127.0.0.1", port, "/api/exact"), std::string("exact"));
    QCOMPARE(Body("127.0.0.1", port, "/api/1/history?m=5"), std::string("under:1/history:5"));
    QCOMPARE(Body("127.0.0.1", port, "/api/a.b"), std::string("under:a.b:"));
    QCOMPARE(Body("127.0.0.1", port, "/api/"), std::string("<failed>")); // nothing under it
    QCOMPARE(Body("127.0.0.1", port, "/apiX/1"), std::string("<failed>"));
}

// Clients that try new wrong passwords at once: one bcrypt check runs at a time and the others
// are told 503 at once; a login already checked is served throughout; each wrong answer is a
// failed login, counted and reported, and a busy one is not.
void tst_HttpServer::floodOfWrongPasswordsIsBounded() {
    WebConfig config;
    config.path = QStringLiteral("web.yml");
    // htpasswd -nbBC 10 anna "right horse": the cost the README gives.
    config.users[QStringLiteral("anna")] =
        "$2y$10$MwyeJgUBn3mIUrXmmgwpW.KEosk8JuKCcHye/dZYQEkg.O0bHDtii";
    const int port = FreePort();
    Events events;
    auto server = Serving(port, "x");
    std::atomic<int> reported{0};
    server->secure(config, [&](const LoginFailure &failure) {
        if (failure.user == QLatin1String("anna") && failure.peer == QLatin1String("127.0.0.1"))
            ++reported;
    });
    server->start(events.handler());
    QVERIFY(events.waitFor(Kind::Listening));
    HttpRequest right;
    right.user = "anna";
    right.password = "right horse";
    right.timeoutMs = kEventTimeoutMs * kTimingSlack;
    const QString url = QStringLiteral("http://127.0.0.1:%1/name").arg(port);
    QCOMPARE(HttpFetch(url, right).status, 200L);

    constexpr int kClients = 8;
    constexpr int kTries = 6;
    std::vector<std::vector<HttpReply>> answers(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int t = 0; t < kTries; ++t) {
                HttpRequest wrong = right;
                wrong.password = "guess " + QByteArray::number(c * kTries + t);
                answers[c].push_back(HttpFetch(url, wrong));
            }
        });
    int servedMeanwhile = 0;
    for (int i = 0; i < 10; ++i)
        servedMeanwhile += HttpFetch(url, right).status == 200;
    for (std::thread &client : clients)
        client.join();
    QCOMPARE(servedMeanwhile, 10);
    int refused = 0, busy = 0;
    for (const auto &replies : answers)
        for (const HttpReply &reply : replies) {
            if (reply.status == 503) {
                ++busy;
                QCOMPARE(reply.header("Retry-After"), QByteArray("1"));
            } else {
                QCOMPARE(reply.status, 401L);
                ++refused;
            }
        }
    QVERIFY2(busy > 0, "every check ran, none was told to wait");
    QVERIFY(refused > 0);
    QCOMPARE(server->failedLogins(), static_cast<unsigned long long>(refused));
    QCOMPARE(reported.load(), refused);
}

QTEST_GUILESS_MAIN(tst_HttpServer)
#include "tst_HttpServer.moc"

// kalvora-cli lab as a user meets it: what its command line refuses, and its page behind a login
// over TLS.
#include "CliProcess.h"
#include "HttpClient.h"
#include "LoopbackPort.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Made with htpasswd -nbBC 4 (cost 4 keeps the test quick).
const char kAnnaHash[] = "$2y$04$8SVRuSPPekzhMD5g0bK5Ve1kDEonohLqaShEjUO2weAjjQljM49L6";
const char kAnnaPassword[] = "richtig Pferd";

void WriteFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Prometheus's query API as far as the lab asks it: every query answered with no series, or,
// once held, no answer until released (or until the asker hangs up).
class HoldingPrometheus {
public:
    HoldingPrometheus() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd_, 16);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HoldingPrometheus() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    void hold(bool on) { hold_ = on; }
    int queries() const { return queries_; }
    int holding() const { return holding_; }
    int abandoned() const { return abandoned_; } // held queries whose asker hung up

private:
    bool readable(int fd) const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 50) > 0;
    }
    void serve() {
        while (!stop_) {
            if (!readable(fd_))
                continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                answer(client);
        }
    }
    void answer(int client) {
        QByteArray request;
        char buffer[4096];
        while (!stop_ && !request.contains("\r\n\r\n")) {
            if (!readable(client))
                continue;
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        ++queries_;
        if (hold_) {
            ++holding_;
            while (!stop_ && hold_) {
                if (readable(client) && ::read(client, buffer, sizeof buffer) <= 0) {
                    ++abandoned_;
                    break;
                }
            }
            --holding_;
        }
        static const char reply[] =
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
            "Content-Length: 63\r\n\r\n"
            "{\"status\":\"success\",\"data\":{\"resultType\":\"vector\",\"result\":[]}}";
        (void)!::write(client, reply, sizeof reply - 1);
        ::close(client);
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false}, hold_{false};
    std::atomic<int> queries_{0}, holding_{0}, abandoned_{0};
    std::thread thread_;
};

} // namespace

class tst_CliLab : public QObject {
    Q_OBJECT

private slots:
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
    void startBehindLogin();
    void pageOnlyBehindItsLogin_data();
    void pageOnlyBehindItsLogin();
    void failedLoginsWarned();
    void slowPrometheusHoldsNoOtherRequest();
    void cleanupTestCase();

private:
    HttpReply fetch(const QString &scheme, const QString &path, const QByteArray &user,
                    const QByteArray &password) const;

    QTemporaryDir dir_;
    QProcess lab_; // serving TLS with a login, from startBehindLogin on
    int port_ = 0;
    QByteArray stderr_;
};

void tst_CliLab::refusesBadCommandLines_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    const QString prometheus = QStringLiteral("--prometheus=http://127.0.0.1:1");
    const QString dir = dir_.path();
    WriteFile(dir + "/plain.yml", "basic_auth_users:\n  anna: secret\n");

    QTest::newRow("no Prometheus")
        << QStringList{} << 2 << "--prometheus: '' is not an http:// or https:// URL";
    QTest::newRow("not HTTP") << QStringList{"--prometheus=ftp://prometheus:9090"} << 2
                              << "'ftp://prometheus:9090' is not an http:// or https:// URL";
    QTest::newRow("no host") << QStringList{"--prometheus=http://"} << 2
                             << "is not an http:// or https:// URL";
    QTest::newRow("user without password") << QStringList{prometheus, "--prometheus-user=lab"} << 2
                                           << "--prometheus-user needs --prometheus-password-file";
    QTest::newRow("password file unreadable")
        << QStringList{prometheus, "--prometheus-user=lab",
                       "--prometheus-password-file=" + dir + "/none"}
        << 6 << "cannot read " + dir + "/none";
    QTest::newRow("bad listen address") << QStringList{prometheus, "--http=127.0.0.1:99999"} << 2
                                        << "--http: '127.0.0.1:99999' is not [HOST:]PORT";
    QTest::newRow("spare argument") << QStringList{prometheus, "1,2"} << 2 << "no arguments";
    QTest::newRow("web config missing")
        << QStringList{prometheus, "--web-config=" + dir + "/none.yml"} << 2
        << dir + "/none.yml: cannot read it";
    QTest::newRow("web config with a plain password")
        << QStringList{prometheus, "--web-config=" + dir + "/plain.yml"} << 2 << dir + "/plain.yml";
}

void tst_CliLab::refusesBadCommandLines() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const CliRun run = RunCli(QStringList{QStringLiteral("lab")} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QStringLiteral("page is at")), qPrintable(run.err));
}

void tst_CliLab::startBehindLogin() {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        QSKIP("openssl is missing (./test.sh installs it)");
    QProcess make;
    make.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                         "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                         dir_.filePath("lab.key"), "-out", dir_.filePath("lab.crt")});
    QVERIFY(make.waitForFinished(60000) && make.exitCode() == 0);
    WriteFile(dir_.filePath("web.yml"),
              QByteArray("tls_server_config:\n  cert_file: lab.crt\n  key_file: lab.key\n"
                         "basic_auth_users:\n  anna: ") +
                  kAnnaHash + "\n");
    port_ = FreePort();
    // Prometheus out of reach: the page still answers, with its banner.
    lab_.start(QStringLiteral(CLI_BINARY),
               {QStringLiteral("lab"), QStringLiteral("--prometheus=http://127.0.0.1:1"),
                QStringLiteral("--http=127.0.0.1:%1").arg(port_),
                "--web-config=" + dir_.filePath("web.yml")});
    QVERIFY(lab_.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(lab_.state() == QProcess::NotRunning ||
                                 fetch("https", "/", "anna", kAnnaPassword).status == 200,
                             30000);
    QVERIFY2(lab_.state() == QProcess::Running, lab_.readAllStandardError().constData());
}

HttpReply tst_CliLab::fetch(const QString &scheme, const QString &path, const QByteArray &user,
                            const QByteArray &password) const {
    HttpRequest request;
    request.user = user;
    request.password = password;
    request.caFile = dir_.filePath(QStringLiteral("lab.crt"));
    return HttpFetch(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port_).arg(path),
                     request);
}

void tst_CliLab::pageOnlyBehindItsLogin_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<long>("status");
    for (const char *path : {"/", "/api/lab", "/static/lab.js", "/static/kalvora.css"}) {
        const QString p = QString::fromLatin1(path);
        QTest::addRow("%s without credentials", path)
            << "https" << p << QByteArray() << QByteArray() << 401L;
        QTest::addRow("%s wrong password", path)
            << "https" << p << QByteArray("anna") << QByteArray("falsch") << 401L;
        QTest::addRow("%s wrong user", path)
            << "https" << p << QByteArray("boris") << QByteArray(kAnnaPassword) << 401L;
        QTest::addRow("%s the right login", path)
            << "https" << p << QByteArray("anna") << QByteArray(kAnnaPassword) << 200L;
    }
    QTest::newRow("plain HTTP to the TLS port")
        << "http"
        << "/api/lab" << QByteArray("anna") << QByteArray(kAnnaPassword) << 0L;
}

// With a web configuration the page, its files and its API answer only a TLS request with the
// right login: never open to whoever asks.
void tst_CliLab::pageOnlyBehindItsLogin() {
    QFETCH(QString, scheme);
    QFETCH(QString, path);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(long, status);
    const HttpReply reply = fetch(scheme, path, user, password);
    QCOMPARE(reply.status, status);
    if (status == 401) {
        QVERIFY(reply.header("WWW-Authenticate").startsWith("Basic"));
        QVERIFY2(!reply.body.contains("kalvora") && !reply.body.contains("<html"),
                 reply.body.constData());
    }
    if (status == 200 && path == QLatin1String("/api/lab"))
        QVERIFY2(reply.body.contains("\"reachable\":false"), reply.body.constData());
}

// Wrong logins are warnings naming the user and the peer, never the password, at a bounded pace:
// the failures above (eight, from one peer within a minute) are one line.
void tst_CliLab::failedLoginsWarned() {
    QCOMPARE(fetch("https", "/", "boris", "geheim wort").status, 401L);
    const QByteArray first = "failed login to the lab's page as 'anna' from 127.0.0.1";
    QTRY_VERIFY_WITH_TIMEOUT((stderr_ += lab_.readAllStandardError()).contains(first), 30000);
    QCOMPARE(stderr_.count("failed login"), 1);
    QVERIFY(!stderr_.contains("geheim") && !stderr_.contains("falsch"));
}

// While one request waits for a Prometheus that does not answer, the others get the last
// answer (which names its own moment) at once, not a wait behind it.
void tst_CliLab::slowPrometheusHoldsNoOtherRequest() {
    HoldingPrometheus prometheus;
    const int port = FreePort();
    QProcess lab;
    lab.start(QStringLiteral(CLI_BINARY),
              {QStringLiteral("lab"), "--prometheus=" + prometheus.url(),
               QStringLiteral("--http=127.0.0.1:%1").arg(port)});
    QVERIFY(lab.waitForStarted());
    const QString api = QStringLiteral("http://127.0.0.1:%1/api/lab").arg(port);
    const auto HttpGet = [](const QString &url) { return HttpFetch(url); };
    QTRY_VERIFY_WITH_TIMEOUT(HttpGet(api).status == 200, 30000);
    const HttpReply first = HttpGet(api);
    QVERIFY2(first.body.contains("\"reachable\":true"), first.body.constData());

    prometheus.hold(true);
    QTest::qWait(4500); // the answer above is no longer fresh
    HttpReply waiting;
    std::thread asker([&] { waiting = HttpGet(api); });
    QTRY_COMPARE_WITH_TIMEOUT(prometheus.holding(), 1, 30000);
    const HttpReply meanwhile = HttpGet(api);
    const bool stillHeld = prometheus.holding() == 1 && prometheus.abandoned() == 0;
    prometheus.hold(false);
    asker.join();
    QVERIFY2(stillHeld, "the second request waited for Prometheus");
    QCOMPARE(meanwhile.status, 200L);
    QCOMPARE(meanwhile.body, first.body);
    QCOMPARE(waiting.status, 200L);
    lab.terminate();
    QVERIFY(lab.waitForFinished(30000));
}

void tst_CliLab::cleanupTestCase() {
    if (lab_.state() == QProcess::NotRunning)
        return;
    lab_.terminate();
    QVERIFY(lab_.waitForFinished(30000));
    QCOMPARE(lab_.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliLab)
#include "tst_CliLab.moc"

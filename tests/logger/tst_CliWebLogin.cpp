// `kalvora-cli log --web-config`: a real logger on a simulated bus, serving over TLS with a login.
// Every path answers 401 and nothing else without valid credentials, plain HTTP gets no answer,
// failed logins are counted in /metrics and journaled without the password, and a file that
// cannot secure the server stops the start with exit 2 before anything runs. The certificates
// are made with openssl and the password hash with htpasswd, as the README tells.
#include "CliProcess.h"
#include "HttpClient.h"
#include "LoopbackPort.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QByteArray kPassword = "richtig Pferd Batterie";

bool Run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

bool Write(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray Read(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_CliWebLogin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void failedLoginsAreCountedAndJournaledWithoutThePassword();
    void everyPathAsksForTheLogin_data();
    void everyPathAsksForTheLogin();
    void badFileStopsTheStart_data();
    void badFileStopsTheStart();

private:
    HttpReply fetch(const QString &scheme, const QString &path, const QByteArray &user,
                    const QByteArray &password, const QByteArray &method = "GET") const;
    unsigned long long failedLoginsNow() const;
    QString file(const QString &name) const { return dir_.filePath(name); }
    QByteArray webConfig(const QByteArray &cert, const QByteArray &key,
                         const QByteArray &hash) const;

    QTemporaryDir dir_;
    QByteArray hash_; // anna's, by htpasswd
    std::unique_ptr<SimulatedLine> line_;
    QProcess logger_;
    int port_ = 0;
};

QByteArray tst_CliWebLogin::webConfig(const QByteArray &cert, const QByteArray &key,
                                      const QByteArray &hash) const {
    return "tls_server_config:\n  cert_file: " + cert + "\n  key_file: " + key +
           "\nbasic_auth_users:\n  anna: " + hash + "\n";
}

void tst_CliWebLogin::initTestCase() {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString htpasswd = QStandardPaths::findExecutable(QStringLiteral("htpasswd"));
    if (openssl.isEmpty() || htpasswd.isEmpty())
        QSKIP("openssl or htpasswd is missing (./test.sh installs openssl and apache2-utils)");
    QVERIFY(dir_.isValid());
    // The logger's certificate for 127.0.0.1, and a second pair whose key belongs elsewhere.
    for (const char *name : {"logger", "other"})
        QVERIFY(Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                              "-subj", "/CN=localhost", "-addext",
                              "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                              file(QString::fromLatin1(name) + ".key"), "-out",
                              file(QString::fromLatin1(name) + ".crt")}));
    // The README's command, with the password given rather than asked for.
    QByteArray line;
    QVERIFY(Run(htpasswd, {"-nbBC", "10", "anna", QString::fromUtf8(kPassword)}, &line));
    hash_ = line.trimmed().mid(QByteArrayLiteral("anna:").size());
    QVERIFY2(hash_.startsWith("$2y$10$"), line.constData());
    QVERIFY(Write(file("web.yml"), webConfig("logger.crt", "logger.key", hash_)));

    line_ = std::make_unique<SimulatedLine>(std::vector<int>{1});
    port_ = FreePort();
    // Through the configuration file, as the service gives it.
    QVERIFY(Write(file("bench.conf"), QStringLiteral("chambers=1\nperiod=1\ntimeout=100\n"
                                                     "http=127.0.0.1:%1\nweb-config=%2\n")
                                          .arg(port_)
                                          .arg(file("web.yml"))
                                          .toUtf8()));
    logger_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logger_.start(QStringLiteral(CLI_BINARY), {"log", "--config", file("bench.conf"), "--dir",
                                               dir_.path(), "--port", line_->slavePath()});
    QVERIFY(logger_.waitForStarted());
    const auto end = std::chrono::steady_clock::now() + 30s * kTimingSlack;
    while (fetch("https", "/api/chambers", "anna", kPassword).status != 200) {
        QVERIFY2(std::chrono::steady_clock::now() < end, "the logger never served");
        QVERIFY(logger_.state() == QProcess::Running);
        std::this_thread::sleep_for(100ms);
    }
}

void tst_CliWebLogin::cleanupTestCase() {
    if (logger_.state() == QProcess::NotRunning)
        return;
    logger_.terminate();
    QVERIFY(logger_.waitForFinished(30000));
    QCOMPARE(logger_.exitCode(), 0);
}

HttpReply tst_CliWebLogin::fetch(const QString &scheme, const QString &path,
                                 const QByteArray &user, const QByteArray &password,
                                 const QByteArray &method) const {
    HttpRequest request;
    request.method = method;
    request.user = user;
    request.password = password;
    request.caFile = dir_.filePath(QStringLiteral("logger.crt"));
    request.timeoutMs = 10000 * kTimingSlack;
    return HttpFetch(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port_).arg(path),
                     request);
}

unsigned long long tst_CliWebLogin::failedLoginsNow() const {
    const HttpReply reply = fetch("https", "/metrics", "anna", kPassword);
    for (const QByteArray &line : reply.body.split('\n'))
        if (line.startsWith("kalvora_http_failed_logins_total "))
            return line.split(' ').last().toULongLong();
    qWarning("no failed logins in: %s", reply.body.constData());
    return ~0ULL;
}

// Runs first: the journal's line for this peer is the first failure of the run.
void tst_CliWebLogin::failedLoginsAreCountedAndJournaledWithoutThePassword() {
    const unsigned long long before = failedLoginsNow();
    QCOMPARE(before, 0ULL);
    const QByteArray guess = "Sesam-oeffne-dich-4711";
    QCOMPARE(fetch("https", "/", "mallory", guess).status, 401L);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(fetch("https", "/metrics", "anna", guess + QByteArray::number(i)).status, 401L);
    QCOMPARE(fetch("https", "/metrics", "", "").status, 401L); // no credentials: no failure
    QCOMPARE(failedLoginsNow(), before + 5);

    // One line for the flood from this peer within the minute, with the first name it gave.
    const QByteArray journal = Read(file("events.jsonl"));
    QVERIFY(!journal.contains(guess));
    QVERIFY(!journal.contains(kPassword));
    QList<QJsonObject> failures;
    for (const QByteArray &line : journal.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() == QLatin1String("login_failed"))
            failures << event;
    }
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0].value(QStringLiteral("user")).toString(), QStringLiteral("mallory"));
    QCOMPARE(failures[0].value(QStringLiteral("peer")).toString(), QStringLiteral("127.0.0.1"));
    QVERIFY(journal.contains("\"web-config\":")); // the run's options name the file
}

void tst_CliWebLogin::everyPathAsksForTheLogin_data() {
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<long>("status"); // 0: no HTTP answer at all
    const QStringList paths{"/", "/chamber/1", "/api/chambers", "/api/events",
                            "/api/chambers/1/history", "/metrics", "/static/kalvora.css",
                            "/static/overview.js", "/static/words.js", "/no/such/page"};
    for (const QString &path : paths) {
        const long served = path == QLatin1String("/no/such/page") ? 404 : 200;
        const QByteArray p = path.toUtf8();
        QTest::newRow(p + " without credentials") << "https" << path << QByteArray("GET")
                                                   << QByteArray() << QByteArray() << 401L;
        QTest::newRow(p + " wrong password") << "https" << path << QByteArray("GET")
                                             << QByteArray("anna") << QByteArray("falsch") << 401L;
        QTest::newRow(p + " wrong user") << "https" << path << QByteArray("GET")
                                         << QByteArray("otto") << kPassword << 401L;
        QTest::newRow(p + " the right login") << "https" << path << QByteArray("GET")
                                              << QByteArray("anna") << kPassword << served;
    }
    QTest::newRow("HEAD without credentials") << "https" << "/" << QByteArray("HEAD")
                                              << QByteArray() << QByteArray() << 401L;
    QTest::newRow("the user's name in another case") << "https" << "/" << QByteArray("GET")
                                                     << QByteArray("Anna") << kPassword << 401L;
    QTest::newRow("plain HTTP to the TLS port") << "http" << "/metrics" << QByteArray("GET")
                                                << QByteArray("anna") << kPassword << 0L;
}

void tst_CliWebLogin::everyPathAsksForTheLogin() {
    QFETCH(QString, scheme);
    QFETCH(QString, path);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(long, status);
    const HttpReply reply = fetch(scheme, path, user, password, method);
    QCOMPARE(reply.status, status);
    if (status == 401) {
        QCOMPARE(reply.header("WWW-Authenticate"),
                 QByteArray(R"(Basic realm="Kalvora", charset="UTF-8")"));
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
        if (method == "GET")
            QCOMPARE(reply.body, QByteArray("login needed\n"));
        QVERIFY(reply.header("Cache-Control").isEmpty()); // nothing of the route's answer
    } else if (status == 200) {
        QVERIFY(!reply.body.isEmpty());
    }
}

void tst_CliWebLogin::badFileStopsTheStart_data() {
    QTest::addColumn<QByteArray>("config"); // the web configuration's text
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("viaConfigFile"); // web-config= rather than --web-config
    QTest::addColumn<bool>("http");
    QTest::newRow("no such file") << QByteArray() << "web.missing.yml: cannot read it" << false << true;
    QTest::newRow("a password that is not a hash")
        << webConfig("logger.crt", "logger.key", kPassword) << "anna: not a bcrypt hash" << false << true;
    QTest::newRow("missing key file") << webConfig("logger.crt", "gone.key", "HASH")
                                      << "cannot read key " << false << true;
    QTest::newRow("missing certificate") << webConfig("gone.crt", "logger.key", "HASH")
                                         << "cannot read certificate " << false << true;
    QTest::newRow("certificate not PEM") << webConfig("bench.conf", "logger.key", "HASH")
                                         << "bench.conf is not a PEM file" << false << true;
    QTest::newRow("a key of another certificate")
        << webConfig("logger.crt", "other.key", "HASH")
        << "key " + file("other.key") + " cannot serve TLS" << false << true;
    QTest::newRow("a key of another certificate, from the configuration file")
        << webConfig("logger.crt", "other.key", "HASH") << "do not match" << true << true;
    QTest::newRow("no server to secure") << webConfig("logger.crt", "logger.key", "HASH")
                                         << "give --http too" << false << false;
}

void tst_CliWebLogin::badFileStopsTheStart() {
    QFETCH(QByteArray, config);
    QFETCH(QString, message);
    QFETCH(bool, viaConfigFile);
    QFETCH(bool, http);
    QTemporaryDir runDir;
    QString path = file(QStringLiteral("web.missing.yml"));
    if (!config.isEmpty()) {
        path = file(QStringLiteral("web.bad.yml"));
        QVERIFY(Write(path, config.replace("HASH", hash_)));
    }
    // A port that is not there: a start that got that far would fail otherwise.
    QStringList arguments{"log", "1", "--dir", runDir.path(), "--port",
                          runDir.filePath(QStringLiteral("no-such-tty"))};
    const QString address = QStringLiteral("127.0.0.1:%1").arg(FreePort());
    if (viaConfigFile) {
        const QString conf = runDir.filePath(QStringLiteral("bad.conf"));
        QVERIFY(Write(conf, QStringLiteral("http=%1\nweb-config=%2\n").arg(address, path).toUtf8()));
        arguments << "--config" << conf;
    } else {
        if (http)
            arguments << "--http" << address;
        arguments << "--web-config" << path;
    }
    const CliRun run = RunCli(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    if (http)
        QVERIFY2(run.err.contains(path), qPrintable(run.err)); // the file is named
    QVERIFY(!QFile::exists(runDir.filePath(QStringLiteral("events.jsonl")))); // nothing started
}

QTEST_GUILESS_MAIN(tst_CliWebLogin)
#include "tst_CliWebLogin.moc"

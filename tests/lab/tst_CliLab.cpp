// kalvora-cli lab as a user meets it: what its command line refuses, and that a page meant to
// be closed never starts open.
#include "CliProcess.h"
#include "HttpClient.h"
#include "LoopbackPort.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Made with htpasswd -nbBC 4 (cost 4 keeps the test quick).
const char kAnnaHash[] = "$2y$04$8SVRuSPPekzhMD5g0bK5Ve1kDEonohLqaShEjUO2weAjjQljM49L6";
const char kAnnaPassword[] = "richtig Pferd";

void WriteFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class tst_CliLab : public QObject {
    Q_OBJECT

private slots:
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
    void pageWithLoginNeverStartsOpen();

private:
    QTemporaryDir dir_;
};

void tst_CliLab::refusesBadCommandLines_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    const QString prometheus = QStringLiteral("--prometheus=http://127.0.0.1:1");
    const QString dir = dir_.path();
    WriteFile(dir + "/plain.yml", "basic_auth_users:\n  anna: secret\n");

    QTest::newRow("no Prometheus") << QStringList{} << 2
                                   << "--prometheus: '' is not an http:// or https:// URL";
    QTest::newRow("not HTTP") << QStringList{"--prometheus=ftp://prometheus:9090"} << 2
                              << "'ftp://prometheus:9090' is not an http:// or https:// URL";
    QTest::newRow("no host") << QStringList{"--prometheus=http://"} << 2
                             << "is not an http:// or https:// URL";
    QTest::newRow("user without password")
        << QStringList{prometheus, "--prometheus-user=lab"} << 2
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
        << QStringList{prometheus, "--web-config=" + dir + "/plain.yml"} << 2
        << dir + "/plain.yml";
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

// With a valid login file the page either serves behind the login or refuses to start, naming
// the file: never open to whoever asks.
void tst_CliLab::pageWithLoginNeverStartsOpen() {
    const QString config = dir_.filePath(QStringLiteral("web.yml"));
    WriteFile(config, QByteArray("basic_auth_users:\n  anna: ") + kAnnaHash + "\n");
    const int port = FreePort();
    QProcess lab;
    lab.start(QStringLiteral(CLI_BINARY),
              {QStringLiteral("lab"), QStringLiteral("--prometheus=http://127.0.0.1:1"),
               QStringLiteral("--http=127.0.0.1:%1").arg(port), "--web-config=" + config});
    StopOnExit stop{lab};
    QTRY_VERIFY_WITH_TIMEOUT(lab.state() == QProcess::NotRunning ||
                                 HttpGet(port, QStringLiteral("/")).ok(),
                             30000);
    if (lab.state() == QProcess::NotRunning) {
        const QString err = QString::fromUtf8(lab.readAllStandardError());
        QCOMPARE(lab.exitCode(), 2);
        QVERIFY2(err.contains(config), qPrintable(err));
        return;
    }
    for (const QString path : {"/", "/api/lab", "/static/lab.js"}) {
        const HttpReply open = HttpGet(port, path);
        QCOMPARE(open.status, 401L);
        QVERIFY(!open.header("WWW-Authenticate").isEmpty());
        HttpRequest wrong;
        wrong.user = "anna";
        wrong.password = "falsch";
        QCOMPARE(HttpGet(port, path, wrong).status, 401L);
    }
    HttpRequest anna;
    anna.user = "anna";
    anna.password = kAnnaPassword;
    const HttpReply page = HttpGet(port, QStringLiteral("/api/lab"), anna);
    QCOMPARE(page.status, 200L);
    QVERIFY2(page.body.contains("\"reachable\":false"), page.body.constData());
}

QTEST_GUILESS_MAIN(tst_CliLab)
#include "tst_CliLab.moc"

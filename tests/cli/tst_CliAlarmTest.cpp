// kalvora-cli alarm-test as a lab runs it: the logger's configuration file, one test notification
// through each channel to listeners on 127.0.0.1, a line per channel and the exit status.
#include "AlarmListeners.h"
#include "CliProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

namespace {

QString Write(const QTemporaryDir &dir, const QString &name, const QByteArray &text,
              QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    file.close();
    file.setPermissions(permissions);
    return path;
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_CliAlarmTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyChannelDelivers();
    void failedChannelExits7();
    void passwordOnlyOverTls();
    void hookFailsWithChildSignalIgnored();
    void badConfiguration_data();
    void badConfiguration();

private:
    QTemporaryDir dir_;
    QString hook_;
};

void tst_CliAlarmTest::initTestCase() {
    QVERIFY(dir_.isValid());
    hook_ = Write(dir_, QStringLiteral("hook.sh"), "#!/bin/sh\nenv > \"$1\"\n",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void tst_CliAlarmTest::everyChannelDelivers() {
    SmtpListener smtp;
    HttpListener http({200});
    const QString env = dir_.filePath(QStringLiteral("env.txt"));
    const QString auth =
        Write(dir_, QStringLiteral("smtp-auth"), "# lab mail\nuser=lab\npassword=secret\n");
    // The logger's own options stay in the file and are no business of alarm-test.
    const QString config =
        Write(dir_, QStringLiteral("bus1.conf"),
              QStringLiteral("port=/dev/ttyUSB0\nchambers=1,3\nperiod=4\ncsv\n"
                             "alarm=1,3 high 60 delay=2m\nalarm=* silent 5m\n"
                             "on-alarm=%1 %2\nalarm-webhook=%3\nalarm-mail=duty@example.org\n"
                             "smtp=%4\nsmtp-auth=%5\nsmtp-auth-unencrypted\n")
                  .arg(hook_, env, http.url(), smtp.url(), auth)
                  .toUtf8());
    const CliRun run = RunCli({QStringLiteral("alarm-test"), QStringLiteral("--config"), config});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("command %1 %2: delivered\nwebhook %3: delivered\n"
                                     "mail to duty@example.org via %4 (password unencrypted if "
                                     "the server offers no TLS): delivered\n")
                          .arg(hook_, env, http.url(), smtp.url()));

    const QString host = QSysInfo::machineHostName();
    const QString expectedRu = QStringLiteral("проверка оповещения с %1, это не тревога").arg(host);
    const QStringList variables = QString::fromUtf8(ReadAll(env)).split(QLatin1Char('\n'));
    for (const QString &line :
         {QStringLiteral("KALVORA_ALARM_KIND=test"), QStringLiteral("KALVORA_ALARM_STATE=notice"),
          QStringLiteral("KALVORA_ALARM_CHAMBER="),
          QStringLiteral("KALVORA_ALARM_MESSAGE_RU=") + expectedRu})
        QVERIFY2(variables.contains(line), qPrintable(line));
    const QJsonObject json = QJsonDocument::fromJson(http.bodies().value(0)).object();
    QCOMPARE(json.value("kind").toString(), QStringLiteral("test"));
    QCOMPARE(json.value("host").toString(), host);
    QCOMPARE(smtp.mails().size(), 1);
    QCOMPARE(smtp.mails()[0].login, QByteArray("\0lab\0secret", 11));
    QVERIFY(smtp.mails()[0].message.contains("\r\nTo: duty@example.org\r\n"));
}

void tst_CliAlarmTest::failedChannelExits7() {
    SmtpListener smtp(SmtpListener::Mode::RefuseRecipients);
    HttpListener http({500});
    const QString env = dir_.filePath(QStringLiteral("env2.txt"));
    const CliRun run = RunCli(
        {QStringLiteral("alarm-test"), QStringLiteral("--on-alarm"), hook_ + QLatin1Char(' ') + env,
         QStringLiteral("--alarm-webhook"), http.url(), QStringLiteral("--alarm-mail"),
         QStringLiteral("duty@example.org"), QStringLiteral("--smtp"), smtp.url()});
    QCOMPARE(run.exitCode, 7);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("command %1 %2: delivered").arg(hook_, env));
    QCOMPARE(lines[1], QStringLiteral("webhook %1: failed: HTTP status 500").arg(http.url()));
    QVERIFY2(lines[2].startsWith(
                 QStringLiteral("mail to duty@example.org via %1: failed: ").arg(smtp.url())) &&
                 lines[2].contains(QStringLiteral("550")),
             qPrintable(lines[2]));
    QCOMPARE(http.bodies().size(), 1); // one attempt each: no retries in a dry run
}

void tst_CliAlarmTest::passwordOnlyOverTls() {
    // The listener offers no STARTTLS: without the lab's word, the password stays home.
    SmtpListener smtp;
    const QString auth =
        Write(dir_, QStringLiteral("smtp-auth-2"), "user=lab\npassword=secret\n");
    const CliRun run = RunCli({QStringLiteral("alarm-test"), QStringLiteral("--alarm-mail"),
                               QStringLiteral("duty@example.org"), QStringLiteral("--smtp"),
                               smtp.url(), QStringLiteral("--smtp-auth"), auth});
    QCOMPARE(run.exitCode, 7);
    QCOMPARE(run.out, QStringLiteral("mail to duty@example.org via %1 (password only over TLS): "
                                     "failed: the server offers no TLS, and the password is not "
                                     "sent unencrypted (--smtp-auth-unencrypted allows it)\n")
                          .arg(smtp.url()));
    QCOMPARE(smtp.logins(), QList<QByteArray>());
    QVERIFY(smtp.mails().isEmpty());
}

void tst_CliAlarmTest::hookFailsWithChildSignalIgnored() {
    // Some service managers and shells start programs with SIGCHLD ignored; the hook's exit
    // status must still be learnt, and a failure never reported as delivered.
    const QString failing =
        Write(dir_, QStringLiteral("fail.sh"), "#!/bin/sh\nexit 3\n",
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess process;
    process.start(QStringLiteral("env"),
                  {QStringLiteral("--ignore-signal=CHLD"), QStringLiteral(CLI_BINARY),
                   QStringLiteral("alarm-test"), QStringLiteral("--on-alarm"), failing});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
             QStringLiteral("command %1: failed: exit status 3\n").arg(failing));
    QCOMPARE(process.exitCode(), 7);
}

void tst_CliAlarmTest::badConfiguration_data() {
    QTest::addColumn<QString>("config");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::newRow("no channel") << "alarm=1 high 60\n"
                                << QStringList{} << 2
                                << "kalvora-cli: no alarm channel configured: give --on-alarm, "
                                   "--alarm-webhook or --alarm-mail\n";
    QTest::newRow("bad rule") << "on-alarm=/bin/true\nalarm=1 high 60 delay=5x\n"
                              << QStringList{} << 2
                              << "kalvora-cli: --alarm: alarm '1 high 60 delay=5x': delay='5x' is "
                                 "not a time (seconds, or 90s, 5m, 2h)\n";
    QTest::newRow("rule for a chamber not read")
        << "chambers=1,2\non-alarm=/bin/true\nalarm=3 sensor\n"
        << QStringList{} << 2
        << "kalvora-cli: --alarm: the sensor alarm names chamber 3, which is not read\n";
    QTest::newRow("mail without a server")
        << "alarm-mail=duty@example.org\n"
        << QStringList{} << 2 << "kalvora-cli: --alarm-mail needs --smtp smtp://HOST:PORT\n";
    QTest::newRow("password in the address")
        << "alarm-mail=duty@example.org\nsmtp=smtp://u:p@mail:25\n"
        << QStringList{} << 2
        << "kalvora-cli: --smtp: give the user and password in a --smtp-auth file, not in the "
           "address\n";
    QTest::newRow("webhook not http")
        << "alarm-webhook=ftp://host/x\n"
        << QStringList{} << 2
        << "kalvora-cli: --alarm-webhook: 'ftp://host/x' is not an http:// or https:// address\n";
    QTest::newRow("auth file missing")
        << "alarm-mail=duty@example.org\nsmtp=smtp://mail:25\n"
        << QStringList{"--smtp-auth", "/nonexistent/auth"} << 6
        << "kalvora-cli: --smtp-auth: cannot read /nonexistent/auth: No such file or directory\n";
    QTest::newRow("unencrypted without a log-in")
        << "alarm-mail=duty@example.org\nsmtp=smtp://mail:25\nsmtp-auth-unencrypted\n"
        << QStringList{} << 2
        << "kalvora-cli: --smtp-auth-unencrypted is set but --smtp-auth is not\n";
}

void tst_CliAlarmTest::badConfiguration() {
    QFETCH(QString, config);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QString path = Write(dir_, QStringLiteral("bad.conf"), config.toUtf8());
    const CliRun run = RunCli(
        QStringList{QStringLiteral("alarm-test"), QStringLiteral("--config"), path} + arguments);
    QCOMPARE(run.err, error);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QString());
}

QTEST_GUILESS_MAIN(tst_CliAlarmTest)
#include "tst_CliAlarmTest.moc"

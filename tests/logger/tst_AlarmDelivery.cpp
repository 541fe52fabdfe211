// Alarm delivery to real listeners on 127.0.0.1 and through real hook processes: what arrives,
// retries and giving up, a full queue, hanging hooks and servers, and a quick stop.
#include "AlarmListeners.h"
#include "TimingSlack.h"
#include "logger/alarms/AlarmDelivery.h"
#include "logger/alarms/AlarmPayload.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

AlarmNotification Notification(int chamber = 3) {
    AlarmNotification n;
    n.chamber = chamber;
    n.kind = AlarmKind::High;
    n.state = AlarmState::Raised;
    n.time = QDateTime(QDate(2026, 12, 10), QTime(3, 4, 5), Qt::OffsetFromUTC, 3 * 3600);
    n.value = 61.2;
    n.limit = 60;
    n.temperature = 61.2;
    n.messageEn =
        QStringLiteral("Chamber %1: temperature 61.2 °C above the limit 60 °C").arg(chamber);
    n.messageRu = QStringLiteral("Камера %1: температура 61,2 °C выше предела 60 °C").arg(chamber);
    return n;
}

AlarmDeliverySettings Quick() {
    AlarmDeliverySettings s;
    s.host = QStringLiteral("lab-pc");
    s.requestTimeout = 10s;
    s.firstRetry = 300ms;
    s.longestRetry = 300ms;
    s.giveUpAfter = 1500ms;
    return s;
}

// Collects what the delivery reports, from whichever thread.
class Problems {
public:
    AlarmDelivery::ProblemHandler handler() {
        return [this](const DeliveryProblem &p) {
            std::lock_guard lock(mutex_);
            list_.append(p);
        };
    }
    QList<DeliveryProblem> list() const {
        std::lock_guard lock(mutex_);
        return list_;
    }
    bool gaveUp() const {
        const auto l = list();
        return !l.isEmpty() && l.back().gaveUp;
    }

private:
    mutable std::mutex mutex_;
    QList<DeliveryProblem> list_;
};

// Writes its pid to "$1", and "$1.late" a minute later if it was left to run that long.
const QByteArray kHookThatOutlastsAStop = "echo $$ > \"$1\"\nsleep 60\necho late > \"$1.late\"\n";

QString WriteScript(const QTemporaryDir &dir, const QString &name, const QByteArray &body) {
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Gone, or a zombie waiting for its parent: either way it runs no more.
bool ProcessEnded(const QByteArray &pidText) {
    const QByteArray stat =
        ReadAll(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pidText.trimmed())));
    if (stat.isEmpty())
        return true;
    const qsizetype close = stat.lastIndexOf(')');
    return stat.mid(close + 2, 1) == "Z";
}

// The hook of kHookThatOutlastsAStop, given its pid file: ended, and before its minute was out.
bool KilledBeforeItsMinute(const QString &pidFile) {
    return ProcessEnded(ReadAll(pidFile)) && !QFile::exists(pidFile + QStringLiteral(".late"));
}

QString Body(const QByteArray &mail) {
    return QString::fromUtf8(QByteArray::fromBase64(mail.mid(mail.indexOf("\r\n\r\n") + 4)));
}

} // namespace

class tst_AlarmDelivery : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void hookEnvironment();
    void hookFailures_data();
    void hookFailures();
    void hangingHookDoesNotHoldTheRest();
    void fullQueueDropsTheOldest();
    void webhookRetriesUntilDelivered();
    void webhookGivesUp();
    void httpsWebhook();
    void mailArrives();
    void mailRefused();
    void mailPasswordOnlyOverTls();
    void webhookRefusalIsFinal();
    void retriedNotificationHoldsOnlyItsOwnAlarm();
    void finishTriesEachOnceThenDrops_data();
    void finishTriesEachOnceThenDrops();
    void hookOutcomeUnknownIsNoSuccess();
    void stopsQuickly_data();
    void stopsQuickly();

private:
    QTemporaryDir dir_;
};

void tst_AlarmDelivery::initTestCase() {
    QVERIFY(dir_.isValid());
    std::signal(SIGPIPE, SIG_IGN); // as the logger does
}

void tst_AlarmDelivery::hookEnvironment() {
    // A variable of the same name in the logger's environment must not leak into the hook's.
    qputenv("KALVORA_ALARM_KIND", "stale");
    const QString out = dir_.filePath(QStringLiteral("env.txt"));
    AlarmDeliverySettings s = Quick();
    // Nor may the logger's descriptors (the port among them): one without close-on-exec.
    const int devNull = ::open("/dev/null", O_RDONLY);
    const int leak = ::fcntl(devNull, F_DUPFD, 37);
    s.command = {
        WriteScript(
            dir_, QStringLiteral("env.sh"),
            "env > \"$1\"\nfor f in /proc/$$/fd/*; do echo \"fd ${f##*/}\"; done >> \"$1\"\n"),
        out};
    QCOMPARE(SendAlarmOnce(AlarmChannel::Command, Notification(), s), QString());
    qunsetenv("KALVORA_ALARM_KIND");
    ::close(leak);
    ::close(devNull);
    const QStringList lines = QString::fromUtf8(ReadAll(out)).split(QLatin1Char('\n'));
    for (const QString &expected : AlarmEnvironment(Notification(), QStringLiteral("lab-pc")))
        QVERIFY2(lines.contains(expected), qPrintable(expected));
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^KALVORA_ALARM_KIND="))),
             QStringList{QStringLiteral("KALVORA_ALARM_KIND=high")});
    QVERIFY(lines.contains(QStringLiteral("PATH=") + qEnvironmentVariable("PATH")));
    QVERIFY(lines.contains(QStringLiteral("fd 2")));
    QVERIFY(!lines.contains(QStringLiteral("fd %1").arg(leak)));
}

void tst_AlarmDelivery::hookFailures_data() {
    QTest::addColumn<QByteArray>("script"); // empty: no such program
    QTest::addColumn<QString>("reason");
    QTest::newRow("exit status") << QByteArray("exit 3\n") << "exit status 3";
    QTest::newRow("killed by a signal") << QByteArray("kill -9 $$\n") << "ended by signal 9";
    QTest::newRow("no such program") << QByteArray() << "cannot run %1: No such file or directory";
    // The hook's own child goes with it: its group is killed.
    QTest::newRow("hangs") << QByteArray("sleep 60 &\necho $! > \"$1\"\nwait\n")
                           << "no end after 1 s: killed";
}

void tst_AlarmDelivery::hookFailures() {
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    AlarmDeliverySettings s = Quick();
    s.commandTimeout = 1s;
    const QString pidFile = dir_.filePath(QStringLiteral("child.pid"));
    QFile::remove(pidFile);
    const QString program = script.isEmpty()
                                ? dir_.filePath(QStringLiteral("missing"))
                                : WriteScript(dir_, QStringLiteral("fails.sh"), script);
    s.command = {program, pidFile};
    QElapsedTimer timer;
    timer.start();
    if (reason.contains(QLatin1String("%1")))
        reason = reason.arg(program);
    QCOMPARE(SendAlarmOnce(AlarmChannel::Command, Notification(), s), reason);
    if (QFile::exists(pidFile)) {
        QVERIFY(timer.elapsed() >= 1000);
        QTRY_VERIFY(ProcessEnded(ReadAll(pidFile)));
    }
}

void tst_AlarmDelivery::hangingHookDoesNotHoldTheRest() {
    // The first run hangs, the second writes its chamber.
    const QString marker = dir_.filePath(QStringLiteral("first-done"));
    const QString out = dir_.filePath(QStringLiteral("second.txt"));
    AlarmDeliverySettings s = Quick();
    s.commandTimeout = 1s;
    s.command = {WriteScript(dir_, QStringLiteral("once.sh"),
                             "if [ -e \"$1\" ]; then echo \"$KALVORA_ALARM_CHAMBER\" > \"$2\"; "
                             "else touch \"$1\"; exec sleep 60; fi\n"),
                 marker, out};
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification(1));
    delivery.post(Notification(2));
    QVERIFY(problems.list().isEmpty()); // post() queued them and returned at once
    QTRY_COMPARE_WITH_TIMEOUT(ReadAll(out), QByteArray("2\n"), kEventTimeoutMs);
    const QList<DeliveryProblem> list = problems.list();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].what, DeliveryProblem::What::Failed);
    QCOMPARE(list[0].channel, AlarmChannel::Command);
    QCOMPARE(list[0].notification.chamber, 1);
    QCOMPARE(list[0].reason, QStringLiteral("no end after 1 s: killed"));
    QVERIFY(list[0].gaveUp); // a hook is never run twice for one notification
    QCOMPARE(delivery.failures(AlarmChannel::Command), 1ull);
    QTRY_COMPARE(delivery.pending(), std::size_t(0));
}

void tst_AlarmDelivery::fullQueueDropsTheOldest() {
    const QString started = dir_.filePath(QStringLiteral("started.pid"));
    QFile::remove(started);
    QFile::remove(started + QStringLiteral(".late"));
    AlarmDeliverySettings s = Quick();
    s.queueCapacity = 2;
    s.commandTimeout = 120s;
    s.command = {WriteScript(dir_, QStringLiteral("stuck.sh"), kHookThatOutlastsAStop), started};
    Problems problems;
    auto delivery = std::make_unique<AlarmDelivery>(s, problems.handler());
    delivery->post(Notification(1));
    QTRY_VERIFY_WITH_TIMEOUT(!ReadAll(started).isEmpty(), kEventTimeoutMs);
    for (int chamber = 2; chamber <= 5; ++chamber)
        delivery->post(Notification(chamber));
    QList<int> dropped;
    for (const DeliveryProblem &p : problems.list()) {
        QCOMPARE(p.what, DeliveryProblem::What::Dropped);
        QCOMPARE(p.reason, QStringLiteral("queue full"));
        dropped << p.notification.chamber;
    }
    QCOMPARE(dropped, (QList<int>{2, 3}));
    QCOMPARE(delivery->pending(), std::size_t(3)); // one in flight, two waiting

    // Stopping kills the hook in flight rather than waiting out its minute.
    delivery.reset();
    QTRY_VERIFY(KilledBeforeItsMinute(started));
}

void tst_AlarmDelivery::webhookRetriesUntilDelivered() {
    HttpListener listener({500, 200});
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = listener.url();
    s.giveUpAfter = 60s;
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification());
    QTRY_COMPARE_WITH_TIMEOUT(listener.bodies().size(), 2, kEventTimeoutMs);
    QTRY_COMPARE(delivery.pending(), std::size_t(0));

    const QList<DeliveryProblem> list = problems.list();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].channel, AlarmChannel::Webhook);
    QCOMPARE(list[0].reason, QStringLiteral("HTTP status 500"));
    QVERIFY(!list[0].gaveUp);
    QCOMPARE(delivery.failures(AlarmChannel::Webhook), 1ull);
    const auto times = listener.times();
    QVERIFY(times[1] - times[0] >= 300ms); // the back-off, not a hammering loop

    QCOMPARE(listener.bodies()[0], listener.bodies()[1]);
    QCOMPARE(listener.contentTypes()[1], QStringLiteral("application/json"));
    const QJsonObject o = QJsonDocument::fromJson(listener.bodies()[1]).object();
    QCOMPARE(o.value("chamber").toInteger(), 3);
    QCOMPARE(o.value("kind").toString(), QStringLiteral("high"));
    QCOMPARE(o.value("state").toString(), QStringLiteral("raised"));
    QCOMPARE(o.value("value").toDouble(), 61.2);
    QCOMPARE(o.value("limit").toDouble(), 60.0);
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-10T03:04:05+03:00"));
    QCOMPARE(o.value("message_ru").toString(), Notification().messageRu);
    QCOMPARE(o.value("message_en").toString(), Notification().messageEn);
}

void tst_AlarmDelivery::webhookGivesUp() {
    HttpListener listener({500});
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = listener.url();
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification());
    QTRY_VERIFY_WITH_TIMEOUT(problems.gaveUp(), kEventTimeoutMs);
    const QList<DeliveryProblem> list = problems.list();
    QVERIFY(list.size() >= 2);
    for (qsizetype i = 0; i + 1 < list.size(); ++i)
        QVERIFY(!list[i].gaveUp);
    QCOMPARE(listener.bodies().size(), list.size());
    QCOMPARE(delivery.pending(), std::size_t(0));
    QTest::qWait(700); // more than two back-offs: nothing more is sent
    QCOMPARE(listener.bodies().size(), list.size());
}

void tst_AlarmDelivery::httpsWebhook() {
    // A certificate of our own for 127.0.0.1, trusted only when SSL_CERT_FILE names it.
    const QString cert = dir_.filePath(QStringLiteral("cert.pem"));
    const QString key = dir_.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                   "-addext", "subjectAltName=IP:127.0.0.1"});
    QVERIFY2(openssl.waitForFinished(kEventTimeoutMs) && openssl.exitCode() == 0,
             openssl.readAllStandardError().constData());
    HttpListener server({204}, ReadAll(cert), ReadAll(key));
    QVERIFY(server.running());
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = server.url();

    const QString untrusted = SendAlarmOnce(AlarmChannel::Webhook, Notification(), s);
    qputenv("SSL_CERT_FILE", cert.toUtf8());
    const QString trusted = SendAlarmOnce(AlarmChannel::Webhook, Notification(), s);
    qunsetenv("SSL_CERT_FILE");
    QCOMPARE(untrusted, QStringLiteral("the server's certificate is not trusted"));
    QCOMPARE(trusted, QString());
    QCOMPARE(server.bodies().size(), 1);
    QVERIFY(server.bodies()[0].contains("\"kind\":\"high\""));
}

void tst_AlarmDelivery::mailArrives() {
    SmtpListener smtp;
    AlarmDeliverySettings s = Quick();
    s.mailTo = {QStringLiteral("duty@example.org"), QStringLiteral("Lab Head <head@example.org>")};
    s.smtpUrl = smtp.url();
    s.smtpUser = QStringLiteral("lab");
    s.smtpPassword = QStringLiteral("pa ss:word");
    s.smtpPasswordUnencrypted = true; // the listener offers no TLS
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification());
    QTRY_VERIFY2_WITH_TIMEOUT(smtp.mails().size() == 1, qPrintable(problems.list().value(0).reason),
                              kEventTimeoutMs);
    QTRY_COMPARE(delivery.pending(), std::size_t(0));
    QVERIFY(problems.list().isEmpty());

    const ReceivedMail mail = smtp.mails()[0];
    QCOMPARE(mail.from, QByteArray("<kalvora@lab-pc>"));
    QCOMPARE(mail.to, (QList<QByteArray>{"<duty@example.org>", "<head@example.org>"}));
    QCOMPARE(mail.login, QByteArray("\0lab\0pa ss:word", 15));
    QCOMPARE(DecodedMailHeader(mail.message, "Subject"),
             QStringLiteral("Kalvora: ") + Notification().messageRu);
    QVERIFY(mail.message.contains("\r\nTo: duty@example.org, Lab Head <head@example.org>\r\n"));
    const QString body = Body(mail.message);
    QVERIFY2(
        body.startsWith(Notification().messageRu + QLatin1Char('\n') + Notification().messageEn),
        qPrintable(body));
    QVERIFY(body.contains(QStringLiteral("\nchamber: 3\n")));
    QVERIFY(body.contains(QStringLiteral("\ntime: 2026-12-10T03:04:05+03:00\n")));
}

void tst_AlarmDelivery::mailRefused() {
    SmtpListener smtp(SmtpListener::Mode::RefuseRecipients);
    AlarmDeliverySettings s = Quick();
    s.mailTo = {QStringLiteral("nobody@example.org")};
    s.smtpUrl = smtp.url();
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification());
    QTRY_VERIFY_WITH_TIMEOUT(problems.gaveUp(), kEventTimeoutMs);
    const QList<DeliveryProblem> list = problems.list();
    QVERIFY(list.size() >= 2);
    for (const DeliveryProblem &p : list) {
        QCOMPARE(p.channel, AlarmChannel::Mail);
        QVERIFY2(p.reason.contains(QStringLiteral("550")), qPrintable(p.reason));
    }
    QCOMPARE(smtp.connections(), list.size());
    QVERIFY(smtp.mails().isEmpty());
    QCOMPARE(delivery.failures(AlarmChannel::Mail), static_cast<unsigned long long>(list.size()));
}

void tst_AlarmDelivery::mailPasswordOnlyOverTls() {
    // A server that offers no STARTTLS must not get the password, and the mail is not sent.
    SmtpListener smtp;
    AlarmDeliverySettings s = Quick();
    s.mailTo = {QStringLiteral("duty@example.org")};
    s.smtpUrl = smtp.url();
    s.smtpUser = QStringLiteral("lab");
    s.smtpPassword = QStringLiteral("secret");
    const QString reason = SendAlarmOnce(AlarmChannel::Mail, Notification(), s);
    QVERIFY2(reason.contains(QStringLiteral("offers no TLS")), qPrintable(reason));
    QCOMPARE(smtp.connections(), 1);
    QCOMPARE(smtp.logins(), QList<QByteArray>());
    QVERIFY(smtp.mails().isEmpty());
}

void tst_AlarmDelivery::webhookRefusalIsFinal() {
    // A 400 is the server's last word on that payload: the next notification goes at once.
    HttpListener listener({400, 200});
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = listener.url();
    s.giveUpAfter = 60s;
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification(1));
    delivery.post(Notification(2));
    QTRY_COMPARE_WITH_TIMEOUT(delivery.pending(), std::size_t(0), kEventTimeoutMs);
    QList<int> chambers;
    for (const QByteArray &body : listener.bodies())
        chambers << QJsonDocument::fromJson(body).object().value("chamber").toInt();
    QCOMPARE(chambers, (QList<int>{1, 2}));
    const QList<DeliveryProblem> list = problems.list();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].reason, QStringLiteral("HTTP status 400"));
    QVERIFY(list[0].gaveUp);
}

void tst_AlarmDelivery::retriedNotificationHoldsOnlyItsOwnAlarm() {
    // Chamber 1's endpoint keeps failing with 503: its raise is retried for a minute, its clear
    // waits behind it (a peer never sees a clear before its raise), chamber 2's goes at once.
    HttpListener listener(HttpListener::ByBody{[](const QByteArray &body) {
        return QJsonDocument::fromJson(body).object().value("chamber").toInt() == 1 ? 503 : 200;
    }});
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = listener.url();
    s.giveUpAfter = 60s;
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    AlarmNotification cleared = Notification(1);
    cleared.state = AlarmState::Cleared;
    delivery.post(Notification(1));
    delivery.post(cleared);
    delivery.post(Notification(2));
    const auto arrived = [&] {
        QStringList seen;
        for (const QByteArray &body : listener.bodies()) {
            const QJsonObject o = QJsonDocument::fromJson(body).object();
            seen << QStringLiteral("%1 %2")
                        .arg(o.value("chamber").toInt())
                        .arg(o.value("state").toString());
        }
        return seen;
    };
    QTRY_VERIFY_WITH_TIMEOUT(arrived().contains(QStringLiteral("2 raised")), kEventTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(arrived().count(QStringLiteral("1 raised")) >= 2, kEventTimeoutMs);
    QVERIFY(!arrived().contains(QStringLiteral("1 cleared")));
    for (const DeliveryProblem &p : problems.list())
        QVERIFY(!p.gaveUp);
    // Chamber 1's two; chamber 2's leaves the queue a moment after the listener has it.
    QTRY_COMPARE_WITH_TIMEOUT(delivery.pending(), std::size_t(2), kEventTimeoutMs);
}

void tst_AlarmDelivery::finishTriesEachOnceThenDrops_data() {
    QTest::addColumn<int>("laterStatus"); // the webhook's answer to chamber 1 after its 500
    QTest::addColumn<QStringList>("dropped");
    QTest::newRow("the last try succeeds") << 200 << QStringList{"1 command", "2 command"};
    QTest::newRow("the last try fails too")
        << 500 << QStringList{"1 command", "1 webhook", "2 command"};
}

void tst_AlarmDelivery::finishTriesEachOnceThenDrops() {
    // The webhook's first answer sends chamber 1's notification to a retry a minute away; the
    // hook hangs on chamber 1's, and chamber 2's waits behind it. At the stop the webhook's
    // retry goes at once; the hook is killed at the bound, and both of its are dropped.
    QFETCH(int, laterStatus);
    QFETCH(QStringList, dropped);
    std::atomic<int> toChamber1{0};
    HttpListener listener(HttpListener::ByBody{[&](const QByteArray &body) {
        if (QJsonDocument::fromJson(body).object().value("chamber").toInt() != 1)
            return 200;
        return toChamber1++ ? laterStatus : 500;
    }});
    const QString started = dir_.filePath(QStringLiteral("finish.pid"));
    QFile::remove(started);
    QFile::remove(started + QStringLiteral(".late"));
    AlarmDeliverySettings s = Quick();
    s.webhookUrl = listener.url();
    s.firstRetry = 60s;
    s.longestRetry = 60s;
    s.giveUpAfter = 600s;
    s.finishWithin = 2s;
    s.commandTimeout = 120s;
    s.command = {WriteScript(dir_, QStringLiteral("finish.sh"),
                             QByteArray("[ \"$KALVORA_ALARM_CHAMBER\" = 1 ] || exit 0\n") +
                                 kHookThatOutlastsAStop),
                 started};
    Problems problems;
    AlarmDelivery delivery(s, problems.handler());
    delivery.post(Notification(1));
    QTRY_COMPARE_WITH_TIMEOUT(problems.list().size(), 1, kEventTimeoutMs); // the 500
    QTRY_VERIFY_WITH_TIMEOUT(!ReadAll(started).isEmpty(), kEventTimeoutMs);
    delivery.post(Notification(2));
    QTRY_COMPARE_WITH_TIMEOUT(listener.bodies().size(), 2, kEventTimeoutMs); // chamber 2's
    // Webhook 1 waits for its retry, hook 1 runs and hook 2 waits behind it. Chamber 2's webhook
    // leaves the queue once its answer is read, a moment after the listener has the body.
    QTRY_COMPARE_WITH_TIMEOUT(delivery.pending(), std::size_t(3), kEventTimeoutMs);

    delivery.finish();
    QCOMPARE(listener.bodies().size(), 3);       // chamber 1's again, at once
    QTRY_VERIFY(KilledBeforeItsMinute(started)); // killed, not waited for
    QStringList droppedNow;
    for (const DeliveryProblem &p : problems.list())
        if (p.what == DeliveryProblem::What::Dropped) {
            QCOMPARE(p.reason, QStringLiteral("stopped"));
            droppedNow << QStringLiteral("%1 %2")
                              .arg(p.notification.chamber)
                              .arg(AlarmChannelName(p.channel));
        }
    droppedNow.sort();
    QCOMPARE(droppedNow, dropped);
    QCOMPARE(delivery.pending(), std::size_t(0));
    delivery.post(Notification(3)); // after the stop: reported, not queued
    QCOMPARE(problems.list().back().reason, QStringLiteral("stopped"));
    QCOMPARE(delivery.pending(), std::size_t(0));
}

void tst_AlarmDelivery::hookOutcomeUnknownIsNoSuccess() {
    // With SIGCHLD ignored the kernel reaps the hook, and its exit status is lost with it.
    AlarmDeliverySettings s = Quick();
    s.command = {WriteScript(dir_, QStringLiteral("ok.sh"), "exit 0\n")};
    std::signal(SIGCHLD, SIG_IGN);
    const QString reason = SendAlarmOnce(AlarmChannel::Command, Notification(), s);
    std::signal(SIGCHLD, SIG_DFL);
    QVERIFY2(reason.startsWith(QStringLiteral("outcome unknown: ")), qPrintable(reason));
}

void tst_AlarmDelivery::stopsQuickly_data() {
    QTest::addColumn<int>("channel");
    QTest::newRow("webhook that never answers") << int(AlarmChannel::Webhook);
    QTest::newRow("mail server that never speaks") << int(AlarmChannel::Mail);
    QTest::newRow("hook that never ends") << int(AlarmChannel::Command);
}

void tst_AlarmDelivery::stopsQuickly() {
    QFETCH(int, channel);
    HttpListener http(QList<int>{0}); // hangs
    SmtpListener smtp(SmtpListener::Mode::Mute);
    const QString started = dir_.filePath(QStringLiteral("hang.pid"));
    QFile::remove(started);
    QFile::remove(started + QStringLiteral(".late"));
    AlarmDeliverySettings s = Quick();
    s.requestTimeout = 120s;
    s.commandTimeout = 120s;
    switch (AlarmChannel(channel)) {
    case AlarmChannel::Webhook:
        s.webhookUrl = http.url();
        break;
    case AlarmChannel::Mail:
        s.mailTo = {QStringLiteral("duty@example.org")};
        s.smtpUrl = smtp.url();
        break;
    case AlarmChannel::Command:
        s.command = {WriteScript(dir_, QStringLiteral("hang.sh"), kHookThatOutlastsAStop), started};
        break;
    }
    auto delivery = std::make_unique<AlarmDelivery>(s, nullptr);
    delivery->post(Notification());
    // Stop only once the attempt is under way.
    QTRY_VERIFY_WITH_TIMEOUT(
        http.bodies().size() + smtp.connections() + !ReadAll(started).isEmpty() == 1,
        kEventTimeoutMs);
    // Each peer holds the attempt for a minute, within the 120 s the delivery would grant it: a
    // stop that waited would find the peer done; one that cuts the attempt leaves it holding.
    delivery.reset();
    QCOMPARE(http.heldToTheEnd() + smtp.heldToTheEnd(), 0);
    if (AlarmChannel(channel) == AlarmChannel::Command) {
        QTRY_VERIFY(KilledBeforeItsMinute(started));
    }
}

QTEST_GUILESS_MAIN(tst_AlarmDelivery)
#include "tst_AlarmDelivery.moc"

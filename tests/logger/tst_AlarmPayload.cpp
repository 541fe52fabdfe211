// A notification as its channels, the journal and /metrics take it.
#include "AlarmListeners.h"
#include "logger/metrics/AlarmMetrics.h"
#include "logger/alarms/AlarmPayload.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QDateTime kTime(QDate(2026, 12, 10), QTime(3, 4, 5), Qt::OffsetFromUTC, 3 * 3600);

AlarmNotification HighRaised() {
    AlarmNotification n;
    n.chamber = 3;
    n.kind = AlarmKind::High;
    n.state = AlarmState::Raised;
    n.time = kTime;
    n.value = 61.2;
    n.limit = 60;
    n.temperature = 61.2;
    n.messageEn = QStringLiteral("Chamber 3: temperature 61.2 °C above the limit 60 °C");
    n.messageRu = QStringLiteral("Камера 3: температура 61,2 °C выше предела 60 °C");
    return n;
}

AlarmNotification ProgramNotice() {
    AlarmNotification n;
    n.chamber = 0;
    n.kind = AlarmKind::Program;
    n.state = AlarmState::Notice;
    n.time = kTime;
    n.value = 0;
    n.program = 0u;
    n.previousProgram = 2u;
    n.cycle = 0u;
    n.cycles = 0u;
    n.messageEn = QStringLiteral("Chamber 0: program 2 changed to 0 (run ended)");
    n.messageRu = QStringLiteral("Камера 0: программа 2 сменилась на 0 (выполнение закончено)");
    return n;
}

} // namespace

class tst_AlarmPayload : public QObject {
    Q_OBJECT
private slots:
    void json();
    void environment();
    void mail();
    void journalEvents();
    void metricsText();
};

void tst_AlarmPayload::json() {
    const QJsonObject o =
        QJsonDocument::fromJson(AlarmJson(HighRaised(), QStringLiteral("lab-pc"))).object();
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-10T03:04:05+03:00"));
    QCOMPARE(o.value("chamber").toInteger(), 3);
    QCOMPARE(o.value("kind").toString(), QStringLiteral("high"));
    QCOMPARE(o.value("state").toString(), QStringLiteral("raised"));
    QCOMPARE(o.value("repeated").toBool(true), false);
    QCOMPARE(o.value("value").toDouble(), 61.2);
    QCOMPARE(o.value("limit").toDouble(), 60.0);
    QVERIFY(o.value("set_temperature").isNull());
    QVERIFY(o.value("program").isNull());
    QCOMPARE(o.value("message_ru").toString(), HighRaised().messageRu);
    QCOMPARE(o.value("host").toString(), QStringLiteral("lab-pc"));

    const QJsonObject test =
        QJsonDocument::fromJson(AlarmJson(AlarmTestNotification(kTime, QStringLiteral("lab-pc")),
                                          QStringLiteral("lab-pc")))
            .object();
    QVERIFY(test.value("chamber").isNull()); // chamber 0 is a real address: a test names none
    QCOMPARE(test.value("kind").toString(), QStringLiteral("test"));
    QCOMPARE(test.value("state").toString(), QStringLiteral("notice"));

    const QJsonObject notice = QJsonDocument::fromJson(AlarmJson(ProgramNotice(), {})).object();
    QCOMPARE(notice.value("chamber").toInteger(-1), 0);
    QCOMPARE(notice.value("previous_program").toInteger(), 2);
    QCOMPARE(notice.value("program").toInteger(-1), 0);
}

void tst_AlarmPayload::environment() {
    AlarmNotification n = HighRaised();
    n.state = AlarmState::Cleared;
    n.value = 59.4;
    const QStringList env = AlarmEnvironment(n, QStringLiteral("lab-pc"));
    for (const char *line :
         {"KALVORA_ALARM_CHAMBER=3", "KALVORA_ALARM_KIND=high", "KALVORA_ALARM_STATE=cleared",
          "KALVORA_ALARM_VALUE=59.4", "KALVORA_ALARM_LIMIT=60",
          "KALVORA_ALARM_TIME=2026-12-10T03:04:05+03:00", "KALVORA_ALARM_SET_TEMPERATURE=",
          "KALVORA_ALARM_HOST=lab-pc", "KALVORA_ALARM_REPEATED=0"})
        QVERIFY2(env.contains(QString::fromUtf8(line)), line);
    QVERIFY(env.contains(QStringLiteral("KALVORA_ALARM_MESSAGE_RU=") + n.messageRu));
    for (const QString &line : env)
        QVERIFY2(
            QRegularExpression(QStringLiteral("^KALVORA_ALARM_[A-Z_]+=")).match(line).hasMatch(),
            qPrintable(line));
}

void tst_AlarmPayload::mail() {
    AlarmNotification n = HighRaised();
    // Long enough to need several encoded words, with two-byte letters at every split.
    n.messageRu = QString(40, QChar(0x0416)) + QStringLiteral(" конец");
    const MailEnvelope envelope{QStringLiteral("kalvora@lab-pc"),
                                {QStringLiteral("a@example.org"), QStringLiteral("b@example.org")},
                                QStringLiteral("lab-pc"),
                                kTime,
                                QStringLiteral("1@lab-pc")};
    const QByteArray mail = AlarmMail(n, envelope);
    QVERIFY2(mail.startsWith("Date: 10 Dec 2026 03:04:05 +0300\r\n"), mail.left(40).constData());
    QVERIFY(mail.contains("\r\nTo: a@example.org, b@example.org\r\n"));
    QVERIFY(mail.contains("\r\nMessage-ID: <1@lab-pc>\r\n"));
    QVERIFY(mail.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
    QCOMPARE(DecodedMailHeader(mail, "Subject"), QStringLiteral("Kalvora: ") + n.messageRu);
    for (const QByteArray &line : mail.split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    const qsizetype bodyStart = mail.indexOf("\r\n\r\n") + 4;
    const QString body = QString::fromUtf8(QByteArray::fromBase64(mail.mid(bodyStart)));
    QVERIFY(
        body.startsWith(n.messageRu + QLatin1Char('\n') + n.messageEn + QStringLiteral("\n\n")));
    QVERIFY(body.contains(QStringLiteral("\nlimit: 60\n")));
    QVERIFY(body.contains(QStringLiteral("\nhost: lab-pc\n")));
}

void tst_AlarmPayload::journalEvents() {
    const auto names = [](const JournalEvent &e) {
        QStringList list{e.event};
        for (const auto &[name, value] : e.members)
            list << name;
        return list;
    };
    AlarmNotification raised = HighRaised();
    raised.repeated = true;
    QCOMPARE(names(AlarmJournalEvent(raised)),
             (QStringList{"alarm_raised", "chamber", "kind", "value", "limit", "message",
                          "message_ru", "repeated"}));
    AlarmNotification cleared = HighRaised();
    cleared.state = AlarmState::Cleared;
    cleared.kind = AlarmKind::Sensor;
    cleared.limit.reset();
    const JournalEvent c = AlarmJournalEvent(cleared);
    QCOMPARE(c.event, QStringLiteral("alarm_cleared"));
    QCOMPARE(c.members[2].second.toDouble(), 61.2);
    QVERIFY(c.members[3].second.isNull()); // a limit it does not have is null
    QCOMPARE(names(AlarmJournalEvent(ProgramNotice())),
             (QStringList{"notice", "chamber", "kind", "program", "previous_program", "cycle",
                          "cycles", "message", "message_ru"}));
}

void tst_AlarmPayload::metricsText() {
    const QString text =
        AlarmMetricsText({{{1, AlarmKind::High, false}, {2, AlarmKind::Silent, true}},
                          {{QStringLiteral("webhook"), 0}, {QStringLiteral("mail"), 3}}});
    QCOMPARE(text,
             QStringLiteral(
                 "# HELP kalvora_alarm_active Whether an alarm of this kind is raised at the "
                 "chamber (1) "
                 "or not (0).\n"
                 "# TYPE kalvora_alarm_active gauge\n"
                 "kalvora_alarm_active{chamber=\"1\",kind=\"high\"} 0\n"
                 "kalvora_alarm_active{chamber=\"2\",kind=\"silent\"} 1\n"
                 "# HELP kalvora_alarm_delivery_failures_total Failed attempts to deliver an alarm "
                 "notification, by channel.\n"
                 "# TYPE kalvora_alarm_delivery_failures_total counter\n"
                 "kalvora_alarm_delivery_failures_total{channel=\"webhook\"} 0\n"
                 "kalvora_alarm_delivery_failures_total{channel=\"mail\"} 3\n"));
}

QTEST_APPLESS_MAIN(tst_AlarmPayload)
#include "tst_AlarmPayload.moc"

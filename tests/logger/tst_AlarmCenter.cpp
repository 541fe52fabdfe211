// The logger's alarms in one place: a reading over a limit becomes a journal line, a warning, a
// hook run and a metric; a failed delivery a journal line, a warning and a counted failure.
#include "logger/alarms/AlarmCenter.h"
#include "TimingSlack.h"

#include <QFile>
#include <QJsonValue>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

using namespace std::chrono_literals;

namespace {

class Sinks {
public:
    AlarmCenter::JournalSink journal() {
        return [this](const JournalEvent &e) {
            std::lock_guard lock(mutex_);
            QStringList line{e.event};
            for (const auto &[name, value] : e.members)
                line << name + QLatin1Char('=') + value.toVariant().toString();
            journal_ << line.join(QLatin1Char(' '));
        };
    }
    AlarmCenter::WarningSink warn() {
        return [this](const QString &text) {
            std::lock_guard lock(mutex_);
            warnings_ << text;
        };
    }
    QStringList journalLines() const {
        std::lock_guard lock(mutex_);
        return journal_;
    }
    QStringList warnings() const {
        std::lock_guard lock(mutex_);
        return warnings_;
    }

private:
    mutable std::mutex mutex_;
    QStringList journal_;
    QStringList warnings_;
};

AlarmRule High60() {
    AlarmRule rule;
    rule.chambers = {1};
    rule.kind = AlarmKind::High;
    rule.limit = 60;
    rule.hysteresis = 0.5;
    return rule;
}

AlarmObservation Reading(double temperature) {
    ReadingValues v;
    v.currentTemperature = temperature;
    return AlarmObservation::Reading(1, AlarmClock::now(), QDateTime::currentDateTime(), v);
}

QString Script(const QTemporaryDir &dir, const QByteArray &body) {
    const QString path = dir.filePath(QStringLiteral("hook.sh"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

class tst_AlarmCenter : public QObject {
    Q_OBJECT
private slots:
    void notificationReachesEverySink();
    void failedDeliveryIsReported();
};

void tst_AlarmCenter::notificationReachesEverySink() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("state"));
    AlarmDeliverySettings delivery;
    delivery.command = {
        Script(dir, "echo \"$KALVORA_ALARM_STATE $KALVORA_ALARM_VALUE\" >> \"$1\"\n"), out};
    Sinks sinks;
    AlarmCenter center({High60()}, delivery, {1, 2}, sinks.journal(), sinks.warn());
    QVERIFY(AlarmMetricsText(center.metrics()).contains(
        QStringLiteral("kalvora_alarm_active{chamber=\"1\",kind=\"high\"} 0\n")));
    center.observe(Reading(61));
    QCOMPARE(
        sinks.journalLines(),
        QStringList{QStringLiteral("alarm_raised chamber=1 kind=high value=61 limit=60 "
                                   "message=Chamber 1: temperature 61 °C above the limit 60 °C "
                                   "message_ru=Камера 1: температура 61 °C выше предела 60 °C")});
    QCOMPARE(sinks.warnings(),
             QStringList{QStringLiteral(
                 "alarm raised: Chamber 1: temperature 61 °C above the limit 60 °C")});
    const QString metrics = AlarmMetricsText(center.metrics());
    QVERIFY(
        metrics.contains(QStringLiteral("kalvora_alarm_active{chamber=\"1\",kind=\"high\"} 1\n")));
    QVERIFY(metrics.contains(
        QStringLiteral("kalvora_alarm_delivery_failures_total{channel=\"command\"} 0\n")));
    center.observe(Reading(59));
    QTRY_COMPARE_WITH_TIMEOUT(
        QFile(out).size(), qint64(QByteArray("raised 61\ncleared 59\n").size()), kEventTimeoutMs);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("raised 61\ncleared 59\n"));
    QCOMPARE(sinks.journalLines().size(), 2);
}

void tst_AlarmCenter::failedDeliveryIsReported() {
    QTemporaryDir dir;
    AlarmDeliverySettings delivery;
    delivery.command = {Script(dir, "exit 4\n")};
    Sinks sinks;
    AlarmCenter center({High60()}, delivery, {1}, sinks.journal(), sinks.warn());
    center.observe(Reading(70));
    QTRY_COMPARE_WITH_TIMEOUT(sinks.journalLines().size(), 2, kEventTimeoutMs);
    QCOMPARE(sinks.journalLines()[1], QStringLiteral("delivery_failed channel=command reason=exit "
                                                     "status 4 chamber=1 kind=high gave_up=true"));
    QCOMPARE(sinks.warnings()[1],
             QStringLiteral("alarm command for chamber 1 (high) failed: exit status 4; given up"));
    QVERIFY(AlarmMetricsText(center.metrics()).contains(
        QStringLiteral("kalvora_alarm_delivery_failures_total{channel=\"command\"} 1\n")));
}

QTEST_GUILESS_MAIN(tst_AlarmCenter)
#include "tst_AlarmCenter.moc"

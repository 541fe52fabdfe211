// `kalvora-cli log` with alarms, as a lab runs it: the simulated chambers change, and the
// notifications arrive through a hook, a webhook and mail at listeners on 127.0.0.1; channels that
// fail or hang never hold up the readings, and the events journal tells what happened.
#include "AlarmListeners.h"
#include "FileBytes.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <thread>

using chambersim::ChamberFaults;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPeriod = 1s;
constexpr auto kDelay = 2s;
constexpr auto kSilentAfter = 3s;
// Long enough for a run's notifications, and still well within the test's time-out.
constexpr auto kArrivalTimeout = 30s * kTimingSlack;

void SetChamber(SimulatedLine &line, int address) {
    // Program 2 at step 3 of 12, cycle 2 of 5; 23.5 °C, set 25 °C.
    const std::vector<std::pair<int, std::uint16_t>> registers{
        {0, 235}, {1, 2}, {2, 250}, {4, 0},   {5, 30}, {6, 1},  {7, 2},
        {8, 9},   {9, 0}, {10, 3},  {11, 12}, {12, 2}, {13, 5}, {14, 605}};
    for (const auto &[reg, value] : registers)
        line.setRawInput(address, reg, value);
}

std::uint16_t Tenths(double celsius) {
    const int tenths = static_cast<int>(std::lround(celsius * 10));
    return static_cast<std::uint16_t>(tenths < 0 ? 65536 + tenths : tenths);
}

QString WriteScript(const QTemporaryDir &dir, const QString &name, const QByteArray &text) {
    const QString path = dir.filePath(name);
    WriteFile(path, text);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QList<QJsonObject> JournalEvents(const QString &path) {
    QList<QJsonObject> events;
    for (const QByteArray &line : ReadAll(path).split('\n'))
        if (!line.isEmpty())
            events << QJsonDocument::fromJson(line).object();
    return events;
}

QList<QJsonObject> Named(const QList<QJsonObject> &events, const QString &name) {
    QList<QJsonObject> found;
    for (const QJsonObject &e : events)
        if (e.value(QStringLiteral("event")).toString() == name)
            found << e;
    return found;
}

// Requests the simulator took for a chamber between two moments.
long RequestsTo(const std::vector<ReceivedFrame> &frames, int address, Clock::time_point from,
                Clock::time_point until) {
    return std::count_if(frames.begin(), frames.end(), [&](const ReceivedFrame &f) {
        return f.isRequest && !f.bytes.empty() && f.bytes[0] == address && f.at >= from &&
               f.at <= until;
    });
}

bool WaitFor(const std::function<bool()> &done, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// One notification as one channel delivered it.
struct Delivered {
    int chamber = 0;
    QString kind;
    QString state;
    Clock::time_point at;          // when it arrived at the listener
    QMap<QString, QString> fields; // lower-case names: value, limit, message_en, host, ...
    QJsonObject json;              // the webhook's object as sent
    QString key() const { return QStringLiteral("%1 %2 %3").arg(chamber).arg(kind, state); }
};

// The hook appends a block per run: ARRIVED=<ns since the epoch>, then its KALVORA_ALARM_*
// variables, then an empty line. A block still being written is left for later.
QList<Delivered> HookDeliveries(const QString &path, Clock::time_point steadyZero,
                                std::chrono::system_clock::time_point wallZero) {
    QStringList blocks = QString::fromUtf8(ReadAll(path)).split(QStringLiteral("\n\n"));
    blocks.removeLast();
    QList<Delivered> out;
    for (const QString &block : blocks) {
        Delivered d;
        for (const QString &line : block.split(QLatin1Char('\n'))) {
            const QString name = line.section(QLatin1Char('='), 0, 0);
            const QString value = line.section(QLatin1Char('='), 1);
            if (name == QLatin1String("ARRIVED"))
                d.at = steadyZero + (std::chrono::system_clock::time_point(
                                         std::chrono::nanoseconds(value.toLongLong())) -
                                     wallZero);
            else if (name.startsWith(QLatin1String("KALVORA_ALARM_")))
                d.fields.insert(name.mid(14).toLower(), value);
        }
        d.chamber = d.fields.value(QStringLiteral("chamber")).toInt();
        d.kind = d.fields.value(QStringLiteral("kind"));
        d.state = d.fields.value(QStringLiteral("state"));
        out << d;
    }
    return out;
}

QString JsonText(const QJsonValue &v) {
    if (v.isDouble())
        return QString::number(v.toDouble());
    if (v.isBool())
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return v.toString();
}

QList<Delivered> WebhookDeliveries(const HttpListener &http) {
    const QList<QByteArray> bodies = http.bodies();
    const auto times = http.times();
    QList<Delivered> out;
    for (qsizetype i = 0; i < bodies.size(); ++i) {
        Delivered d;
        d.json = QJsonDocument::fromJson(bodies[i]).object();
        d.at = times.value(i);
        for (auto it = d.json.begin(); it != d.json.end(); ++it)
            d.fields.insert(it.key(), JsonText(it.value()));
        d.chamber = d.json.value(QStringLiteral("chamber")).toInt();
        d.kind = d.json.value(QStringLiteral("kind")).toString();
        d.state = d.json.value(QStringLiteral("state")).toString();
        out << d;
    }
    return out;
}

// The body's first two lines are the messages; the figures follow as "name: value" lines.
QList<Delivered> MailDeliveries(const SmtpListener &smtp) {
    QList<Delivered> out;
    for (const ReceivedMail &mail : smtp.mails()) {
        Delivered d;
        d.at = mail.at;
        const QByteArray encoded = mail.message.mid(mail.message.indexOf("\r\n\r\n") + 4);
        const QStringList lines =
            QString::fromUtf8(QByteArray::fromBase64(QByteArray(encoded).replace("\r\n", "")))
                .split(QLatin1Char('\n'));
        d.fields.insert(QStringLiteral("subject"), DecodedMailHeader(mail.message, "Subject"));
        d.fields.insert(QStringLiteral("message_ru"), lines.value(0));
        d.fields.insert(QStringLiteral("message_en"), lines.value(1));
        d.fields.insert(QStringLiteral("to"), QString::fromUtf8(mail.to.join(',')));
        for (const QString &line : lines.mid(2))
            if (line.contains(QStringLiteral(": ")))
                d.fields.insert(line.section(QStringLiteral(": "), 0, 0),
                                line.section(QStringLiteral(": "), 1));
        d.chamber = d.fields.value(QStringLiteral("chamber")).toInt();
        d.kind = d.fields.value(QStringLiteral("kind"));
        d.state = d.fields.value(QStringLiteral("state"));
        out << d;
    }
    return out;
}

QStringList Keys(const QList<Delivered> &list) {
    QStringList keys;
    for (const Delivered &d : list)
        keys << d.key();
    return keys;
}

bool HasAll(const QList<Delivered> &list, const QStringList &keys) {
    const QStringList have = Keys(list);
    return std::all_of(keys.begin(), keys.end(),
                       [&](const QString &k) { return have.contains(k); });
}

// A logger run, stopped by SIGTERM.
class LoggerRun {
public:
    explicit LoggerRun(const QStringList &arguments) {
        cli_.start(QStringLiteral(CLI_BINARY), QStringList{QStringLiteral("log")} + arguments);
    }
    ~LoggerRun() {
        if (cli_.state() != QProcess::NotRunning) {
            cli_.kill();
            cli_.waitForFinished();
        }
    }
    bool started() { return cli_.waitForStarted(); }
    // Exit status after SIGTERM, -1 when it did not end normally and soon.
    int stop() {
        ::kill(static_cast<pid_t>(cli_.processId()), SIGTERM);
        if (!cli_.waitForFinished(20000) || cli_.exitStatus() != QProcess::NormalExit)
            return -1;
        err_ = QString::fromUtf8(cli_.readAllStandardError());
        return cli_.exitCode();
    }
    const QString &err() const { return err_; }

private:
    QProcess cli_;
    QString err_;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

QString Spread(std::vector<double> ms) {
    if (ms.empty())
        return QStringLiteral("none");
    std::sort(ms.begin(), ms.end());
    const double median =
        ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    return QStringLiteral("min %1 ms, median %2 ms, max %3 ms (%4 arrivals)")
        .arg(ms.front(), 0, 'f', 0)
        .arg(median, 0, 'f', 0)
        .arg(ms.back(), 0, 'f', 0)
        .arg(ms.size());
}

// How one kind is driven at its own chamber, and what its notifications say.
struct Condition {
    int chamber;
    const char *kind;
    QString rule;
    void (*start)(SimulatedLine &, int);
    void (*end)(SimulatedLine &, int); // null: a notice, nothing to clear
    QString raisedEn;                  // regular expressions of the English messages
    QString clearedEn;
    QJsonValue raisedValue, raisedLimit; // Undefined: not a fixed figure
    QJsonValue clearedValue, clearedLimit;
};

const QList<Condition> &Conditions() {
    static const QList<Condition> conditions{
        {1, "high", QStringLiteral("1 high 60 delay=2"),
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, Tenths(61.2)); },
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, Tenths(23.5)); },
         QStringLiteral("Chamber 1: temperature 61\\.2 °C above the limit 60 °C"),
         QStringLiteral("Chamber 1: temperature 23\\.5 °C back below the limit 60 °C"), 61.2, 60,
         23.5, 60},
        {2, "low", QStringLiteral("2 low -20 delay=2"),
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, Tenths(-20.5)); },
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, Tenths(23.5)); },
         QStringLiteral("Chamber 2: temperature -20\\.5 °C below the limit -20 °C"),
         QStringLiteral("Chamber 2: temperature 23\\.5 °C back above the limit -20 °C"), -20.5, -20,
         23.5, -20},
        // The set point moves away from the temperature, and back.
        {3, "deviation", QStringLiteral("3 deviation 5 delay=2"),
         [](SimulatedLine &l, int a) { l.setRawInput(a, 2, Tenths(30)); },
         [](SimulatedLine &l, int a) { l.setRawInput(a, 2, Tenths(25)); },
         QStringLiteral("Chamber 3: temperature 23\\.5 °C is -6\\.5 °C off the set 30 °C \\(band "
                        "5 °C\\)"),
         QStringLiteral("Chamber 3: temperature 23\\.5 °C back within 5 °C of the set 25 °C"), -6.5,
         5, -1.5, 5},
        {4, "silent", QStringLiteral("4 silent 3"),
         [](SimulatedLine &l, int a) { l.setFaults(a, ChamberFaults{.silentFirst = 1 << 30}); },
         [](SimulatedLine &l, int a) { l.setFaults(a, ChamberFaults{}); },
         QStringLiteral("Chamber 4: no good reading for \\d+ s \\(no answer\\)"),
         QStringLiteral("Chamber 4: answers again after \\d+ s without a reading"),
         QJsonValue::Undefined, 3, QJsonValue::Undefined, 3},
        // 500.0 °C: a broken sensor.
        {5, "sensor", QStringLiteral("5 sensor delay=2"),
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, 5000); },
         [](SimulatedLine &l, int a) { l.setRawInput(a, 0, Tenths(23.5)); },
         QStringLiteral("Chamber 5: implausible temperature \\(sensor fault\\?\\)"),
         QStringLiteral("Chamber 5: temperature plausible again: 23\\.5 °C"), QJsonValue::Null,
         QJsonValue::Null, 23.5, QJsonValue::Null},
        {6,
         "program",
         QStringLiteral("6 program"),
         [](SimulatedLine &l, int a) { l.setRawInput(a, 1, 3); },
         nullptr,
         QStringLiteral("Chamber 6: program 2 changed to 3"),
         QString(),
         3,
         QJsonValue::Null,
         {},
         {}},
    };
    return conditions;
}

bool IsKind(const Condition &c, const char *kind) { return qstrcmp(c.kind, kind) == 0; }

QString RaisedState(const Condition &c) {
    return c.end ? QStringLiteral("raised") : QStringLiteral("notice");
}

QString KeyOf(const Condition &c, const QString &state) {
    return QStringLiteral("%1 %2 %3").arg(c.chamber).arg(QLatin1String(c.kind), state);
}

bool SameFigure(const QJsonValue &expected, const QJsonValue &actual) {
    if (expected.isUndefined())
        return true;
    if (expected.isNull())
        return actual.isNull();
    return actual.isDouble() && qFuzzyCompare(actual.toDouble(), expected.toDouble());
}

} // namespace

class tst_CliAlarms : public QObject {
    Q_OBJECT
private slots:
    void everyKindThroughEveryChannel();
    void failingChannelsNeverHoldUpTheReadings();
    void stopJournalsWhatItCouldNotDeliver();
};

// Each kind at a chamber of its own, all driven at once and then cleared: each raise, clear and
// notice arrives once through each channel with the journal's figures and messages, no sooner
// than its delay allows.
void tst_CliAlarms::everyKindThroughEveryChannel() {
    const QList<Condition> &conditions = Conditions();
    SimulatedLine line({1, 2, 3, 4, 5, 6});
    for (int address = 1; address <= 6; ++address)
        SetChamber(line, address);
    SmtpListener smtp;
    HttpListener http({200});
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString hookFile = dir.filePath(QStringLiteral("hook.txt"));
    // One write per run, so that a block is whole once its empty line is there.
    const QString hook =
        WriteScript(dir, QStringLiteral("hook.sh"),
                    "#!/bin/sh\n"
                    "block=\"ARRIVED=$(date +%s%N)\n$(env | grep '^KALVORA_ALARM_')\"\n"
                    "printf '%s\\n\\n' \"$block\" >> \"$1\"\n");
    QStringList arguments{QStringLiteral("1-6"),
                          QStringLiteral("--period"),
                          QString::number(kPeriod.count()),
                          QStringLiteral("--dir"),
                          dir.path(),
                          QStringLiteral("--port"),
                          line.slavePath(),
                          QStringLiteral("--on-alarm"),
                          hook + QLatin1Char(' ') + hookFile,
                          QStringLiteral("--alarm-webhook"),
                          http.url(),
                          QStringLiteral("--alarm-mail"),
                          QStringLiteral("duty@example.org"),
                          QStringLiteral("--smtp"),
                          smtp.url()};
    QStringList raisedKeys;
    QStringList clearedKeys;
    for (const Condition &c : conditions) {
        arguments << QStringLiteral("--alarm") << c.rule;
        raisedKeys << KeyOf(c, RaisedState(c));
        if (c.end)
            clearedKeys << KeyOf(c, QStringLiteral("cleared"));
    }
    const auto steadyZero = Clock::now();
    const auto wallZero = std::chrono::system_clock::now();
    const auto hookDeliveries = [&] { return HookDeliveries(hookFile, steadyZero, wallZero); };

    LoggerRun logger(arguments);
    QVERIFY(logger.started());
    // Two rounds of all six, so that the changes fall between rounds.
    QVERIFY(WaitFor(
        [&] {
            const auto frames = line.received();
            for (const Condition &c : conditions)
                if (RequestsTo(frames, c.chamber, steadyZero, Clock::now()) < 2)
                    return false;
            return true;
        },
        20s));
    const auto raisedAt = Clock::now();
    for (const Condition &c : conditions)
        c.start(line, c.chamber);
    const auto arrived = [&](const QStringList &keys) {
        return HasAll(hookDeliveries(), keys) && HasAll(WebhookDeliveries(http), keys) &&
               HasAll(MailDeliveries(smtp), keys);
    };
    QVERIFY2(WaitFor([&] { return arrived(raisedKeys); }, kArrivalTimeout),
             qPrintable(QStringLiteral("hook: %1\nwebhook: %2\nmail: %3")
                            .arg(Keys(hookDeliveries()).join(QStringLiteral(", ")),
                                 Keys(WebhookDeliveries(http)).join(QStringLiteral(", ")),
                                 Keys(MailDeliveries(smtp)).join(QStringLiteral(", ")))));
    const auto clearedAt = Clock::now();
    for (const Condition &c : conditions)
        if (c.end)
            c.end(line, c.chamber);
    QVERIFY2(WaitFor([&] { return arrived(clearedKeys); }, kArrivalTimeout),
             qPrintable(QStringLiteral("hook: %1\nwebhook: %2\nmail: %3")
                            .arg(Keys(hookDeliveries()).join(QStringLiteral(", ")),
                                 Keys(WebhookDeliveries(http)).join(QStringLiteral(", ")),
                                 Keys(MailDeliveries(smtp)).join(QStringLiteral(", ")))));
    QCOMPARE(logger.stop(), 0);

    const QList<QJsonObject> events = JournalEvents(dir.filePath(QStringLiteral("events.jsonl")));
    QCOMPARE(Named(events, QStringLiteral("delivery_failed")).size(), 0);
    const QString host = QSysInfo::machineHostName();
    const QMap<QString, QList<Delivered>> channels{
        {QStringLiteral("command"), hookDeliveries()},
        {QStringLiteral("webhook"), WebhookDeliveries(http)},
        {QStringLiteral("mail"), MailDeliveries(smtp)}};
    for (const auto &[channel, delivered] : channels.asKeyValueRange()) {
        // Each once, and nothing else.
        QStringList keys = Keys(delivered);
        keys.sort();
        QStringList expected = raisedKeys + clearedKeys;
        expected.sort();
        QCOMPARE(keys, expected);
    }
    const std::vector<ReceivedFrame> frames = line.received();
    QStringList seen;
    std::vector<double> delayed, notices, silent, cleared;
    std::vector<double> deliveries; // from the request of the reading that raised it
    for (const Condition &c : conditions) {
        for (const QString &state : {RaisedState(c), QStringLiteral("cleared")}) {
            if (state == QLatin1String("cleared") && !c.end)
                continue;
            const bool raise = state != QLatin1String("cleared");
            const QString what = KeyOf(c, state);
            // The journal's line for it.
            const QString name = state == QLatin1String("notice")
                                     ? QStringLiteral("notice")
                                     : QStringLiteral("alarm_") + state;
            QList<QJsonObject> lines;
            for (const QJsonObject &e : Named(events, name))
                if (e.value(QStringLiteral("chamber")).toInt() == c.chamber &&
                    e.value(QStringLiteral("kind")).toString() == QLatin1String(c.kind))
                    lines << e;
            QVERIFY2(lines.size() == 1, qPrintable(what));
            const QJsonObject journal = lines.first();
            const QString messageEn = journal.value(QStringLiteral("message")).toString();
            const QString messageRu = journal.value(QStringLiteral("message_ru")).toString();
            const QRegularExpression pattern(QLatin1Char('^') + (raise ? c.raisedEn : c.clearedEn) +
                                             QLatin1Char('$'));
            QVERIFY2(pattern.match(messageEn).hasMatch(), qPrintable(messageEn));
            QVERIFY2(messageRu.startsWith(QStringLiteral("Камера %1: ").arg(c.chamber)),
                     qPrintable(messageRu));
            if (state == QLatin1String("notice")) {
                QCOMPARE(journal.value(QStringLiteral("program")).toInt(), 3);
                QCOMPARE(journal.value(QStringLiteral("previous_program")).toInt(), 2);
            } else {
                const QJsonValue value = raise ? c.raisedValue : c.clearedValue;
                const QJsonValue limit = raise ? c.raisedLimit : c.clearedLimit;
                QVERIFY2(SameFigure(value, journal.value(QStringLiteral("value"))),
                         qPrintable(what));
                QVERIFY2(SameFigure(limit, journal.value(QStringLiteral("limit"))),
                         qPrintable(what));
            }
            if (IsKind(c, "silent") && raise)
                QVERIFY(journal.value(QStringLiteral("value")).toDouble() >=
                        double(kSilentAfter.count()));

            QStringList row;
            for (const auto &[channel, delivered] : channels.asKeyValueRange()) {
                const Delivered &d =
                    *std::find_if(delivered.begin(), delivered.end(),
                                  [&](const Delivered &each) { return each.key() == what; });
                const QString where = channel + QLatin1Char(' ') + what;
                QVERIFY2(d.fields.value(QStringLiteral("message_en")) == messageEn,
                         qPrintable(where));
                QVERIFY2(d.fields.value(QStringLiteral("message_ru")) == messageRu,
                         qPrintable(where));
                if (channel == QLatin1String("mail")) {
                    QCOMPARE(d.fields.value(QStringLiteral("subject")),
                             QStringLiteral("Kalvora: ") + messageRu);
                    QCOMPARE(d.fields.value(QStringLiteral("to")),
                             QStringLiteral("<duty@example.org>"));
                } else {
                    // Every member, even those that do not apply, as the hook's variables and
                    // the webhook's members.
                    for (const char *member :
                         {"time", "chamber", "kind", "state", "repeated", "value", "limit",
                          "temperature", "set_temperature", "reason", "program", "previous_program",
                          "cycle", "cycles", "message_ru", "message_en", "host"})
                        QVERIFY2(d.fields.contains(QLatin1String(member)),
                                 qPrintable(where + QLatin1Char(' ') + QLatin1String(member)));
                    QCOMPARE(d.fields.value(QStringLiteral("host")), host);
                    QCOMPARE(d.fields.value(QStringLiteral("repeated")), QStringLiteral("0"));
                }
                static const QRegularExpression isoTime(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
                QVERIFY2(isoTime.match(d.fields.value(QStringLiteral("time"))).hasMatch(),
                         qPrintable(where));
                if (channel == QLatin1String("webhook")) {
                    QCOMPARE(d.json.value(QStringLiteral("chamber")).toInt(), c.chamber);
                    QCOMPARE(d.json.value(QStringLiteral("repeated")), QJsonValue(false));
                    QVERIFY2(SameFigure(journal.value(QStringLiteral("value")),
                                        d.json.value(QStringLiteral("value"))),
                             qPrintable(where));
                    QVERIFY2(SameFigure(journal.value(QStringLiteral("limit")),
                                        d.json.value(QStringLiteral("limit"))),
                             qPrintable(where));
                    if (state == QLatin1String("notice")) {
                        QCOMPARE(d.json.value(QStringLiteral("program")).toInt(), 3);
                        QCOMPARE(d.json.value(QStringLiteral("previous_program")).toInt(), 2);
                    }
                } else if (state != QLatin1String("notice")) {
                    // Hook and mail give the figures as text; an absent one is empty or missing.
                    const QJsonValue value = journal.value(QStringLiteral("value"));
                    const QString text = d.fields.value(QStringLiteral("value"));
                    QVERIFY2(value.isNull() ? text.isEmpty()
                                            : qFuzzyCompare(text.toDouble(), value.toDouble()),
                             qPrintable(where));
                }
                if (IsKind(c, "silent") && raise)
                    QCOMPARE(d.fields.value(QStringLiteral("reason")), QStringLiteral("silence"));

                const Clock::duration took = d.at - (raise ? raisedAt : clearedAt);
                // A raise comes no sooner than its condition has held for the delay: the round
                // that first showed it and as many rounds again as the delay has periods.
                if (raise && c.end && !IsKind(c, "silent"))
                    QVERIFY2(RequestsTo(frames, c.chamber, raisedAt, d.at) >= 1 + kDelay / kPeriod,
                             qPrintable(where));
                (raise ? (IsKind(c, "silent") ? silent
                          : c.end             ? delayed
                                              : notices)
                       : cleared)
                    .push_back(Ms(took));
                row << QStringLiteral("%1 %2 ms").arg(channel).arg(Ms(took), 0, 'f', 0);
                Clock::time_point reading{};
                for (const ReceivedFrame &f : frames)
                    if (f.isRequest && !f.bytes.empty() && f.bytes[0] == c.chamber && f.at <= d.at)
                        reading = std::max(reading, f.at);
                deliveries.push_back(Ms(d.at - reading));
            }
            seen << what + QStringLiteral(": ") + row.join(QStringLiteral(", "));
        }
    }
    // From the change at the simulator to the arrival at the listener, period 1 s.
    for (const QString &each : seen)
        qInfo().noquote() << each;
    qInfo().noquote() << "raises with delay=2:" << Spread(delayed);
    qInfo().noquote() << "silent 3:" << Spread(silent);
    qInfo().noquote() << "program notice:" << Spread(notices);
    qInfo().noquote() << "clears:" << Spread(cleared);
    qInfo().noquote() << "from the reading's request to the arrival:" << Spread(deliveries);
}

// The mail server refuses, the webhook answers 500 and then 200, the hook hangs until it is
// killed: the chamber is read every period all the while, the webhook's notifications arrive in
// the end, and the journal names every failure.
void tst_CliAlarms::failingChannelsNeverHoldUpTheReadings() {
    SimulatedLine line({1});
    SetChamber(line, 1);
    SmtpListener smtp(SmtpListener::Mode::RefuseRecipients);
    HttpListener http({500, 200});
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString hookFile = dir.filePath(QStringLiteral("hook.txt"));
    const QString hook = WriteScript(dir, QStringLiteral("hang.sh"),
                                     "#!/bin/sh\n"
                                     "echo \"$KALVORA_ALARM_STATE\" >> \"$1\"\n"
                                     "exec sleep 600\n");
    constexpr int kHookTimeout = 4; // seconds: beyond 3 periods
    LoggerRun logger({QStringLiteral("1"), QStringLiteral("--period"),
                      QString::number(kPeriod.count()), QStringLiteral("--dir"), dir.path(),
                      QStringLiteral("--port"), line.slavePath(), QStringLiteral("--alarm"),
                      QStringLiteral("1 high 60 delay=1"), QStringLiteral("--on-alarm"),
                      hook + QLatin1Char(' ') + hookFile, QStringLiteral("--on-alarm-timeout"),
                      QString::number(kHookTimeout), QStringLiteral("--alarm-webhook"), http.url(),
                      QStringLiteral("--alarm-mail"), QStringLiteral("duty@example.org"),
                      QStringLiteral("--smtp"), smtp.url()});
    QVERIFY(logger.started());
    QVERIFY(line.waitForReceived(2, 20000ms));
    [[maybe_unused]] const auto faultsFrom = Clock::now();
    line.setRawInput(1, 0, Tenths(61.2));
    QVERIFY(WaitFor([&] { return http.bodies().size() >= 1; }, kArrivalTimeout)); // the 500
    line.setRawInput(1, 0, Tenths(23.5));
    const QString journalPath = dir.filePath(QStringLiteral("events.jsonl"));
    const auto failures = [&](const QString &channel) {
        QList<QJsonObject> found;
        for (const QJsonObject &e :
             Named(JournalEvents(journalPath), QStringLiteral("delivery_failed")))
            if (e.value(QStringLiteral("channel")).toString() == channel)
                found << e;
        return found;
    };
    // The raise again after its retry, then the clear queued behind it; both hooks killed; the
    // mail refused on its first try and on its retry.
    QVERIFY(WaitFor(
        [&] {
            return http.bodies().size() >= 3 && failures(QStringLiteral("command")).size() >= 2 &&
                   failures(QStringLiteral("mail")).size() >= 2;
        },
        kArrivalTimeout));
    [[maybe_unused]] const auto faultsUntil = Clock::now();
    QCOMPARE(logger.stop(), 0);

    const QList<Delivered> webhook = WebhookDeliveries(http);
    QCOMPARE(Keys(webhook),
             (QStringList{QStringLiteral("1 high raised"), QStringLiteral("1 high raised"),
                          QStringLiteral("1 high cleared")}));
    QCOMPARE(QString::fromUtf8(ReadAll(hookFile)), QStringLiteral("raised\ncleared\n"));
    QCOMPARE(smtp.mails().size(), 0);

    const QList<QJsonObject> events = JournalEvents(journalPath);
    QCOMPARE(Named(events, QStringLiteral("alarm_raised")).size(), 1);
    QCOMPARE(Named(events, QStringLiteral("alarm_cleared")).size(), 1);
    const QList<QJsonObject> command = failures(QStringLiteral("command"));
    QCOMPARE(command.size(), 2);
    for (const QJsonObject &e : command) {
        QCOMPARE(e.value(QStringLiteral("reason")).toString(),
                 QStringLiteral("no end after %1 s: killed").arg(kHookTimeout));
        QCOMPARE(e.value(QStringLiteral("gave_up")), QJsonValue(true)); // a hook runs once
        QCOMPARE(e.value(QStringLiteral("chamber")).toInt(), 1);
        QCOMPARE(e.value(QStringLiteral("kind")).toString(), QStringLiteral("high"));
    }
    const QList<QJsonObject> hook500 = failures(QStringLiteral("webhook"));
    QCOMPARE(hook500.size(), 1); // and so no gave_up for it
    QCOMPARE(hook500[0].value(QStringLiteral("reason")).toString(),
             QStringLiteral("HTTP status 500"));
    QCOMPARE(hook500[0].value(QStringLiteral("gave_up")), QJsonValue(false));
    for (const QJsonObject &e : failures(QStringLiteral("mail"))) {
        QVERIFY2(e.value(QStringLiteral("reason")).toString().contains(QStringLiteral("550")),
                 qPrintable(e.value(QStringLiteral("reason")).toString()));
        QCOMPARE(e.value(QStringLiteral("gave_up")), QJsonValue(false)); // retried for 10 min
    }
    // No queue overflowed; the mail still waiting for its retry at the stop is journaled.
    for (const QJsonObject &e : Named(events, QStringLiteral("notification_dropped")))
        QCOMPARE(e.value(QStringLiteral("reason")).toString(), QStringLiteral("stopped"));
    QVERIFY2(logger.err().contains(
                 QStringLiteral("alarm webhook for chamber 1 (high) failed: HTTP status 500; "
                                "retrying\n")),
             qPrintable(logger.err()));
    QVERIFY2(
        logger.err().contains(
            QStringLiteral("alarm command for chamber 1 (high) failed: no end after %1 s: killed; "
                           "given up\n")
                .arg(kHookTimeout)),
        qPrintable(logger.err()));

#ifndef KALVORA_SANITIZED
    // The readings kept their period while the channels failed, as the simulator saw the
    // requests: at least a round a period, and never a pause a hung hook would leave.
    std::vector<Clock::time_point> requests;
    for (const ReceivedFrame &frame : line.received())
        if (frame.isRequest && frame.at >= faultsFrom && frame.at <= faultsUntil)
            requests.push_back(frame.at);
    const auto window = faultsUntil - faultsFrom;
    QVERIFY2(static_cast<long>(requests.size()) >= window / kPeriod - 2,
             qPrintable(QStringLiteral("%1 requests in %2 ms")
                            .arg(requests.size())
                            .arg(Ms(window), 0, 'f', 0)));
    Clock::duration longest{};
    for (std::size_t i = 1; i < requests.size(); ++i)
        longest = std::max(longest, requests[i] - requests[i - 1]);
    qInfo().noquote() << requests.size() << "readings in" << Ms(window) << "ms, the longest pause"
                      << Ms(longest) << "ms";
    for (std::size_t i = 1; i < requests.size(); ++i)
        QVERIFY2(requests[i] - requests[i - 1] <= 3 * kPeriod,
                 qPrintable(QStringLiteral("a pause of %1 ms between readings")
                                .arg(Ms(requests[i] - requests[i - 1]), 0, 'f', 0)));
#endif
}

// A webhook that fails, an alarm waiting for its retry, and SIGTERM: the waiting notification
// gets one more try at once, and what is still undelivered is journaled before "stopped".
void tst_CliAlarms::stopJournalsWhatItCouldNotDeliver() {
    SimulatedLine line({1});
    SetChamber(line, 1);
    HttpListener http({500});
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LoggerRun logger({QStringLiteral("1"), QStringLiteral("--period"),
                      QString::number(kPeriod.count()), QStringLiteral("--dir"), dir.path(),
                      QStringLiteral("--port"), line.slavePath(), QStringLiteral("--alarm"),
                      QStringLiteral("1 high 60 delay=1"), QStringLiteral("--alarm-webhook"),
                      http.url()});
    QVERIFY(logger.started());
    QVERIFY(line.waitForReceived(2, 20000ms));
    line.setRawInput(1, 0, Tenths(61.2));
    if (!WaitFor([&] { return http.bodies().size() >= 1; }, kArrivalTimeout)) {
        logger.stop();
        QFAIL(qPrintable(QStringLiteral("no webhook call; the logger said: ") + logger.err()));
    }
    QCOMPARE(logger.stop(), 0); // long before the retry, 10 s later
    QCOMPARE(http.bodies().size(), 2);

    const QList<QJsonObject> events = JournalEvents(dir.filePath(QStringLiteral("events.jsonl")));
    QStringList names;
    for (const QJsonObject &e : events)
        names << e.value(QStringLiteral("event")).toString();
    // The first attempt's failure, the last try's, the drop, the end.
    QCOMPARE(names.mid(names.size() - 4),
             (QStringList{QStringLiteral("delivery_failed"), QStringLiteral("delivery_failed"),
                          QStringLiteral("notification_dropped"), QStringLiteral("stopped")}));
    const QJsonObject dropped = events[events.size() - 2];
    QCOMPARE(dropped.value(QStringLiteral("reason")).toString(), QStringLiteral("stopped"));
    QCOMPARE(dropped.value(QStringLiteral("channel")).toString(), QStringLiteral("webhook"));
    QCOMPARE(dropped.value(QStringLiteral("chamber")).toInt(), 1);
    QCOMPARE(dropped.value(QStringLiteral("kind")).toString(), QStringLiteral("high"));
}

QTEST_GUILESS_MAIN(tst_CliAlarms)
#include "tst_CliAlarms.moc"

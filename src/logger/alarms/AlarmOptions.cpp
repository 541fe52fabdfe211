#include "logger/alarms/AlarmOptions.h"

#include "logger/alarms/AlarmRuleText.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QUrl>

namespace {

const QString kAlarm = QStringLiteral("alarm");
const QString kOnAlarm = QStringLiteral("on-alarm");
const QString kOnAlarmTimeout = QStringLiteral("on-alarm-timeout");
const QString kWebhook = QStringLiteral("alarm-webhook");
const QString kMail = QStringLiteral("alarm-mail");
const QString kMailFrom = QStringLiteral("alarm-mail-from");
const QString kSmtp = QStringLiteral("smtp");
const QString kSmtpAuth = QStringLiteral("smtp-auth");
const QString kSmtpAuthUnencrypted = QStringLiteral("smtp-auth-unencrypted");

[[noreturn]] void Usage(const QString &text) { throw CliError{kExitUsage, text}; }

// "user=NAME" and "password=SECRET" lines; "#" comments. Kept in a file so that the password
// never shows in the process list or a unit file.
void ReadSmtpAuth(const QString &path, AlarmDeliverySettings &delivery) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{
            kExitFile,
            QStringLiteral("--smtp-auth: cannot read %1: %2").arg(path, file.errorString())};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    bool hasUser = false;
    bool hasPassword = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        // The password is taken as written, blanks included.
        if (line.startsWith(QLatin1String("user="))) {
            delivery.smtpUser = line.mid(5).trimmed();
            hasUser = true;
        } else if (line.startsWith(QLatin1String("password="))) {
            delivery.smtpPassword = line.mid(9);
            hasPassword = true;
        } else {
            Usage(QStringLiteral("--smtp-auth %1, line %2: expected user=NAME or password=SECRET")
                      .arg(path)
                      .arg(i + 1));
        }
    }
    if (!hasUser || !hasPassword || delivery.smtpUser.isEmpty())
        Usage(QStringLiteral("--smtp-auth %1: needs a user= line and a password= line").arg(path));
}

void CheckUrl(const QString &option, const QString &text, const QStringList &schemes) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || !schemes.contains(url.scheme()) || url.host().isEmpty())
        Usage(QStringLiteral("--%1: '%2' is not an %3:// or %4:// address")
                  .arg(option, text, schemes[0], schemes[1]));
}

} // namespace

QStringList AlarmOptionNames() {
    return {kAlarm, kOnAlarm, kOnAlarmTimeout, kWebhook, kMail, kMailFrom, kSmtp, kSmtpAuth,
            kSmtpAuthUnencrypted};
}

QString AlarmHelpText() {
    return QStringLiteral(
        "Alarms: each --alarm \"CHAMBERS KIND [N] [delay=T] [hysteresis=C] [repeat=T]\" watches\n"
        "the chambers (\"*\" or a list like 1,3-5): high C / low C (current temperature above /\n"
        "below C °C), deviation C (more than C °C from the set temperature), silent T (no good\n"
        "reading for T), sensor (implausible temperature), program (a notice when the program\n"
        "changes or its cycles are complete). T is seconds or 90s, 5m, 2h. The condition must\n"
        "hold for delay= (default 60 s, deviation 600 s) before the alarm is raised; high, low\n"
        "and deviation clear hysteresis= inside (default 0.5 °C); repeat= sends an active alarm\n"
        "again (default never). Each raise, clear and notice goes to the events journal, stderr,\n"
        "/metrics (kalvora_alarm_active) and every channel: --on-alarm, --alarm-webhook,\n"
        "--alarm-mail. Webhook and mail are retried for 10 minutes. Check the channels with\n"
        "kalvora-cli alarm-test --config FILE.");
}

void AddAlarmOptions(CommandLine &line) {
    line.addValueOption(
        kAlarm, QStringLiteral("RULE"),
        QStringLiteral("An alarm rule, e.g. \"1,3 high 60 delay=2m\", \"* silent 5m\", "
                       "\"2 program\" (repeatable; default: none)."));
    line.addValueOption(kOnAlarm, QStringLiteral("COMMAND"),
                        QStringLiteral("Run COMMAND (words split at blanks, \"quotes\" kept "
                                       "together; no shell) for every notification, with "
                                       "KALVORA_ALARM_* variables: CHAMBER, KIND, STATE "
                                       "(raised, cleared, notice), VALUE, LIMIT, TIME, "
                                       "MESSAGE_RU, MESSAGE_EN and more (default: none)."));
    line.addValueOption(kOnAlarmTimeout, QStringLiteral("S"),
                        QStringLiteral("Seconds after which a running --on-alarm command is "
                                       "killed and reported (default: 30)."));
    line.addValueOption(kWebhook, QStringLiteral("URL"),
                        QStringLiteral("POST one JSON object per notification to URL (http:// or "
                                       "https://; default: none)."));
    line.addValueOption(kMail, QStringLiteral("TO[,TO...]"),
                        QStringLiteral("Mail every notification to these addresses through "
                                       "--smtp (default: none)."));
    line.addValueOption(kMailFrom, QStringLiteral("ADDRESS"),
                        QStringLiteral("Sender of the mails (default: kalvora@HOSTNAME)."));
    line.addValueOption(kSmtp, QStringLiteral("URL"),
                        QStringLiteral("Mail server: smtp://HOST:PORT (STARTTLS when offered) "
                                       "or smtps://HOST:PORT."));
    line.addValueOption(kSmtpAuth, QStringLiteral("FILE"),
                        QStringLiteral("Log in to the mail server with the user= and password= "
                                       "lines of FILE, over TLS only: smtps://, or STARTTLS on "
                                       "smtp:// (default: no log-in)."));
    line.addFlag(kSmtpAuthUnencrypted,
                 QStringLiteral("Send the --smtp-auth password unencrypted when the server "
                                "offers no TLS (default: such mail fails)."));
}

AlarmSettings ReadAlarmOptions(CommandLine &line, const std::vector<int> &chambersRead) {
    AlarmSettings settings;
    for (const QString &text : line.parser().values(kAlarm)) {
        const AlarmRuleResult rule = ParseAlarmRule(text);
        if (!rule.error.isEmpty())
            Usage(QStringLiteral("--alarm: ") + rule.error);
        settings.rules.push_back(rule.rule);
    }
    if (!chambersRead.empty()) {
        const QString unread = CheckAlarmRuleChambers(settings.rules, chambersRead);
        if (!unread.isEmpty())
            Usage(QStringLiteral("--alarm: ") + unread);
    }

    AlarmDeliverySettings &delivery = settings.delivery;
    delivery.host = QSysInfo::machineHostName();
    if (line.isSet(kOnAlarm)) {
        delivery.command = QProcess::splitCommand(line.value(kOnAlarm));
        if (delivery.command.isEmpty())
            Usage(QStringLiteral("--on-alarm: no command given"));
    }
    delivery.commandTimeout = std::chrono::seconds(line.intValue(kOnAlarmTimeout, 30, 1, 3600));
    if (line.isSet(kWebhook)) {
        delivery.webhookUrl = line.value(kWebhook);
        CheckUrl(kWebhook, delivery.webhookUrl, {QStringLiteral("http"), QStringLiteral("https")});
    }
    if (line.isSet(kMail)) {
        for (const QString &to : line.value(kMail).split(QLatin1Char(','))) {
            const QString address = to.trimmed();
            if (!address.contains(QLatin1Char('@')) || address.contains(QLatin1Char(' ')))
                Usage(QStringLiteral("--alarm-mail: '%1' is not a mail address").arg(address));
            delivery.mailTo << address;
        }
        if (!line.isSet(kSmtp))
            Usage(QStringLiteral("--alarm-mail needs --smtp smtp://HOST:PORT"));
    }
    if (line.isSet(kSmtp)) {
        if (!line.isSet(kMail))
            Usage(QStringLiteral("--smtp is set but --alarm-mail names nobody"));
        delivery.smtpUrl = line.value(kSmtp);
        CheckUrl(kSmtp, delivery.smtpUrl, {QStringLiteral("smtp"), QStringLiteral("smtps")});
        if (!QUrl(delivery.smtpUrl).userName().isEmpty())
            Usage(QStringLiteral(
                "--smtp: give the user and password in a --smtp-auth file, not in the address"));
    }
    if (line.isSet(kSmtpAuth))
        ReadSmtpAuth(line.value(kSmtpAuth), delivery);
    if (line.isSet(kSmtpAuthUnencrypted)) {
        if (!line.isSet(kSmtpAuth))
            Usage(QStringLiteral("--smtp-auth-unencrypted is set but --smtp-auth is not"));
        delivery.smtpPasswordUnencrypted = true;
    }
    if (line.isSet(kMailFrom)) {
        delivery.mailFrom = line.value(kMailFrom);
        if (!delivery.mailFrom.contains(QLatin1Char('@')))
            Usage(QStringLiteral("--alarm-mail-from: '%1' is not a mail address")
                      .arg(delivery.mailFrom));
    }
    return settings;
}

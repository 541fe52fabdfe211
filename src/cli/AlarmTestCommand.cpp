// kalvora-cli alarm-test: one test notification through every configured channel, so that a lab
// sees its mail settings work before it trusts them.
#include "base/AddressList.h"
#include "base/ConfigFile.h"
#include "base/LoggerClock.h"
#include "cli/Commands.h"
#include "logger/alarms/AlarmDelivery.h"
#include "logger/alarms/AlarmOptions.h"
#include "logger/LogCommand.h"

#include <QDateTime>
#include <QFile>
#include <cstdio>

namespace {

// The alarm options (and the chambers, to check the rules against) of a `log` configuration
// file; its other options are the logger's business.
QStringList AlarmArgumentsOfConfig(const QStringList &arguments) {
    QString path;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--config") && i + 1 < arguments.size())
            path = arguments[i + 1];
        else if (arguments[i].startsWith(QLatin1String("--config=")))
            path = arguments[i].mid(9);
    }
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile,
                       QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    CommandLine log(QStringLiteral("log"), QString(), QString(), {1, 500});
    AddLogOptions(log);
    const ConfigArguments config =
        ParseConfigText(QString::fromUtf8(file.readAll()), log.valueOptions(), log.flags());
    if (!config.error.isEmpty())
        throw CliError{kExitUsage, path + QStringLiteral(": ") + config.error};
    QStringList wanted = AlarmOptionNames();
    wanted << QStringLiteral("chambers");
    QStringList kept;
    const QStringList &a = config.arguments;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const bool hasValue = i + 1 < a.size() && !a[i + 1].startsWith(QLatin1String("--"));
        if (wanted.contains(a[i].mid(2))) {
            kept << a[i];
            if (hasValue)
                kept << a[i + 1];
        }
        if (hasValue)
            ++i;
    }
    return kept;
}

QString ChannelTitle(AlarmChannel channel, const AlarmDeliverySettings &settings) {
    switch (channel) {
    case AlarmChannel::Command:
        return QStringLiteral("command %1").arg(settings.command.join(QLatin1Char(' ')));
    case AlarmChannel::Webhook:
        return QStringLiteral("webhook %1").arg(settings.webhookUrl);
    case AlarmChannel::Mail:
        break;
    }
    return QStringLiteral("mail to %1 via %2")
        .arg(settings.mailTo.join(QLatin1Char(',')), settings.smtpUrl);
}

} // namespace

int RunAlarmTest(const QStringList &arguments) {
    CommandLine line(
        QStringLiteral("alarm-test"), QString(),
        QStringLiteral(
            "Sends one test notification (kind \"test\", state \"notice\") through every alarm\n"
            "channel of the `log` configuration in --config FILE and of the alarm options given\n"
            "here (which win), once each, without retries, and prints one line per channel:\n"
            "\"delivered\" or \"failed: REASON\". The rules are checked as `log` checks them.\n"
            "\n"
            "Exit status: 0 every channel delivered, 7 at least one did not, 2 no channel is\n"
            "configured or an option is wrong, 6 a file cannot be read."),
        std::nullopt);
    AddAlarmOptions(line);
    line.addValueOption(QStringLiteral("config"), QStringLiteral("FILE"),
                        QStringLiteral("The logger's configuration file (its alarm options are "
                                       "used, the others ignored)."));
    line.addValueOption(QStringLiteral("chambers"), QStringLiteral("ADDRS"),
                        QStringLiteral("The chambers the rules must be among (default: from "
                                       "--config, else not checked)."));
    if (const auto done = line.parse(AlarmArgumentsOfConfig(arguments) + arguments))
        return *done;
    if (!line.positional().isEmpty())
        throw CliError{kExitUsage, QStringLiteral("alarm-test takes no arguments (try: "
                                                  "kalvora-cli alarm-test --help)")};
    std::vector<int> chambers;
    if (line.isSet(QStringLiteral("chambers"))) {
        const AddressListResult list = ParseAddressList(line.value(QStringLiteral("chambers")));
        if (!list.error.isEmpty())
            throw CliError{kExitUsage, QStringLiteral("--chambers: ") + list.error};
        chambers = list.addresses;
    }
    const AlarmSettings settings = ReadAlarmOptions(line, chambers);
    const std::vector<AlarmChannel> channels = settings.delivery.channels();
    if (channels.empty())
        throw CliError{kExitUsage, QStringLiteral("no alarm channel configured: give --on-alarm, "
                                                  "--alarm-webhook or --alarm-mail")};

    const AlarmNotification test =
        AlarmTestNotification(SystemClock().now(), settings.delivery.host);
    int failed = 0;
    for (AlarmChannel channel : channels) {
        const QString title = ChannelTitle(channel, settings.delivery);
        const QString reason = SendAlarmOnce(channel, test, settings.delivery);
        const QString result =
            reason.isEmpty() ? QStringLiteral("delivered") : QStringLiteral("failed: ") + reason;
        std::fprintf(stdout, "%s: %s\n", title.toLocal8Bit().constData(),
                     result.toLocal8Bit().constData());
        std::fflush(stdout);
        if (!reason.isEmpty())
            ++failed;
    }
    return failed == 0 ? kExitOk : kExitDelivery;
}

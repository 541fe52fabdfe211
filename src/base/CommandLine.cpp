#include "base/CommandLine.h"

#include "base/OptionNumbers.h"

#include <cstdio>

void PrintError(const QString &text) {
    std::fprintf(stderr, "kalvora-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void PrintWarning(const QString &text) { PrintError(QStringLiteral("warning: ") + text); }

CommandLine::CommandLine(const QString &command, const QString &usage, const QString &description,
                         std::optional<ExchangeDefaults> defaults)
    : command_(command), usage_(usage), description_(description), defaults_(defaults) {
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): its --help-all would list Qt's own options, which this tool has not.
    const QStringList helpNames{QStringLiteral("h"), QStringLiteral("help")};
    const QString helpDescription = QStringLiteral("Show this help and exit.");
    parser_.addOption(QCommandLineOption(helpNames, helpDescription));
    helpOptions_.append({helpNames, QString(), helpDescription});
    QCommandLineOption helpAll(QStringList{QStringLiteral("help-all"), QStringLiteral("?")});
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser_.addOption(helpAll);
    if (!defaults)
        return;
    addValueOption(QStringLiteral("port"), QStringLiteral("P"),
                   QStringLiteral("Serial port: COMn or a device path (default: COM1). COMn is the "
                                  "device in $KALVORA_COMn, else the one mapped to COMn in "
                                  "~/.config/kalvora/ports.conf, else in /etc/kalvora/ports.conf, "
                                  "else /dev/ttyS<n-1>."));
    addValueOption(QStringLiteral("tries"), QStringLiteral("N"),
                   QStringLiteral("Requests per exchange before giving up (default: %1).")
                       .arg(defaults->tries));
    addValueOption(QStringLiteral("timeout"), QStringLiteral("MS"),
                   QStringLiteral("Silence in milliseconds after which a try counts as "
                                  "unanswered (default: %1).")
                       .arg(defaults->timeoutMs));
}

void CommandLine::addValueOption(const QString &name, const QString &valueName,
                                 const QString &help) {
    parser_.addOption(QCommandLineOption(name, help, valueName));
    helpOptions_.append({{name}, valueName, help});
    valueOptions_ << name;
}

void CommandLine::addFlag(const QString &name, const QString &help) {
    parser_.addOption(QCommandLineOption(name, help));
    helpOptions_.append({{name}, QString(), help});
    flags_ << name;
}

std::optional<int> CommandLine::parse(const QStringList &arguments) {
    QStringList all{QStringLiteral("kalvora-cli")};
    all << arguments;
    if (!parser_.parse(all))
        throw CliError{kExitUsage, parser_.errorText() + QLatin1Char(' ') + usageHint()};
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    return std::nullopt;
}

QString CommandLine::helpText() const {
    QString usageLine = QStringLiteral("Usage: kalvora-cli ") + command_ + QStringLiteral(" [options]");
    if (!usage_.isEmpty())
        usageLine += QLatin1Char(' ') + usage_;
    return WrapHelpText(usageLine) + QLatin1Char('\n') + WrapHelpText(description_.trimmed()) +
           QStringLiteral("\n\n") + HelpOptionsText(helpOptions_);
}

QString CommandLine::usageHint() const {
    return QStringLiteral("(try: kalvora-cli %1 --help)").arg(command_);
}

int CommandLine::intValue(const QString &name, int fallback, int low, int high) const {
    if (!parser_.isSet(name))
        return fallback;
    const QString text = parser_.value(name);
    if (const auto value = ParseDecimal(text, low, high))
        return *value;
    throw CliError{kExitUsage, QStringLiteral("--%1: '%2' is not a whole number from %3 to %4")
                                   .arg(name, text)
                                   .arg(low)
                                   .arg(high)};
}

CommonOptions CommandLine::common() const {
    CommonOptions options;
    options.port = parser_.isSet(QStringLiteral("port")) ? parser_.value(QStringLiteral("port"))
                                                         : QStringLiteral("COM1");
    if (options.port.isEmpty())
        throw CliError{kExitUsage, QStringLiteral("--port: empty")};
    const ExchangeDefaults defaults = defaults_.value_or(ExchangeDefaults{1, 500});
    options.tries = intValue(QStringLiteral("tries"), defaults.tries, 1, 1000);
    options.timeout = std::chrono::milliseconds(
        intValue(QStringLiteral("timeout"), defaults.timeoutMs, 1, 600000));
    return options;
}

void CommandLine::expectPositional(int count, const QString &names) const {
    const QStringList given = parser_.positionalArguments();
    if (given.size() > count)
        throw CliError{kExitUsage, QStringLiteral("%1 takes %2; '%3' is one argument too many %4")
                                       .arg(command_, names, given.at(count), usageHint())};
    if (given.size() < count)
        throw CliError{kExitUsage,
                       QStringLiteral("%1 needs %2 %3").arg(command_, names, usageHint())};
}

int BusAddressArgument(const QString &text) {
    if (const auto address = ParseDecimal(text, 0, kHighestBusAddress))
        return *address;
    throw CliError{kExitUsage,
                   QStringLiteral("'%1' is not a bus address (0 to 250)").arg(text)};
}

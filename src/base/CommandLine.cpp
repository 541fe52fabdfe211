#include "base/CommandLine.h"

#include "base/OptionNumbers.h"

#include <QRegularExpression>
#include <cstdio>

void PrintError(const QString &text) {
    std::fprintf(stderr, "kalvora-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void PrintWarning(const QString &text) { PrintError(QStringLiteral("warning: ") + text); }

CommandLine::CommandLine(const QString &command, const QString &usage, const QString &description,
                         ExchangeDefaults defaults)
    : command_(command), usage_(usage), defaults_(defaults) {
    parser_.setApplicationDescription(description);
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): its --help-all would list Qt's own options, which this tool has not.
    parser_.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                         QStringLiteral("Displays help on commandline options.")));
    QCommandLineOption helpAll(QStringList{QStringLiteral("help-all"), QStringLiteral("?")});
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser_.addOption(helpAll);
    addValueOption(QStringLiteral("port"), QStringLiteral("P"),
                   QStringLiteral("Serial port: COMn or a device path (default: COM1). COMn is the "
                                  "device in $KALVORA_COMn, else the one mapped to COMn in "
                                  "~/.config/kalvora/ports.conf, else in /etc/kalvora/ports.conf, "
                                  "else /dev/ttyS<n-1>."));
    addValueOption(QStringLiteral("tries"), QStringLiteral("N"),
                   QStringLiteral("Requests per exchange before giving up (default: %1).")
                       .arg(defaults.tries));
    addValueOption(QStringLiteral("timeout"), QStringLiteral("MS"),
                   QStringLiteral("Silence in milliseconds after which a try counts as "
                                  "unanswered (default: %1).")
                       .arg(defaults.timeoutMs));
}

void CommandLine::addValueOption(const QString &name, const QString &valueName,
                                 const QString &help) {
    parser_.addOption(QCommandLineOption(name, help, valueName));
    valueOptions_ << name;
}

void CommandLine::addFlag(const QString &name, const QString &help) {
    parser_.addOption(QCommandLineOption(name, help));
    flags_ << name;
}

std::optional<int> CommandLine::parse(const QStringList &arguments) {
    QStringList all{QStringLiteral("kalvora-cli")};
    all << arguments;
    if (!parser_.parse(all))
        throw CliError{kExitUsage, parser_.errorText() + QStringLiteral(" (try: kalvora-cli ") +
                                       command_ + QStringLiteral(" --help)")};
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    return std::nullopt;
}

QString CommandLine::helpText() const {
    QString text = parser_.helpText();
    // The parser names neither the command nor its arguments in the usage line.
    text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+ \\[options\\]")),
                 QStringLiteral("Usage: kalvora-cli ") + command_ + QStringLiteral(" [options]") +
                     (usage_.isEmpty() ? QString() : QLatin1Char(' ') + usage_));
    return text;
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
    options.tries = intValue(QStringLiteral("tries"), defaults_.tries, 1, 1000);
    options.timeout = std::chrono::milliseconds(
        intValue(QStringLiteral("timeout"), defaults_.timeoutMs, 1, 600000));
    return options;
}

void CommandLine::expectPositional(int count, const QString &names) const {
    if (parser_.positionalArguments().size() != count)
        throw CliError{
            kExitUsage,
            QStringLiteral("%1 needs %2 (try: kalvora-cli %1 --help)").arg(command_, names)};
}

int BusAddressArgument(const QString &text) {
    if (const auto address = ParseDecimal(text, 0, kHighestBusAddress))
        return *address;
    throw CliError{
        kExitUsage,
        QStringLiteral("'%1' is not a bus address (0 to %2)").arg(text).arg(kHighestBusAddress)};
}

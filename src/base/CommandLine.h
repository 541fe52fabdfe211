#pragma once
// Option parsing shared by the commands: each command has its own parser with the common
// options and its own defaults, so that `kalvora-cli COMMAND --help` shows every default.
#include "base/CliError.h"
#include "core/HelpText.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

struct ExchangeDefaults {
    int tries;
    int timeoutMs;
};

struct CommonOptions {
    QString port;
    int tries = 1;
    std::chrono::milliseconds timeout{0};
};

class CommandLine {
public:
    // usage: what follows the command in the usage line, e.g. "ADDR". A command that uses no
    // bus passes no exchange defaults and gets no --port, --tries and --timeout.
    CommandLine(const QString &command, const QString &usage, const QString &description,
                ExchangeDefaults defaults)
        : CommandLine(command, usage, description, std::optional<ExchangeDefaults>(defaults)) {}
    CommandLine(const QString &command, const QString &usage, const QString &description,
                std::nullopt_t)
        : CommandLine(command, usage, description, std::optional<ExchangeDefaults>()) {}

    QCommandLineParser &parser() { return parser_; }
    void addValueOption(const QString &name, const QString &valueName, const QString &help);
    void addFlag(const QString &name, const QString &help);

    // Parses; returns an exit code when the run ends here (help printed: 0), nothing to go on.
    // Throws CliError(kExitUsage) for a bad command line.
    std::optional<int> parse(const QStringList &arguments);

    CommonOptions common() const;
    QStringList positional() const { return parser_.positionalArguments(); }
    // The option's value as a whole number within [low, high]; fallback when not given.
    int intValue(const QString &name, int fallback, int low, int high) const;
    bool isSet(const QString &name) const { return parser_.isSet(name); }
    QString value(const QString &name) const { return parser_.value(name); }
    // The usage line, the description and the options, within 80 columns.
    QString helpText() const;
    // "(try: kalvora-cli COMMAND --help)", the hint every usage error of the tool ends with.
    QString usageHint() const;
    // Throws CliError(kExitUsage) unless exactly `count` arguments follow the options.
    void expectPositional(int count, const QString &names) const;
    // The names of the options that take a value, and of the flags (--help not counted).
    const QStringList &valueOptions() const { return valueOptions_; }
    const QStringList &flags() const { return flags_; }

private:
    CommandLine(const QString &command, const QString &usage, const QString &description,
                std::optional<ExchangeDefaults> defaults);

    QString command_;
    QString usage_;
    QString description_;
    QList<HelpOption> helpOptions_;
    std::optional<ExchangeDefaults> defaults_;
    QCommandLineParser parser_;
    QStringList valueOptions_;
    QStringList flags_;
};

// The bus address argument, 0 to 250. Throws CliError(kExitUsage).
int BusAddressArgument(const QString &text);

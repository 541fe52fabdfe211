#pragma once
// The command line of kalvora-plot.
#include <QCommandLineParser>
#include <QDate>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

struct PlotOptions {
    QStringList files;
    QString imageOutput; // -o: .png, .svg or .pdf
    QString csvOutput;   // --csv
    QSize size{1600, 900};
    std::optional<QString> title;
    bool follow = false;
    std::optional<QString> dateFormat; // strftime patterns in place of the regional ones
    std::optional<QString> timeFormat;
    std::optional<QDate> date; // for logs whose name gives no date

    bool writesFiles() const { return !imageOutput.isEmpty() || !csvOutput.isEmpty(); }
};

struct ParsedCommandLine {
    std::optional<PlotOptions> options;
    QString usageError; // set when options is empty
};

// Arguments with the program's name first. --help and --version print and end the program, as
// QCommandLineParser does; needs the application object.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

// Prints the parser's help, its usage line naming the tool as "kalvora-plot" whatever path
// started it, and ends the program with status 0.
[[noreturn]] void ShowToolHelp(const QCommandLineParser &parser);

// Whether the arguments ask only for files or texts, so that no display is needed. Read before
// the application object exists, hence from the raw arguments.
bool NeedsNoDisplay(int argc, char **argv);

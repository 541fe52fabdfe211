#include "PlotOptions.h"

#include "ChartExport.h"
#include "core/HelpText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLargestSide = 20000;

std::optional<QSize> ReadSize(const QString &text) {
    static const QRegularExpression pattern(
        QStringLiteral("^([1-9][0-9]{0,4})x([1-9][0-9]{0,4})$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < 200 || size.height() < 150 || size.width() > kLargestSide ||
        size.height() > kLargestSide)
        return std::nullopt;
    return size;
}

ParsedCommandLine Usage(const QString &error) { return {std::nullopt, error}; }

} // namespace

ParsedCommandLine ParseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(WrapHelpText(
        QStringLiteral("Draws the readings logs of Kalvora (and the readings CSV files of "
                       "kalvora-cli) as a chart of temperature against time, in a window or into "
                       "a PNG, SVG or PDF file, and writes them as CSV.\n\n"
                       "Exit status: 0 done, 2 wrong command line (also an output that is one of "
                       "the input files), 6 a file could not be read or written (unreadable, not "
                       "a log, no records).\n\n"
                       "kalvora-plot report FILE... -o report.pdf writes a test report; see "
                       "kalvora-plot report --help.\n"
                       "kalvora-plot program FILE draws a program file's profile; see\n"
                       "kalvora-plot program --help.")));
    // Not addHelpOption(): its --help-all would list Qt's own options, which are no business of
    // this tool's users; --help-all is kept, hidden, as another name of --help.
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit.")));
    QCommandLineOption helpAll(QStringList{QStringLiteral("help-all"), QStringLiteral("?")});
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(helpAll);
    parser.addVersionOption();
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the chart to FILE (.png, .svg or .pdf) "
                                                   "instead of opening a window."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("Size of the picture in pixels (default "
                                                 "1600x900)."),
                                  QStringLiteral("WxH"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("Title of the chart (default: the chamber "
                                                  "number and the time span)."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption follow(QStringLiteral("follow"),
                                    QStringLiteral("Redraw the window as the files grow (a test "
                                                   "in progress)."));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Write the records to FILE as CSV (UTF-8): time, "
                                                "temperature, program, step, steps, cycle, "
                                                "cycles."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption dateFormat(
        QStringLiteral("date-format"),
        QStringLiteral("strftime pattern of the date in the file names (default: this "
                       "machine's regional short date format)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption timeFormat(
        QStringLiteral("time-format"),
        QStringLiteral("strftime pattern of the times in the file names and records (default: "
                       "this machine's regional long time format)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("Date of the first record, for logs whose file "
                                                 "name gives none."),
                                  QStringLiteral("YYYY-MM-DD"));
    parser.addOptions({output, size, title, follow, csv, dateFormat, timeFormat, date});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Log files (ЖЫМ№<chamber> <date> <time>.txt) or readings CSV files; "
                       "without any, the window asks for them."),
        QStringLiteral("[FILE...]"));

    if (!parser.parse(arguments))
        return Usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(helpAll))
        ShowToolHelp(parser);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    PlotOptions options;
    options.files = parser.positionalArguments();
    options.imageOutput = parser.value(output);
    options.csvOutput = parser.value(csv);
    options.follow = parser.isSet(follow);
    if (parser.isSet(output) && options.imageOutput.isEmpty())
        return Usage(QStringLiteral("-o needs a file name"));
    if (parser.isSet(csv) && options.csvOutput.isEmpty())
        return Usage(QStringLiteral("--csv needs a file name"));
    if (!options.imageOutput.isEmpty() && !ImageKindOf(options.imageOutput))
        return Usage(QStringLiteral("the picture's name must end in .png, .svg or .pdf: ") +
                     options.imageOutput);
    if (parser.isSet(size)) {
        const auto read = ReadSize(parser.value(size));
        if (!read)
            return Usage(QStringLiteral("--size takes WIDTHxHEIGHT in pixels, from 200x150 to "
                                        "20000x20000: ") +
                         parser.value(size));
        options.size = *read;
    }
    if (parser.isSet(title))
        options.title = parser.value(title);
    if (parser.isSet(dateFormat))
        options.dateFormat = parser.value(dateFormat);
    if (parser.isSet(timeFormat))
        options.timeFormat = parser.value(timeFormat);
    if (parser.isSet(date)) {
        const QDate given = QDate::fromString(parser.value(date), Qt::ISODate);
        if (!given.isValid() || parser.value(date).size() != 10)
            return Usage(QStringLiteral("--date takes YYYY-MM-DD: ") + parser.value(date));
        options.date = given;
    }
    if (options.writesFiles() && options.files.isEmpty())
        return Usage(QStringLiteral("no log files given"));
    if (options.writesFiles() && options.follow)
        return Usage(QStringLiteral("--follow is for the window; it cannot go with -o or --csv"));
    return {options, {}};
}

void ShowToolHelp(const QCommandLineParser &parser) {
    QString text = parser.helpText();
    const QStringList arguments = QCoreApplication::arguments();
    const QString usage = QStringLiteral("Usage: ");
    if (!arguments.isEmpty() && text.startsWith(usage + arguments.first()))
        text.replace(usage.size(), arguments.first().size(), QStringLiteral("kalvora-plot"));
    std::fputs(qPrintable(text), stdout);
    std::fflush(stdout);
    std::exit(0);
}

bool NeedsNoDisplay(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "report") == 0)
        return true;
    // "program" opens a window unless -o or --help says otherwise (found below).
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            break;
        for (const char *option :
             {"-o", "--output", "--csv", "-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            const std::size_t length = std::strlen(option);
            if (std::strncmp(argument, option, length) == 0 &&
                (argument[length] == '\0' || argument[length] == '=' ||
                 (length == 2 && argument[1] == 'o')))
                return true;
        }
    }
    return false;
}

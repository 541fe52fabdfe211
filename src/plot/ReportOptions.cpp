#include "ReportOptions.h"

#include "PlotOptions.h"
#include "core/AddressList.h"
#include "core/HelpText.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

ParsedReportCommandLine Usage(const QString &error) { return {std::nullopt, error}; }

// "1,3,5-8": the report's chambers in the order named.
std::optional<QList<int>> ReadChambers(const QString &text) {
    const AddressListResult list = ParseAddressList(text, AddressOrder::AsWritten);
    if (!list.error.isEmpty())
        return std::nullopt;
    return QList<int>(list.addresses.begin(), list.addresses.end());
}

} // namespace

std::optional<QDateTime> ReadReportMoment(const QString &text, bool endOfDay) {
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9]{4}-[0-9]{2}-[0-9]{2})(?:[T ]([0-9]{2}:[0-9]{2})(:[0-9]{2})?)?$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), Qt::ISODate);
    QTime time(0, 0);
    if (!match.captured(2).isEmpty()) {
        time = QTime::fromString(match.captured(2) + (match.captured(3).isEmpty()
                                                          ? QStringLiteral(":00")
                                                          : match.captured(3)),
                                 Qt::ISODate);
    } else if (endOfDay) {
        time = QTime(23, 59, 59);
    }
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::LocalTime);
}

ParsedReportCommandLine ParseReportCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(WrapHelpText(QStringLiteral(
        "Writes a test report of the readings logs, the readings CSV files and the events "
        "journal of kalvora-cli: per chamber a header with the period and the source files' "
        "SHA-256, the chart, a summary (extremes, program, time within the band of the set "
        "temperature, holds, outages) and the table of events, as a PDF (A4) or one HTML "
        "file.\n\n"
        "Exit status: 0 done, 2 wrong command line (also files of several chambers without "
        "--chamber, or an output that is one of the input files), 6 a file could not be read or "
        "written, or no records to report.")));
    // Not addHelpOption(): its --help-all would list Qt's own options; kept, hidden, as
    // another name of --help.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    QCommandLineOption helpAll(QStringList{QStringLiteral("help-all"), QStringLiteral("?")});
    helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, helpAll});
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the report to FILE as PDF."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption html(QStringLiteral("html"),
                                  QStringLiteral("Write the report to FILE as one "
                                                 "self-contained HTML file."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Report from this local time on (YYYY-MM-DD or "
                                                 "\"YYYY-MM-DD HH:MM[:SS]\")."),
                                  QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Report up to this local time (a date alone: to "
                                               "its end)."),
                                QStringLiteral("TIME"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("Title of the report (free text)."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption customer(QStringLiteral("customer"),
                                      QStringLiteral("The customer, for the header (free text)."),
                                      QStringLiteral("TEXT"));
    const QCommandLineOption chamber(QStringLiteral("chamber"),
                                     QStringLiteral("The chambers to report (1,3,5-8 or all); "
                                                    "needed when the files hold several."),
                                     QStringLiteral("LIST"));
    const QCommandLineOption band(QStringLiteral("band"),
                                  QStringLiteral("Half width in °C of the band around the set "
                                                 "temperature (default 2)."),
                                  QStringLiteral("DEGREES"));
    const QCommandLineOption dateFormat(
        QStringLiteral("date-format"),
        QStringLiteral("strftime pattern of the date in the log file names (default: this "
                       "machine's regional short date format)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption timeFormat(
        QStringLiteral("time-format"),
        QStringLiteral("strftime pattern of the times in the log file names and records "
                       "(default: this machine's regional long time format)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("Date of the first record, for logs whose file "
                                                 "name gives none."),
                                  QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption audit(
        QStringLiteral("audit"),
        QStringLiteral("An audit trail file (audit-YYYY-MM.jsonl; repeatable): the writes to "
                       "the chamber in the period go into the events, and the header prints "
                       "each trail's head. Files in one folder are one trail."),
        QStringLiteral("FILE"));
    parser.addOptions({output, html, from, to, title, customer, chamber, band, dateFormat,
                       timeFormat, date, audit});
    // The command's word is read before the parser, which sees only what follows it; the usage
    // line names it.
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Log files, readings CSV files and events journals (events.jsonl), in "
                       "any mix."),
        QStringLiteral("report FILE..."));

    QStringList afterCommand = arguments;
    if (afterCommand.size() > 1)
        afterCommand.removeAt(1);
    if (!parser.parse(afterCommand))
        return Usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(helpAll))
        ShowToolHelp(parser);

    ReportOptions options;
    options.files = parser.positionalArguments();
    options.pdfOutput = parser.value(output);
    options.auditFiles = parser.values(audit);
    options.htmlOutput = parser.value(html);
    if (parser.isSet(output) && options.pdfOutput.isEmpty())
        return Usage(QStringLiteral("-o needs a file name"));
    if (parser.isSet(html) && options.htmlOutput.isEmpty())
        return Usage(QStringLiteral("--html needs a file name"));
    if (options.pdfOutput.isEmpty() && options.htmlOutput.isEmpty())
        return Usage(QStringLiteral("name the report with -o FILE.pdf or --html FILE.html"));
    if (options.files.isEmpty())
        return Usage(QStringLiteral("no files given"));
    if (parser.isSet(from) && !(options.from = ReadReportMoment(parser.value(from), false)))
        return Usage(QStringLiteral("--from takes YYYY-MM-DD or \"YYYY-MM-DD HH:MM[:SS]\": ") +
                     parser.value(from));
    if (parser.isSet(to) && !(options.to = ReadReportMoment(parser.value(to), true)))
        return Usage(QStringLiteral("--to takes YYYY-MM-DD or \"YYYY-MM-DD HH:MM[:SS]\": ") +
                     parser.value(to));
    if (options.from && options.to && *options.to < *options.from)
        return Usage(QStringLiteral("--to is before --from"));
    options.title = parser.value(title);
    options.customer = parser.value(customer);
    if (parser.isSet(chamber)) {
        if (parser.value(chamber) == QStringLiteral("all")) {
            options.allChambers = true;
        } else if (!(options.chambers = ReadChambers(parser.value(chamber)))) {
            return Usage(QStringLiteral("--chamber takes bus addresses such as 1,3,5-8, or all: ") +
                         parser.value(chamber));
        }
    }
    if (parser.isSet(band)) {
        bool ok = false;
        const double value =
            parser.value(band).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        if (!ok || !(value > 0) || value > 100)
            return Usage(QStringLiteral("--band takes degrees above 0 and up to 100: ") +
                         parser.value(band));
        options.band = value;
    }
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
    return {options, {}};
}

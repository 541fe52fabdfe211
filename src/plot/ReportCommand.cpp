#include "ReportCommand.h"

#include "OutputFiles.h"
#include "PlotCommand.h"
#include "Report.h"
#include "ReportOptions.h"
#include "core/AuditTrail.h"
#include "core/IntegerText.h"
#include "platform/SystemRegionalSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <algorithm>
#include <cstdio>
#include <variant>

namespace {

void PrintLine(const QString &text) {
    std::fputs((QStringLiteral("kalvora-plot: ") + text + QLatin1Char('\n')).toLocal8Bit(), stderr);
}

int UsageError(const QString &text) {
    PrintLine(text);
    PrintLine(QStringLiteral("see kalvora-plot report --help"));
    return kExitUsage;
}

struct Failure {
    int exitCode;
    QString message;
};

ReportSettings SettingsOf(const InputSettings &input) {
    ReportSettings settings;
    settings.settings = input.settings;
    settings.version = QCoreApplication::applicationVersion();
    settings.madeAt = QDateTime::currentDateTime();
    return settings;
}

// Every chamber to report has records in the period; else the report would be empty.
std::optional<Failure> CheckRecords(const ReportContent &report, const ReportSettings &settings) {
    if (report.chambers.isEmpty())
        return Failure{kExitFile, QStringLiteral("no readable records in the files (only "
                                                 "events journals?)")};
    for (const ChamberReport &chamber : report.chambers) {
        if (chamber.summary.first)
            continue;
        if (chamber.chamber.readings.isEmpty() || (!settings.from && !settings.to))
            return Failure{kExitFile, chamber.chamber.label + QStringLiteral(": no readable "
                                                                             "records")};
        return Failure{kExitFile, chamber.chamber.label + QStringLiteral(": no records between ") +
                                      (settings.from ? settings.from->toString(Qt::ISODate)
                                                     : QStringLiteral("the first record")) +
                                      QStringLiteral(" and ") +
                                      (settings.to ? settings.to->toString(Qt::ISODate)
                                                   : QStringLiteral("the last record"))};
    }
    return std::nullopt;
}

std::optional<Failure> Write(const ReportContent &report, const QString &pdf, const QString &html) {
    for (const auto &[path, write] :
         {std::pair{pdf, &WriteReportPdf}, std::pair{html, &WriteReportHtml}}) {
        if (path.isEmpty())
            continue;
        const QString error = write(report, path);
        if (!error.isEmpty())
            return Failure{kExitFile, path + QStringLiteral(": cannot write: ") + error};
    }
    return std::nullopt;
}

// The trails of --audit: the files of one folder are one trail, in the order of their names
// (a month each), checked as one chain.
std::variant<QList<AuditTrailReport>, Failure> ReadTrails(const QStringList &paths) {
    QMap<QString, QStringList> byFolder;
    for (const QString &path : paths)
        byFolder[QFileInfo(path).absolutePath()].append(path);
    QList<AuditTrailReport> trails;
    for (QStringList &files : byFolder) {
        std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
            return QFileInfo(a).fileName() < QFileInfo(b).fileName();
        });
        files.removeDuplicates();
        AuditTrailReport trail;
        trail.files = files;
        QList<AuditFileBytes> bytes;
        for (const QString &path : files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return Failure{kExitFile, path + QStringLiteral(": cannot read: ") +
                                              file.errorString()};
            bytes.append({QFileInfo(path).fileName(), file.readAll()});
            trail.lines += AuditLines(bytes.last().bytes);
        }
        trail.verification = VerifyAuditFiles(bytes);
        trails.append(trail);
    }
    return trails;
}

QString ChamberList(const QList<ChamberReadings> &chambers) {
    QStringList labels;
    for (const ChamberReadings &chamber : chambers)
        labels.append(chamber.label);
    return labels.join(QStringLiteral(", "));
}

} // namespace

int RunReport(const QStringList &arguments) {
    const ParsedReportCommandLine parsed = ParseReportCommandLine(arguments);
    if (!parsed.options)
        return UsageError(parsed.usageError);
    const ReportOptions &options = *parsed.options;
    if (const QString clash =
            OutputOverwritesInput({{QStringLiteral("-o"), options.pdfOutput},
                                   {QStringLiteral("--html"), options.htmlOutput}},
                                  options.files + options.auditFiles);
        !clash.isEmpty())
        return UsageError(clash);

    InputSettings input;
    input.settings = ReadSystemRegionalSettings();
    if (options.dateFormat)
        input.settings.shortDateFormat = *options.dateFormat;
    if (options.timeFormat)
        input.settings.longTimeFormat = *options.timeFormat;
    input.fallbackDate = options.date;
    // A day's file may hold only its header; whether anything is left is checked below.
    input.allowEmptyFiles = true;

    LoadedInput loaded;
    try {
        loaded = LoadInput(options.files, input);
    } catch (const InputError &error) {
        PrintLine(error.message());
        return kExitFile;
    }
    for (const QString &warning : loaded.warnings)
        PrintLine(warning);

    if (options.chambers) {
        QList<ChamberReadings> chosen;
        for (int number : *options.chambers) {
            const auto found =
                std::find_if(loaded.chambers.cbegin(), loaded.chambers.cend(),
                             [number](const ChamberReadings &c) { return c.chamber == number; });
            if (found == loaded.chambers.cend())
                return UsageError(QStringLiteral("--chamber ") + IntToText(number) +
                                  QStringLiteral(": no file of that chamber among the files (") +
                                  ChamberList(loaded.chambers) + QLatin1Char(')'));
            chosen.append(*found);
        }
        loaded.chambers = chosen;
    } else if (!options.allChambers && loaded.chambers.size() > 1) {
        return UsageError(QStringLiteral("the files hold several chambers (") +
                          ChamberList(loaded.chambers) +
                          QStringLiteral("); name the ones to report with --chamber, e.g. "
                                         "--chamber 1,3 or --chamber all"));
    }

    ReportSettings settings = SettingsOf(input);
    settings.title = options.title;
    settings.customer = options.customer;
    settings.band = options.band;
    settings.from = options.from;
    settings.to = options.to;
    const auto trails = ReadTrails(options.auditFiles);
    if (const auto *failure = std::get_if<Failure>(&trails)) {
        PrintLine(failure->message);
        return failure->exitCode;
    }
    for (const AuditTrailReport &trail : std::get<QList<AuditTrailReport>>(trails))
        if (!trail.verification.intact)
            PrintLine(QStringLiteral("audit trail broken: ") + trail.verification.failure);
    LocalClock clock;
    const ReportContent report =
        BuildReport(loaded, settings, clock, std::get<QList<AuditTrailReport>>(trails));
    if (const auto failure = CheckRecords(report, settings)) {
        PrintLine(failure->message);
        return failure->exitCode;
    }
    if (const auto failure = Write(report, options.pdfOutput, options.htmlOutput)) {
        PrintLine(failure->message);
        return failure->exitCode;
    }
    return kExitOk;
}

QString WriteReportOfFiles(const QStringList &files, const InputSettings &input,
                           const QString &path, const QString &title) {
    if (const QString clash = OutputOverwritesInput({{QString(), path}}, files); !clash.isEmpty())
        return clash;
    InputSettings reading = input;
    reading.allowEmptyFiles = true;
    LoadedInput loaded;
    try {
        loaded = LoadInput(files, reading);
    } catch (const InputError &error) {
        return error.message();
    }
    ReportSettings settings = SettingsOf(input);
    settings.title = title;
    LocalClock clock;
    const ReportContent report = BuildReport(loaded, settings, clock);
    if (const auto failure = CheckRecords(report, settings))
        return failure->message;
    const bool html =
        QFileInfo(path).suffix().compare(QStringLiteral("html"), Qt::CaseInsensitive) == 0 ||
        QFileInfo(path).suffix().compare(QStringLiteral("htm"), Qt::CaseInsensitive) == 0;
    const auto failure = html ? Write(report, QString(), path) : Write(report, path, QString());
    return failure ? failure->message : QString();
}

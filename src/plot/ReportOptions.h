#pragma once
// The command line of `kalvora-plot report`.
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct ReportOptions {
    QStringList files;
    QStringList auditFiles;            // --audit
    QString pdfOutput;                 // -o
    QString htmlOutput;                // --html
    std::optional<QDateTime> from, to; // local times of this machine
    QString title;
    QString customer;
    std::optional<QList<int>> chambers; // --chamber; empty optional: not given
    bool allChambers = false;           // --chamber all
    double band = 2.0;
    std::optional<QString> dateFormat;
    std::optional<QString> timeFormat;
    std::optional<QDate> date;
};

struct ParsedReportCommandLine {
    std::optional<ReportOptions> options;
    QString usageError; // set when options is empty
};

// Arguments with the program's name first and "report" second. --help prints and ends the
// program, as QCommandLineParser does.
ParsedReportCommandLine ParseReportCommandLine(const QStringList &arguments);

// "2026-12-10", "2026-12-10 14:05" or "2026-12-10T14:05:33"; a date alone is the start of the
// day, or with `endOfDay` its last second.
std::optional<QDateTime> ReadReportMoment(const QString &text, bool endOfDay);

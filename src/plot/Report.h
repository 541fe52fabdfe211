#pragma once
// The test report: per chamber a header (period, source files with their SHA-256, version,
// time made), the chart, the summary and the events; a first page with one line per chamber
// when there are several. Written as an A4 PDF (vector chart, searchable text) or as one
// self-contained HTML file with the same content.
#include "ChartModel.h"
#include "LocalClock.h"
#include "PlotInput.h"
#include "core/RunSummary.h"

#include <QDateTime>
#include <QString>

struct ReportSettings {
    RegionalSettings settings;
    QString title;    // empty: the default title
    QString customer; // empty: no customer line
    double band = 2.0;
    std::optional<QDateTime> from, to;
    QString version; // of the program
    QDateTime madeAt;
};

struct ChamberReport {
    ChamberReadings chamber;
    RunSummary summary;
    ChartModel chart;
    QList<SourceFile> sources; // its own files and the journals
};

struct ReportContent {
    ReportSettings settings;
    QList<SourceFile> sources;
    QList<ChamberReport> chambers;
};

// The figures of each chamber of the input; journal events go to the chamber they name, and
// the logger's own ones to every chamber.
ReportContent BuildReport(const LoadedInput &loaded, const ReportSettings &settings,
                          LocalClock &clock);

// Writes the file whole or not at all; an error text ("<cause>") or an empty string.
QString WriteReportPdf(const ReportContent &report, const QString &path);
QString WriteReportHtml(const ReportContent &report, const QString &path);

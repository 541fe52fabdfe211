#pragma once
// What a test report says, before any word or layout: per chamber its readings, the figures of
// its run, the chart model and the source files; the settings it was asked with.
#include "ChartModel.h"
#include "LocalClock.h"
#include "PlotInput.h"
#include "core/AuditTrail.h"
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

// One audit trail given with --audit: its files, oldest first, checked as one chain, and its
// lines.
struct AuditTrailReport {
    QStringList files;
    AuditVerification verification;
    QList<QJsonObject> lines;
};

struct ReportContent {
    ReportSettings settings;
    QList<SourceFile> sources;
    QList<AuditTrailReport> audits;
    QList<ChamberReport> chambers;
};

// The figures of each chamber of the input; journal events go to the chamber they name, and
// the logger's own ones to every chamber.
// The writes to each chamber of the trails go to its events.
ReportContent BuildReport(const LoadedInput &loaded, const ReportSettings &settings,
                          LocalClock &clock, const QList<AuditTrailReport> &audits = {});

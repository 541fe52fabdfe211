#include "ReportModel.h"

#include "core/AuditReportEvents.h"

#include <QFileInfo>
#include <algorithm>

ReportContent BuildReport(const LoadedInput &loaded, const ReportSettings &settings,
                          LocalClock &clock, const QList<AuditTrailReport> &audits) {
    ReportContent report;
    report.settings = settings;
    report.sources = loaded.sources;
    report.audits = audits;
    for (const ChamberReadings &chamber : loaded.chambers) {
        ChamberReport chamberReport;
        chamberReport.chamber = chamber;
        RunInput input;
        input.readings = chamber.readings;
        for (const Reading &reading : chamber.readings)
            input.instants.append(clock.Instant(reading) / 1000);
        for (const StoredJournalEvent &event : loaded.events)
            if (!event.chamber || event.chamber == chamber.chamber)
                input.events.append(event);
        if (settings.from)
            input.from = settings.from->toSecsSinceEpoch();
        if (settings.to)
            input.to = settings.to->toSecsSinceEpoch();
        input.band = settings.band;
        if (chamber.chamber)
            for (const AuditTrailReport &trail : audits)
                input.writes += AuditWriteEvents(trail.lines, *chamber.chamber);
        input.damagedLines = chamber.damagedLines + loaded.journalDamagedLines;
        chamberReport.summary = SummariseRun(input);

        for (const SourceFile &source : loaded.sources) {
            const bool own = chamber.chamber
                                 ? source.chamber == chamber.chamber && !source.journal
                                 : !source.chamber && !source.journal &&
                                       QFileInfo(source.path).fileName() == chamber.label;
            if (own || source.journal)
                chamberReport.sources.append(source);
        }

        // The chart shows the period only.
        ChamberReadings shown = chamber;
        shown.readings.clear();
        for (qsizetype i = 0; i < chamber.readings.size(); ++i) {
            const qint64 instant = input.instants[i];
            if ((!input.from || instant >= *input.from) && (!input.to || instant <= *input.to))
                shown.readings.append(chamber.readings[i]);
        }
        chamberReport.chart =
            BuildChartModel({shown}, DefaultTitle({shown}, settings.settings), clock);
        if (!chamberReport.chart.chambers.isEmpty()) {
            ChamberModel &model = chamberReport.chart.chambers.first();
            for (const RunEvent &event : chamberReport.summary.events) {
                if (event.kind != RunEventKind::Outage)
                    continue;
                const qreal end =
                    event.end ? event.end->instant * 1000.0
                              : std::max(chamberReport.chart.xMax, event.start.instant * 1000.0);
                model.outages.append({event.start.instant * 1000.0, end});
            }
        }
        report.chambers.append(chamberReport);
    }
    return report;
}

#pragma once
// Every word of the test report, in one place: the labels and headings, the names of events
// and outage reasons, and how figures, moments and spans are written out. The report's
// document (ReportDocument) says where each goes; the files' writers add none of their own.
#include "ReportModel.h"

#include <QString>

namespace ReportWords {

enum class Label {
    Chamber,
    Customer,
    Period,
    FirstAndLastRecord,
    SourceFiles,
    MadeBy, // the tool that made the report, not the chamber's program
    MadeAt,
    Overview,
    Summary,
    Events,
    NoEvents,
    Duration,
    Records,
    Minimum,
    Maximum,
    Mean,
    Programs,
    Steps,
    Cycles,
    CyclesCompleted,
    LargestHoldDeviation,
    Outages,
    DamagedLines,
    Event,
    Start,
    End,
    Details,
    ShortMinimum,
    ShortMaximum,
    ShortMean,
    Signature, // the line the operator signs
    AuditTrails,
};
QString Text(Label label);

QString Title(const ReportSettings &settings);
QString ChamberTitle(const ReportSettings &settings, const ChamberReadings &chamber);
QString MadeBy(const QString &version);
QString Moment(const RegionalSettings &settings, const QDate &date, const QTime &time);
QString Moment(const RegionalSettings &settings, const RunMoment &moment);
QString Moment(const RegionalSettings &settings, const QDateTime &moment);
QString Degrees(const RegionalSettings &settings, double value);
// "3 сут 04:05:06" or "4:05:06".
QString Duration(qint64 seconds);
// "1–3, 5" from 1, 2, 3, 5; "нет" for none.
QString Numbers(const QList<int> &numbers);
QString Figure(const RegionalSettings &settings, const std::optional<RunFigure> &figure);
QString Mean(const RegionalSettings &settings, const std::optional<double> &mean);
QString Records(const RunSummary &summary);
QString Period(const ReportSettings &settings, const RunSummary &summary);
QString FirstAndLast(const ReportSettings &settings, const RunSummary &summary);
QString SourceDigest(const SourceFile &source); // "SHA-256 <hex>"
// A trail's files and its head, or where its chain breaks.
QString AuditTrailFiles(const AuditTrailReport &trail);
QString AuditTrailHead(const AuditTrailReport &trail);
QString NoValue();                              // a cell with nothing to say

// The time within the band: the heading of its row, its figure, and both shortened for the
// overview's column.
QString BandTitle(const ReportSettings &settings);
QString Band(const ReportSettings &settings, const RunSummary &summary);
QString ShortBandTitle(const ReportSettings &settings);
QString ShortBand(const ReportSettings &settings, const RunSummary &summary);
QString Hold(const ReportSettings &settings, const RunSummary &summary);
QString Outages(const RunSummary &summary);

struct EventWords {
    QString what, detail;
};
EventWords Event(const RegionalSettings &settings, const RunEvent &event);

QString ChartLegend(const ChamberReadings &chamber);
QString PageOf(int page, int pages); // 1-based

} // namespace ReportWords

#include "ReportDocument.h"

#include "ReportWords.h"
#include "core/IntegerText.h"

#include <QFileInfo>

using namespace ReportWords;

namespace {

ReportCell Cell(const QString &text) { return {ReportLine{text}}; }

ReportBlock Block(ReportBlock::Kind kind, const QString &text = {}) {
    ReportBlock block;
    block.kind = kind;
    block.text = text;
    return block;
}

ReportBlock TableBlock(const ReportTable &table) {
    ReportBlock block = Block(ReportBlock::Kind::Table);
    block.table = table;
    return block;
}

void AddRow(ReportTable &table, Label key, const ReportCell &value) {
    table.rows.append({Cell(Text(key)), value});
}

void AddRow(ReportTable &table, Label key, const QString &value) {
    AddRow(table, key, Cell(value));
}

ReportCell SourcesCell(const QList<SourceFile> &sources) {
    ReportCell cell;
    for (const SourceFile &source : sources) {
        cell.append({QFileInfo(source.path).fileName()});
        cell.append({SourceDigest(source), true});
    }
    return cell;
}

ReportTable Header(const ReportContent &report, const ChamberReport *chamber) {
    const ReportSettings &settings = report.settings;
    ReportTable table;
    table.keyValue = true;
    if (chamber)
        AddRow(table, Label::Chamber, chamber->chamber.label);
    if (!settings.customer.isEmpty())
        AddRow(table, Label::Customer, settings.customer);
    if (chamber) {
        AddRow(table, Label::Period, Period(settings, chamber->summary));
        AddRow(table, Label::FirstAndLastRecord, FirstAndLast(settings, chamber->summary));
    }
    AddRow(table, Label::SourceFiles, SourcesCell(chamber ? chamber->sources : report.sources));
    if (!report.audits.isEmpty()) {
        ReportCell trails;
        for (const AuditTrailReport &trail : report.audits) {
            trails.append({AuditTrailFiles(trail)});
            trails.append({AuditTrailHead(trail), true});
        }
        AddRow(table, Label::AuditTrails, trails);
    }
    AddRow(table, Label::MadeBy, MadeBy(settings.version));
    AddRow(table, Label::MadeAt, Moment(settings.settings, settings.madeAt));
    return table;
}

ReportTable Overview(const ReportContent &report) {
    const ReportSettings &settings = report.settings;
    const RegionalSettings &regional = settings.settings;
    ReportTable table;
    table.head = {Text(Label::Chamber),      Text(Label::Period),       Text(Label::Duration),
                  Text(Label::ShortMinimum), Text(Label::ShortMaximum), Text(Label::ShortMean),
                  ShortBandTitle(settings),  Text(Label::Outages)};
    for (const ChamberReport &chamber : report.chambers) {
        const RunSummary &s = chamber.summary;
        table.rows.append({Cell(chamber.chamber.label), Cell(Period(settings, s)),
                           Cell(Duration(s.durationSeconds)),
                           Cell(s.minimum ? Degrees(regional, s.minimum->value) : QString()),
                           Cell(s.maximum ? Degrees(regional, s.maximum->value) : QString()),
                           Cell(s.mean ? Degrees(regional, *s.mean) : QString()),
                           Cell(ShortBand(settings, s)), Cell(Outages(s))});
    }
    return table;
}

ReportTable Summary(const ReportSettings &settings, const RunSummary &summary) {
    const RegionalSettings &regional = settings.settings;
    ReportTable table;
    table.keyValue = true;
    AddRow(table, Label::Duration, Duration(summary.durationSeconds));
    AddRow(table, Label::Records, Records(summary));
    AddRow(table, Label::Minimum, Figure(regional, summary.minimum));
    AddRow(table, Label::Maximum, Figure(regional, summary.maximum));
    AddRow(table, Label::Mean, Mean(regional, summary.mean));
    AddRow(table, Label::Programs, Numbers(summary.programs));
    AddRow(table, Label::Steps, Numbers(summary.steps));
    AddRow(table, Label::Cycles, Numbers(summary.cycles));
    AddRow(table, Label::CyclesCompleted, IntToText(summary.cyclesCompleted));
    table.rows.append({Cell(BandTitle(settings)), Cell(Band(settings, summary))});
    AddRow(table, Label::LargestHoldDeviation, Hold(settings, summary));
    AddRow(table, Label::Outages, Outages(summary));
    AddRow(table, Label::DamagedLines, IntToText(summary.damagedLines));
    return table;
}

ReportTable Events(const RegionalSettings &settings, const RunSummary &summary) {
    ReportTable table;
    table.head = {Text(Label::Event), Text(Label::Start), Text(Label::End), Text(Label::Duration),
                  Text(Label::Details)};
    table.headWidths = {17, 16, 16, 17, 0};
    for (const RunEvent &event : summary.events) {
        const EventWords words = Event(settings, event);
        const auto seconds = event.seconds();
        table.rows.append({Cell(words.what), Cell(Moment(settings, event.start)),
                           Cell(event.end ? Moment(settings, *event.end) : NoValue()),
                           Cell(seconds ? Duration(*seconds) : NoValue()), Cell(words.detail)});
    }
    return table;
}

} // namespace

ReportDocument ReportDocumentOf(const ReportContent &report, bool signatureAfterEachChamber) {
    const ReportSettings &settings = report.settings;
    ReportDocument document;
    document.title = Title(settings);
    document.creator = MadeBy(settings.version);
    document.signature = Text(Label::Signature);
    const bool several = report.chambers.size() > 1;
    if (several) {
        document.blocks.append(Block(ReportBlock::Kind::Title, Title(settings)));
        document.blocks.append(TableBlock(Header(report, nullptr)));
        document.blocks.append(Block(ReportBlock::Kind::Heading, Text(Label::Overview)));
        document.blocks.append(TableBlock(Overview(report)));
    }
    for (qsizetype i = 0; i < report.chambers.size(); ++i) {
        const ChamberReport &chamber = report.chambers[i];
        ReportBlock title =
            Block(ReportBlock::Kind::Title, ChamberTitle(settings, chamber.chamber));
        title.newPage = several;
        document.blocks.append(title);
        document.blocks.append(TableBlock(Header(report, &chamber)));
        ReportBlock chart = Block(ReportBlock::Kind::Chart);
        chart.chart = static_cast<int>(i);
        document.blocks.append(chart);
        document.blocks.append(Block(ReportBlock::Kind::Legend, ChartLegend(chamber.chamber)));
        document.blocks.append(Block(ReportBlock::Kind::Heading, Text(Label::Summary)));
        document.blocks.append(TableBlock(Summary(settings, chamber.summary)));
        document.blocks.append(Block(ReportBlock::Kind::Heading, Text(Label::Events)));
        if (chamber.summary.events.isEmpty())
            document.blocks.append(Block(ReportBlock::Kind::Paragraph, Text(Label::NoEvents)));
        else
            document.blocks.append(TableBlock(Events(settings.settings, chamber.summary)));
        if (signatureAfterEachChamber)
            document.blocks.append(Block(ReportBlock::Kind::Signature, document.signature));
    }
    return document;
}

#include "Report.h"

#include "ChartBuilder.h"
#include "core/ExchangeOutcome.h"
#include "core/IntegerText.h"
#include "core/NumberText.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObjectInterface>
#include <cmath>
#include <functional>
#include <memory>

namespace {

// The chart is laid out at this size and scaled to the page: its texts then read at about
// 6 to 7 points on A4.
const QSize kChartLayoutSize(960, 500);
constexpr int kChartObjectType = QTextFormat::UserObject + 1;
constexpr int kChartIndexProperty = QTextFormat::UserProperty + 1;
const QString kChartSource = QStringLiteral("kalvora-chart:");

QString MomentText(const RegionalSettings &settings, const QDate &date, const QTime &time) {
    const std::tm moment = AsTm(date, time);
    return FormatDate(settings, moment) + QLatin1Char(' ') + FormatTime(settings, moment);
}

QString MomentText(const RegionalSettings &settings, const RunMoment &moment) {
    return MomentText(settings, moment.date, moment.time);
}

QString E(const QString &text) { return text.toHtmlEscaped(); }

QString Decimal(const RegionalSettings &settings, double value, int decimals = 1) {
    const double scale = std::pow(10.0, decimals);
    return FloatToText(std::round(value * scale) / scale, settings.decimalSeparator);
}

QString Degrees(const RegionalSettings &settings, double value) {
    return Decimal(settings, value) + QStringLiteral(" °C");
}

// "3 сут 04:05:06" or "4:05:06".
QString DurationText(qint64 seconds) {
    const qint64 days = seconds / 86400;
    seconds %= 86400;
    const QString clock = IntToText(seconds / 3600) + QLatin1Char(':') +
                          TwoDigitText(static_cast<unsigned>(seconds / 60 % 60)) +
                          QLatin1Char(':') + TwoDigitText(static_cast<unsigned>(seconds % 60));
    return days > 0 ? IntToText(days) + QStringLiteral(" сут ") + clock : clock;
}

// "1–3, 5" from 1, 2, 3, 5.
QString NumbersText(const QList<int> &numbers) {
    QStringList parts;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts.append(j > i ? IntToText(numbers[i]) + QStringLiteral("–") + IntToText(numbers[j])
                           : IntToText(numbers[i]));
        i = j + 1;
    }
    return parts.isEmpty() ? QStringLiteral("нет") : parts.join(QStringLiteral(", "));
}

QString FigureText(const RegionalSettings &settings, const std::optional<RunFigure> &figure) {
    if (!figure)
        return QStringLiteral("нет данных");
    return Degrees(settings, figure->value) + QStringLiteral(" (") +
           MomentText(settings, figure->at) + QLatin1Char(')');
}

QString ReasonText(const QString &reason) {
    if (reason.isEmpty())
        return QStringLiteral("пропуск в записях");
    if (reason.startsWith(QStringLiteral("port lost: ")))
        return OutcomeRussian(ExchangeOutcome::PortLost) + QStringLiteral(": ") + reason.mid(11);
    return OutcomeRussian(reason);
}

QString AlarmKindText(const QString &kind) {
    static const QList<QPair<QString, QString>> names = {
        {QStringLiteral("high"), QStringLiteral("выше верхнего предела")},
        {QStringLiteral("low"), QStringLiteral("ниже нижнего предела")},
        {QStringLiteral("deviation"), QStringLiteral("отклонение от заданной")},
        {QStringLiteral("silent"), QStringLiteral("камера молчит")},
        {QStringLiteral("sensor"), QStringLiteral("неисправность датчика")},
    };
    for (const auto &[name, text] : names)
        if (kind == name)
            return text;
    return kind;
}

struct EventRow {
    QString what, detail;
};

EventRow EventText(const RegionalSettings &settings, const RunEvent &event) {
    switch (event.kind) {
    case RunEventKind::Outage:
        return {QStringLiteral("Перерыв связи"), ReasonText(event.detail)};
    case RunEventKind::Alarm: {
        QStringList parts = {AlarmKindText(event.detail)};
        if (event.value)
            parts.append(QStringLiteral("значение ") + Degrees(settings, *event.value));
        if (event.limit)
            parts.append(QStringLiteral("предел ") + Degrees(settings, *event.limit));
        if (!event.message.isEmpty())
            parts.append(event.message);
        return {QStringLiteral("Авария"), parts.join(QStringLiteral("; "))};
    }
    case RunEventKind::Program:
        return {QStringLiteral("Программа ") + IntToText(event.program.value_or(0)), QString()};
    case RunEventKind::LoggerRunning: {
        QStringList parts;
        if (!event.message.isEmpty())
            parts.append(QStringLiteral("версия ") + event.message);
        if (!event.detail.isEmpty())
            parts.append(QStringLiteral("остановлен: ") + event.detail);
        else if (!event.end)
            parts.append(QStringLiteral("остановка не записана"));
        return {QStringLiteral("Регистратор запущен"), parts.join(QStringLiteral("; "))};
    }
    }
    return {};
}

QString ReportTitle(const ReportContent &report) {
    return report.settings.title.isEmpty() ? QStringLiteral("Протокол испытаний")
                                           : report.settings.title;
}

QString PeriodText(const ReportSettings &settings, const RunSummary &summary) {
    const QString first = summary.first ? MomentText(settings.settings, *summary.first) : QString();
    const QString last = summary.last ? MomentText(settings.settings, *summary.last) : QString();
    const QString from =
        settings.from ? MomentText(settings.settings, settings.from->date(), settings.from->time())
                      : first;
    const QString to = settings.to
                           ? MomentText(settings.settings, settings.to->date(), settings.to->time())
                           : last;
    return from + QStringLiteral(" – ") + to;
}

QString BandTitle(const ReportSettings &settings) {
    return QStringLiteral("Время в пределах ±") + Decimal(settings.settings, settings.band, 2) +
           QStringLiteral(" °C от заданной");
}

const QString kNoSetTemperature = QStringLiteral("в данных нет заданной температуры");

QString BandText(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.inBandSeconds)
        return kNoSetTemperature;
    QString text = Decimal(settings.settings, *summary.inBandSeconds / 60.0) +
                   QStringLiteral(" мин из ") +
                   Decimal(settings.settings, summary.withSetSeconds.value_or(0) / 60.0);
    if (summary.inBandShare)
        text += QStringLiteral(" (") + Decimal(settings.settings, *summary.inBandShare * 100) +
                QStringLiteral(" %)");
    return text;
}

QString HoldText(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.inBandSeconds)
        return kNoSetTemperature;
    if (!summary.largestHoldDeviation)
        return summary.hasHoldFigures ? QStringLiteral("выдержек в данных нет")
                                      : QStringLiteral("в данных нет времени выхода на режим");
    const double value = summary.largestHoldDeviation->value;
    return (value > 0 ? QStringLiteral("+") : QString()) +
           FigureText(settings.settings, summary.largestHoldDeviation);
}

QString OutagesText(const RunSummary &summary) {
    if (summary.outages == 0)
        return QStringLiteral("нет");
    return IntToText(summary.outages) + QStringLiteral(", всего ") +
           DurationText(summary.outageSeconds);
}

const QString kTable =
    QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\" "
                   "style=\"border-collapse: collapse; border-color: #808080;\">");

QString Row(const QStringList &cells, bool head = false) {
    const QString tag = head ? QStringLiteral("th") : QStringLiteral("td");
    QString row = QStringLiteral("<tr>");
    for (const QString &cell : cells)
        row += QLatin1Char('<') + tag + QLatin1Char('>') + cell + QStringLiteral("</") + tag +
               QLatin1Char('>');
    return row + QStringLiteral("</tr>\n");
}

QString KeyValue(const QString &key, const QString &value) {
    return QStringLiteral("<tr><td width=\"38%\"><b>") + key + QStringLiteral("</b></td><td>") +
           value + QStringLiteral("</td></tr>\n");
}

QString SourcesHtml(const QList<SourceFile> &sources) {
    QStringList lines;
    for (const SourceFile &source : sources)
        lines.append(E(QFileInfo(source.path).fileName()) +
                     QStringLiteral("<br><span style=\"font-family: monospace; font-size: "
                                    "7pt;\">SHA-256 ") +
                     QString::fromLatin1(source.sha256.toHex()) + QStringLiteral("</span>"));
    return lines.join(QStringLiteral("<br>"));
}

QString SummaryTableHtml(const ReportSettings &settings, const RunSummary &summary) {
    const RegionalSettings &regional = settings.settings;
    QString html = kTable;
    html += KeyValue(QStringLiteral("Длительность"), DurationText(summary.durationSeconds));
    html += KeyValue(QStringLiteral("Записей"),
                     IntToText(summary.records) + QStringLiteral(" (интервал записи ") +
                         IntToText(summary.recordIntervalSeconds) + QStringLiteral(" с)"));
    html +=
        KeyValue(QStringLiteral("Минимальная температура"), FigureText(regional, summary.minimum));
    html +=
        KeyValue(QStringLiteral("Максимальная температура"), FigureText(regional, summary.maximum));
    html +=
        KeyValue(QStringLiteral("Средняя температура"),
                 summary.mean ? Degrees(regional, *summary.mean) : QStringLiteral("нет данных"));
    html += KeyValue(QStringLiteral("Программы"), NumbersText(summary.programs));
    html += KeyValue(QStringLiteral("Шаги"), NumbersText(summary.steps));
    html += KeyValue(QStringLiteral("Циклы"), NumbersText(summary.cycles));
    html += KeyValue(QStringLiteral("Циклов завершено"), IntToText(summary.cyclesCompleted));
    html += KeyValue(E(BandTitle(settings)), BandText(settings, summary));
    html +=
        KeyValue(QStringLiteral("Наибольшее отклонение на выдержке"), HoldText(settings, summary));
    html += KeyValue(QStringLiteral("Перерывы связи"), OutagesText(summary));
    html +=
        KeyValue(QStringLiteral("Пропущено повреждённых строк"), IntToText(summary.damagedLines));
    return html + QStringLiteral("</table>\n");
}

QString EventsTableHtml(const ReportSettings &settings, const RunSummary &summary) {
    if (summary.events.isEmpty())
        return QStringLiteral("<p>Событий нет.</p>\n");
    QString html = kTable + QStringLiteral("<thead><tr><th width=\"17%\">Событие</th>"
                                           "<th width=\"16%\">Начало</th>"
                                           "<th width=\"16%\">Конец</th>"
                                           "<th width=\"17%\">Длительность</th>"
                                           "<th>Подробности</th></tr></thead>\n");
    for (const RunEvent &event : summary.events) {
        const EventRow text = EventText(settings.settings, event);
        const auto seconds = event.seconds();
        html += Row({E(text.what), MomentText(settings.settings, event.start),
                     event.end ? MomentText(settings.settings, *event.end) : QStringLiteral("—"),
                     seconds ? DurationText(*seconds) : QStringLiteral("—"), E(text.detail)});
    }
    return html + QStringLiteral("</table>\n");
}

QString OverviewHtml(const ReportContent &report) {
    const ReportSettings &settings = report.settings;
    QString html =
        QStringLiteral("<h2>Сводка по камерам</h2>\n") + kTable +
        Row({QStringLiteral("Камера"), QStringLiteral("Период"), QStringLiteral("Длительность"),
             QStringLiteral("Мин."), QStringLiteral("Макс."), QStringLiteral("Средняя"),
             QStringLiteral("В пределах ±") + Decimal(settings.settings, settings.band, 2) +
                 QStringLiteral(" °C"),
             QStringLiteral("Перерывы связи")},
            true);
    for (const ChamberReport &chamber : report.chambers) {
        const RunSummary &s = chamber.summary;
        html +=
            Row({E(chamber.chamber.label), PeriodText(settings, s), DurationText(s.durationSeconds),
                 s.minimum ? Degrees(settings.settings, s.minimum->value) : QString(),
                 s.maximum ? Degrees(settings.settings, s.maximum->value) : QString(),
                 s.mean ? Degrees(settings.settings, *s.mean) : QString(), BandText(settings, s),
                 OutagesText(s)});
    }
    return html + QStringLiteral("</table>\n");
}

QString HeaderHtml(const ReportContent &report, const ChamberReport *chamber) {
    const ReportSettings &settings = report.settings;
    QString html = kTable;
    if (chamber)
        html += KeyValue(QStringLiteral("Камера"), E(chamber->chamber.label));
    if (!settings.customer.isEmpty())
        html += KeyValue(QStringLiteral("Заказчик"), E(settings.customer));
    if (chamber) {
        const RunSummary &s = chamber->summary;
        html += KeyValue(QStringLiteral("Период"), PeriodText(settings, s));
        html += KeyValue(QStringLiteral("Первая и последняя запись"),
                         MomentText(settings.settings, *s.first) + QStringLiteral(" – ") +
                             MomentText(settings.settings, *s.last));
    }
    html += KeyValue(QStringLiteral("Исходные файлы"),
                     SourcesHtml(chamber ? chamber->sources : report.sources));
    html += KeyValue(QStringLiteral("Программа"),
                     QStringLiteral("kalvora-plot ") + E(settings.version));
    html += KeyValue(QStringLiteral("Отчёт составлен"),
                     MomentText(settings.settings, settings.madeAt.date(), settings.madeAt.time()));
    return html + QStringLiteral("</table>\n");
}

const QString kSignature =
    QStringLiteral("Оператор: ______________________   Подпись: ______________   "
                   "Дата: ______________");

// The whole report; chartHtml gives the markup of chamber i's chart.
QString ReportHtml(const ReportContent &report, const std::function<QString(int)> &chartHtml,
                   bool signatureAfterEachChamber) {
    const QString title = E(ReportTitle(report));
    const bool several = report.chambers.size() > 1;
    QString html;
    if (several) {
        html += QStringLiteral("<h1>") + title + QStringLiteral("</h1>\n");
        html += HeaderHtml(report, nullptr);
        html += OverviewHtml(report);
    }
    for (qsizetype i = 0; i < report.chambers.size(); ++i) {
        const ChamberReport &chamber = report.chambers[i];
        html += QStringLiteral("<h1") +
                (several ? QStringLiteral(" style=\"page-break-before: always;\"") : QString()) +
                QLatin1Char('>') + title + QStringLiteral(". ") + E(chamber.chamber.label) +
                QStringLiteral("</h1>\n");
        html += HeaderHtml(report, &chamber);
        html += QStringLiteral("<p align=\"center\">") + chartHtml(static_cast<int>(i)) +
                QStringLiteral("</p>\n");
        html += QStringLiteral("<p style=\"font-size: 7pt;\">Зелёная линия — текущая "
                               "температура") +
                (chamber.chamber.hasSetTemperature ? QStringLiteral(", красная — заданная")
                                                   : QString()) +
                QStringLiteral("; серым отмечены перерывы связи; метки внизу — смена "
                               "программы, шага или цикла.</p>\n");
        html += QStringLiteral("<h2>Сводка</h2>\n") +
                SummaryTableHtml(report.settings, chamber.summary);
        html += QStringLiteral("<h2>События</h2>\n") +
                EventsTableHtml(report.settings, chamber.summary);
        if (signatureAfterEachChamber)
            html += QStringLiteral("<p style=\"margin-top: 24px;\">") + kSignature +
                    QStringLiteral("</p>\n");
    }
    return html;
}

// A chart laid out in a scene of its own, to be painted at any size.
class LaidOutChart {
public:
    LaidOutChart(const ChartModel &model, const RegionalSettings &settings) {
        QChart *chart = BuildChart(model, settings, kChartLayoutSize);
        scene_.addItem(chart); // the scene owns it from here
        chart->setGeometry(QRectF(QPointF(0, 0), kChartLayoutSize));
        // The chart lays out its plot area and series on posted layout requests.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    void Paint(QPainter *painter, const QRectF &target) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        scene_.render(painter, target, QRectF(QPointF(0, 0), kChartLayoutSize));
        painter->restore();
    }

private:
    QGraphicsScene scene_;
};

std::vector<std::unique_ptr<LaidOutChart>> LayOutCharts(const ReportContent &report) {
    std::vector<std::unique_ptr<LaidOutChart>> charts;
    for (const ChamberReport &chamber : report.chambers)
        charts.push_back(std::make_unique<LaidOutChart>(chamber.chart, report.settings.settings));
    return charts;
}

// Paints the charts where the document holds their objects, as vectors.
class ChartObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    ChartObject(std::vector<std::unique_ptr<LaidOutChart>> &charts, qreal width)
        : charts_(charts), width_(width) {}
    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &) override {
        return QSizeF(width_, width_ * kChartLayoutSize.height() / kChartLayoutSize.width());
    }
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int,
                    const QTextFormat &format) override {
        const int index = format.intProperty(kChartIndexProperty);
        if (index >= 0 && index < static_cast<int>(charts_.size()))
            charts_[index]->Paint(painter, rect);
    }

private:
    std::vector<std::unique_ptr<LaidOutChart>> &charts_;
    qreal width_;
};

// The <img src="kalvora-chart:N"> placeholders become chart objects.
void PlaceCharts(QTextDocument &document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (!fragment.charFormat().isImageFormat() || !image.name().startsWith(kChartSource))
                continue;
            QTextCharFormat chart;
            chart.setObjectType(kChartObjectType);
            chart.setProperty(kChartIndexProperty, image.name().mid(kChartSource.size()).toInt());
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + 1, QTextCursor::KeepAnchor);
            cursor.insertText(QString(QChar::ObjectReplacementCharacter), chart);
            break; // the block's fragments changed
        }
    }
}

QString SaveError(QSaveFile &file) {
    const QString error = file.errorString();
    file.cancelWriting();
    return error.isEmpty() ? QStringLiteral("write failed") : error;
}

QString SvgDataUrl(LaidOutChart &chart) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(kChartLayoutSize);
    generator.setViewBox(QRect(QPoint(0, 0), kChartLayoutSize));
    {
        QPainter painter(&generator);
        chart.Paint(&painter, QRectF(QPointF(0, 0), kChartLayoutSize));
    }
    return QStringLiteral("data:image/svg+xml;base64,") +
           QString::fromLatin1(buffer.data().toBase64());
}

} // namespace

ReportContent BuildReport(const LoadedInput &loaded, const ReportSettings &settings,
                          LocalClock &clock) {
    ReportContent report;
    report.settings = settings;
    report.sources = loaded.sources;
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

QString WriteReportPdf(const ReportContent &report, const QString &path) {
    auto charts = LayOutCharts(report);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveError(file);
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setPageMargins(QMarginsF(18, 15, 12, 12), QPageLayout::Millimeter);
    writer.setTitle(ReportTitle(report));
    writer.setCreator(QStringLiteral("kalvora-plot ") + report.settings.version);

    QPainter painter;
    if (!painter.begin(&writer))
        return SaveError(file);
    QFont font;
    font.setPointSizeF(9);
    QFont footerFont = font;
    footerFont.setPointSizeF(8);
    const QFontMetricsF footerMetrics(footerFont, &writer);
    const qreal footerHeight = footerMetrics.lineSpacing() * 3;
    const QSizeF page(writer.width(), writer.height() - footerHeight);

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDefaultFont(font);
    document.setPageSize(page);
    ChartObject chartObject(charts, page.width() * 0.98);
    document.documentLayout()->registerHandler(kChartObjectType, &chartObject);
    document.setHtml(ReportHtml(
        report,
        [](int index) {
            return QStringLiteral("<img src=\"") + kChartSource + IntToText(index) +
                   QStringLiteral("\">");
        },
        false));
    PlaceCharts(document);

    const int pages = document.pageCount();
    for (int index = 0; index < pages; ++index) {
        if (index > 0)
            writer.newPage();
        painter.save();
        painter.translate(0, -index * page.height());
        document.drawContents(&painter, QRectF(QPointF(0, index * page.height()), page));
        painter.restore();
        painter.setFont(footerFont);
        painter.setPen(Qt::black);
        const qreal top = page.height() + footerMetrics.lineSpacing() * 0.8;
        painter.drawLine(QPointF(0, top - footerMetrics.lineSpacing() * 0.4),
                         QPointF(page.width(), top - footerMetrics.lineSpacing() * 0.4));
        const QRectF line(0, top, page.width(), footerMetrics.lineSpacing());
        painter.drawText(line, Qt::AlignLeft | Qt::AlignTop, kSignature);
        painter.drawText(line.translated(0, footerMetrics.lineSpacing()),
                         Qt::AlignRight | Qt::AlignTop,
                         QStringLiteral("Страница ") + IntToText(index + 1) +
                             QStringLiteral(" из ") + IntToText(pages));
        painter.drawText(line.translated(0, footerMetrics.lineSpacing()),
                         Qt::AlignLeft | Qt::AlignTop, ReportTitle(report));
    }
    if (!painter.end())
        return SaveError(file);
    if (!file.commit())
        return file.errorString();
    return {};
}

QString WriteReportHtml(const ReportContent &report, const QString &path) {
    auto charts = LayOutCharts(report);
    const QString body = ReportHtml(
        report,
        [&charts](int index) {
            return QStringLiteral("<img alt=\"\" style=\"width: 100%; max-width: 1200px;\" "
                                  "src=\"") +
                   SvgDataUrl(*charts[index]) + QStringLiteral("\">");
        },
        true);
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>") +
        E(ReportTitle(report)) +
        QStringLiteral("</title>\n<style>\n"
                       "body { font-family: sans-serif; font-size: 10pt; max-width: 60em; "
                       "margin: 2em auto; }\n"
                       "table { border-collapse: collapse; margin-bottom: 1em; }\n"
                       "td, th { border: 1px solid #808080; padding: 3px 6px; text-align: left; "
                       "vertical-align: top; }\n"
                       "@page { size: A4; margin: 15mm 12mm 15mm 18mm; }\n"
                       "</style>\n</head>\n<body>\n") +
        body + QStringLiteral("</body>\n</html>\n");
    const QByteArray bytes = html.toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return SaveError(file);
    if (!file.commit())
        return file.errorString();
    return {};
}

#include "Report.moc"

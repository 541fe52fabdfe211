#include "Report.h"

#include "ReportChart.h"
#include "ReportDocument.h"
#include "ReportMarkup.h"
#include "ReportWords.h"
#include "core/IntegerText.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextObjectInterface>

namespace {

constexpr int kChartObjectType = QTextFormat::UserObject + 1;
constexpr int kChartIndexProperty = QTextFormat::UserProperty + 1;
const QString kChartSource = QStringLiteral("kalvora-chart:");

// Paints the charts where the document holds their objects, as vectors.
class ChartObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    ChartObject(std::vector<std::unique_ptr<LaidOutChart>> &charts, qreal width)
        : charts_(charts), width_(width) {}
    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &) override {
        return QSizeF(width_,
                      width_ * kReportChartLayoutSize.height() / kReportChartLayoutSize.width());
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

} // namespace

// The document's markup laid out by Qt's rich text on A4 pages, the charts as vector objects,
// and a footer on every page: the signature line, the title and the page number.
QString WriteReportPdf(const ReportContent &report, const QString &path) {
    const ReportDocument content = ReportDocumentOf(report, false);
    auto charts = LayOutCharts(report);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveError(file);
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(300);
    writer.setPageMargins(QMarginsF(18, 15, 12, 12), QPageLayout::Millimeter);
    writer.setTitle(content.title);
    writer.setCreator(content.creator);

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
    document.setHtml(ReportBodyHtml(content, [](int index) {
        return QStringLiteral("<img src=\"") + kChartSource + IntToText(index) +
               QStringLiteral("\">");
    }));
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
        painter.drawText(line, Qt::AlignLeft | Qt::AlignTop, content.signature);
        const QRectF below = line.translated(0, footerMetrics.lineSpacing());
        painter.drawText(below, Qt::AlignRight | Qt::AlignTop,
                         ReportWords::PageOf(index + 1, pages));
        painter.drawText(below, Qt::AlignLeft | Qt::AlignTop, content.title);
    }
    if (!painter.end())
        return SaveError(file);
    if (!file.commit())
        return file.errorString();
    return {};
}

// The same markup in one self-contained page, the charts as SVG data, the signature after each
// chamber in place of the PDF's footer.
QString WriteReportHtml(const ReportContent &report, const QString &path) {
    const ReportDocument content = ReportDocumentOf(report, true);
    auto charts = LayOutCharts(report);
    const QString body = ReportBodyHtml(content, [&charts](int index) {
        return QStringLiteral("<img alt=\"\" style=\"width: 100%; max-width: 1200px;\" src=\"") +
               charts[index]->SvgDataUrl() + QStringLiteral("\">");
    });
    const QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>") +
        content.title.toHtmlEscaped() +
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

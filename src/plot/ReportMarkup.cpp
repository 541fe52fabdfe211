#include "ReportMarkup.h"

#include "core/IntegerText.h"

namespace {

QString E(const QString &text) { return text.toHtmlEscaped(); }

const QString kTable =
    QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\" "
                   "style=\"border-collapse: collapse; border-color: #808080;\">");

QString CellHtml(const ReportCell &cell) {
    QString html;
    for (qsizetype i = 0; i < cell.size(); ++i) {
        const ReportLine &line = cell[i];
        if (i > 0)
            html += QStringLiteral("<br>");
        html += line.fine ? QStringLiteral("<span style=\"font-family: monospace; font-size: "
                                           "7pt;\">") +
                                E(line.text) + QStringLiteral("</span>")
                          : E(line.text);
    }
    return html;
}

QString TableHtml(const ReportTable &table) {
    QString html = kTable;
    if (!table.head.isEmpty()) {
        html += QStringLiteral("<thead><tr>");
        for (qsizetype i = 0; i < table.head.size(); ++i) {
            const int width = table.headWidths.value(i);
            html += (width > 0 ? QStringLiteral("<th width=\"") + IntToText(width) +
                                     QStringLiteral("%\">")
                               : QStringLiteral("<th>")) +
                    E(table.head[i]) + QStringLiteral("</th>");
        }
        html += QStringLiteral("</tr></thead>\n");
    }
    for (const QList<ReportCell> &row : table.rows) {
        if (table.keyValue && row.size() == 2) {
            html += QStringLiteral("<tr><td width=\"38%\"><b>") + CellHtml(row[0]) +
                    QStringLiteral("</b></td><td>") + CellHtml(row[1]) +
                    QStringLiteral("</td></tr>\n");
            continue;
        }
        html += QStringLiteral("<tr>");
        for (const ReportCell &cell : row)
            html += QStringLiteral("<td>") + CellHtml(cell) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n");
}

} // namespace

QString ReportBodyHtml(const ReportDocument &document,
                       const std::function<QString(int)> &chartHtml) {
    QString html;
    for (const ReportBlock &block : document.blocks) {
        switch (block.kind) {
        case ReportBlock::Kind::Title:
            html += QStringLiteral("<h1") +
                    (block.newPage ? QStringLiteral(" style=\"page-break-before: always;\"")
                                   : QString()) +
                    QLatin1Char('>') + E(block.text) + QStringLiteral("</h1>\n");
            break;
        case ReportBlock::Kind::Heading:
            html += QStringLiteral("<h2>") + E(block.text) + QStringLiteral("</h2>\n");
            break;
        case ReportBlock::Kind::Table:
            html += TableHtml(block.table);
            break;
        case ReportBlock::Kind::Chart:
            html += QStringLiteral("<p align=\"center\">") + chartHtml(block.chart) +
                    QStringLiteral("</p>\n");
            break;
        case ReportBlock::Kind::Legend:
            html += QStringLiteral("<p style=\"font-size: 7pt;\">") + E(block.text) +
                    QStringLiteral("</p>\n");
            break;
        case ReportBlock::Kind::Paragraph:
            html += QStringLiteral("<p>") + E(block.text) + QStringLiteral("</p>\n");
            break;
        case ReportBlock::Kind::Signature:
            html += QStringLiteral("<p style=\"margin-top: 24px;\">") + E(block.text) +
                    QStringLiteral("</p>\n");
            break;
        }
    }
    return html;
}

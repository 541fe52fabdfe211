#include "ReportChart.h"

#include "ChartBuilder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QSvgGenerator>

LaidOutChart::LaidOutChart(const ChartModel &model, const RegionalSettings &settings) {
    QChart *chart = BuildChart(model, settings, kReportChartLayoutSize);
    scene_.addItem(chart); // the scene owns it from here
    chart->setGeometry(QRectF(QPointF(0, 0), kReportChartLayoutSize));
    // The chart lays out its plot area and series on posted layout requests.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void LaidOutChart::Paint(QPainter *painter, const QRectF &target) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    scene_.render(painter, target, QRectF(QPointF(0, 0), kReportChartLayoutSize));
    painter->restore();
}

QString LaidOutChart::SvgDataUrl() {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(kReportChartLayoutSize);
    generator.setViewBox(QRect(QPoint(0, 0), kReportChartLayoutSize));
    {
        QPainter painter(&generator);
        Paint(&painter, QRectF(QPointF(0, 0), kReportChartLayoutSize));
    }
    return QStringLiteral("data:image/svg+xml;base64,") +
           QString::fromLatin1(buffer.data().toBase64());
}

std::vector<std::unique_ptr<LaidOutChart>> LayOutCharts(const ReportContent &report) {
    std::vector<std::unique_ptr<LaidOutChart>> charts;
    for (const ChamberReport &chamber : report.chambers)
        charts.push_back(std::make_unique<LaidOutChart>(chamber.chart, report.settings.settings));
    return charts;
}

#pragma once
// A report's chart laid out once in a scene of its own, then painted at any size: as vectors
// into the PDF, or as SVG for the HTML file.
#include "ReportModel.h"

#include <QGraphicsScene>
#include <QPainter>
#include <QSize>
#include <memory>
#include <vector>

// The chart is laid out at this size and scaled to the page: its texts then read at about
// 6 to 7 points on A4.
inline const QSize kReportChartLayoutSize(960, 500);

class LaidOutChart {
public:
    LaidOutChart(const ChartModel &model, const RegionalSettings &settings);
    void Paint(QPainter *painter, const QRectF &target);
    // "data:image/svg+xml;base64,..."
    QString SvgDataUrl();

private:
    QGraphicsScene scene_;
};

// One a chamber, in the report's order.
std::vector<std::unique_ptr<LaidOutChart>> LayOutCharts(const ReportContent &report);

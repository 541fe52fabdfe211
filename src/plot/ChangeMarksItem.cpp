#include "ChangeMarksItem.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr qreal kTickLength = 8;
} // namespace

ChangeMarksItem::ChangeMarksItem(QChart *chart, const ChartModel &model, QDateTimeAxis *xAxis)
    : QGraphicsObject(chart), chart_(chart), xAxis_(xAxis) {
    for (const ChamberModel &chamber : model.chambers)
        chambers_.append({chamber.current.colour, chamber.marks, chamber.outages});
    setZValue(10);
    connect(chart, &QChart::plotAreaChanged, this, [this] {
        prepareGeometryChange();
        update();
    });
    connect(xAxis, &QDateTimeAxis::rangeChanged, this, [this] { update(); });
}

QRectF ChangeMarksItem::boundingRect() const { return chart_->plotArea(); }

void ChangeMarksItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) {
    const QRectF area = chart_->plotArea();
    const qreal from = static_cast<qreal>(xAxis_->min().toMSecsSinceEpoch());
    const qreal to = static_cast<qreal>(xAxis_->max().toMSecsSinceEpoch());
    if (area.isEmpty() || to <= from)
        return;
    painter->save();
    painter->setClipRect(area);
    // In scene pixels, as the chart's own texts: a printer's resolution must not enlarge it.
    QFont font = chart_->font();
    font.setPixelSize(std::max(1, qRound(QFontInfo(chart_->font()).pixelSize() * 0.9)));
    painter->setFont(font);
    const QFontMetricsF metrics(font);
    auto xOf = [&](qreal ms) { return area.left() + (ms - from) / (to - from) * area.width(); };
    for (const ColouredMarks &chamber : chambers_)
        for (const auto &[start, end] : chamber.outages)
            if (end >= from && start <= to)
                painter->fillRect(QRectF(QPointF(std::max(xOf(start), area.left()), area.top()),
                                         QPointF(std::min(xOf(end), area.right()), area.bottom())),
                                  QColor(128, 128, 128, 60));
    for (const ColouredMarks &chamber : chambers_) {
        qreal lastLabelled = -1e9;
        for (const ChangeMark &mark : chamber.marks) {
            if (mark.x < from || mark.x > to)
                continue;
            const qreal x = xOf(mark.x);
            painter->setPen(QPen(chamber.colour, 1));
            painter->drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() - kTickLength));
            // A text only where it does not run into the one before it.
            if (x - lastLabelled < metrics.height() + 2)
                continue;
            lastLabelled = x;
            QColor faint = chamber.colour;
            faint.setAlpha(110);
            painter->setPen(QPen(faint, 1, Qt::DotLine));
            painter->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom() - kTickLength));
            painter->save();
            painter->translate(x + 2, area.top() + 4);
            painter->rotate(90);
            const QRectF box(0, -metrics.ascent() - 1, metrics.horizontalAdvance(mark.text) + 2,
                             metrics.height());
            painter->fillRect(box, QColor(255, 255, 255, 200));
            painter->setPen(chamber.colour);
            painter->drawText(QPointF(1, 0), mark.text);
            painter->restore();
        }
    }
    painter->restore();
}

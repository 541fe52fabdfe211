#pragma once
// Marks along the time axis where a chamber's program, step or cycle changes: a short tick for
// every change, and a dotted line with its text where there is room for the text.
#include "ChartModel.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QGraphicsObject>

class ChangeMarksItem : public QGraphicsObject {
    Q_OBJECT

public:
    ChangeMarksItem(QChart *chart, const ChartModel &model, QDateTimeAxis *xAxis);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    struct ColouredMarks {
        QColor colour;
        QList<ChangeMark> marks;
        QList<QPair<qreal, qreal>> outages;
    };
    QChart *chart_;
    QDateTimeAxis *xAxis_;
    QList<ColouredMarks> chambers_;
};

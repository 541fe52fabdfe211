#include "ChartBuilder.h"

#include "AxisFormat.h"
#include "ChangeMarksItem.h"
#include "core/LogFormat.h"

#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>

namespace {

QString HeaderColumn(int index) {
    return LogHeader().split(QLatin1Char(';')).value(index).trimmed();
}

void AddLine(QChart *chart, const LineModel &line, QDateTimeAxis *xAxis, QValueAxis *yAxis) {
    QPen pen(line.colour, 2);
    if (line.dashed)
        pen.setStyle(Qt::DashLine);
    QScatterSeries *singles = nullptr;
    bool named = false;
    auto attach = [&](QXYSeries *series) {
        chart->addSeries(series);
        series->attachAxis(xAxis);
        series->attachAxis(yAxis);
        // One legend entry per line, however many pieces the gaps cut it into.
        series->setName(line.label);
        chart->legend()->markers(series).first()->setVisible(!named);
        named = true;
    };
    for (const auto &piece : line.pieces) {
        if (piece.size() == 1) {
            if (!singles) {
                singles = new QScatterSeries;
                singles->setMarkerSize(4);
                singles->setColor(line.colour);
                singles->setBorderColor(line.colour);
            }
            singles->append(piece.first());
            continue;
        }
        auto *series = new QLineSeries;
        series->setPen(pen);
        series->replace(piece);
        attach(series);
    }
    if (singles)
        attach(singles);
}

} // namespace

QString TimeAxisTitle() { return HeaderColumn(0); }
QString TemperatureAxisTitle() { return HeaderColumn(1); }

QChart *BuildChart(const ChartModel &model, const RegionalSettings &settings, const QSize &size) {
    auto *chart = new QChart;
    chart->setTitle(model.title);
    QFont titleFont = chart->titleFont();
    titleFont.setPointSize(14);
    chart->setTitleFont(titleFont);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);

    auto *xAxis = new QDateTimeAxis;
    xAxis->setTitleText(TimeAxisTitle());
    // Format and ticks follow the range shown, as the window zooms too.
    const int mostTicks = std::max(2, size.width() / 180 + 1);
    const auto fitTimeAxis = [xAxis, mostTicks, settings] {
        const TimeAxisLayout layout =
            FitTimeAxis(static_cast<qreal>(xAxis->min().toMSecsSinceEpoch()),
                        static_cast<qreal>(xAxis->max().toMSecsSinceEpoch()), mostTicks,
                        settings.shortDateFormat, settings.longTimeFormat);
        xAxis->setFormat(layout.format);
        xAxis->setTickCount(layout.ticks);
    };
    QObject::connect(xAxis, &QDateTimeAxis::rangeChanged, xAxis, fitTimeAxis);
    auto *yAxis = new QValueAxis;
    yAxis->setTitleText(TemperatureAxisTitle());
    yAxis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);

    for (const ChamberModel &chamber : model.chambers) {
        AddLine(chart, chamber.current, xAxis, yAxis);
        if (chamber.set)
            AddLine(chart, *chamber.set, xAxis, yAxis);
    }
    ShowAll(chart, model);
    fitTimeAxis();
    new ChangeMarksItem(chart, model, xAxis);
    return chart;
}

void ShowAll(QChart *chart, const ChartModel &model) {
    const auto xAxes = chart->axes(Qt::Horizontal);
    const auto yAxes = chart->axes(Qt::Vertical);
    if (xAxes.isEmpty() || yAxes.isEmpty())
        return;
    auto *xAxis = static_cast<QDateTimeAxis *>(xAxes.first());
    auto *yAxis = static_cast<QValueAxis *>(yAxes.first());
    qreal xMin = model.xMin, xMax = model.xMax, yMin = model.yMin, yMax = model.yMax;
    if (model.empty) {
        xMin = QDateTime::currentMSecsSinceEpoch() - 3600 * 1000.0;
        xMax = xMin + 3600 * 1000.0;
        yMin = 0;
        yMax = 100;
    }
    if (xMax - xMin < 60 * 1000.0) {
        xMin -= 30 * 1000.0;
        xMax += 30 * 1000.0;
    }
    const qreal margin = std::max(1.0, (yMax - yMin) * 0.05);
    xAxis->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xMin)),
                    QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xMax)));
    yAxis->setRange(yMin - margin, yMax + margin);
    yAxis->setTickCount(9);
    yAxis->applyNiceNumbers();
}

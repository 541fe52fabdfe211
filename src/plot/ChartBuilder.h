#pragma once
// The Qt Charts chart of a chart model: time axis, temperature axis, one line per figure and
// chamber, and the program/step/cycle marks over the plot area.
#include "ChartModel.h"

#include <QChart>
#include <QSize>

// Axis titles as the log's header names the columns.
QString TimeAxisTitle();
QString TemperatureAxisTitle();

// A chart sized for `size`; the caller owns it.
QChart *BuildChart(const ChartModel &model, const RegionalSettings &settings, const QSize &size);

// Shows the whole of the data again (after zooming and panning).
void ShowAll(QChart *chart, const ChartModel &model);

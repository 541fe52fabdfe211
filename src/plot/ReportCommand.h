#pragma once
// `kalvora-plot report`: the test report of logs, readings CSV files and events journals.
#include "PlotInput.h"

#include <QStringList>

// Runs the command inside an existing application object (arguments: program, "report", ...);
// messages go to stderr. The exit status as RunPlot's.
int RunReport(const QStringList &arguments);

// The report of every chamber in the files, to path (.html: HTML, else PDF), for the window.
// An error text, or an empty string.
QString WriteReportOfFiles(const QStringList &files, const InputSettings &input,
                           const QString &path, const QString &title);

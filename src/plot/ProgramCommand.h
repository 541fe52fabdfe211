#pragma once
// `kalvora-plot program FILE`: the profile of a program file, in a window or a PNG, SVG or PDF.
#include <QStringList>

// Arguments: program, "program", ...; messages go to stderr. The exit status as RunPlot's.
int RunProgramPreview(const QStringList &arguments);

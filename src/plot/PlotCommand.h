#pragma once
// What kalvora-plot does with its command line, apart from main() so that tests can run it.
#include "core/ExitCodes.h"

#include <QStringList>

// Runs the program inside an existing application object; messages go to stderr.
int RunPlot(const QStringList &arguments);

#pragma once
// What kalvora-plot does with its command line, apart from main() so that tests can run it.
#include <QStringList>

// Exit status, as kalvora-cli numbers them.
enum ExitStatus { kExitOk = 0, kExitUsage = 2, kExitFile = 6 };

// Runs the program inside an existing application object; messages go to stderr.
int RunPlot(const QStringList &arguments);

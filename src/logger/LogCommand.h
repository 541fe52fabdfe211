#pragma once
// The long-running `log` command: the service's entry point, and its options for the commands that
// read the same configuration files.
#include <QStringList>

class CommandLine;

int RunLog(const QStringList &arguments);
// The options of `log`, which alarm-test needs to read the same configuration files.
void AddLogOptions(CommandLine &line);

#pragma once
// One function per command; each takes the arguments after the command's name and returns the
// exit code, or throws CliError.
#include <QStringList>

int RunScan(const QStringList &arguments);
int RunRead(const QStringList &arguments);
int RunLog(const QStringList &arguments);
int RunAlarmTest(const QStringList &arguments);

class CommandLine;
// The options of `log`, which alarm-test needs to read the same configuration files.
void AddLogOptions(CommandLine &line);
int RunWriteProgram(const QStringList &arguments);
// set-point, start, stop, start-program, stop-program
int RunControlCommand(const QString &command, const QStringList &arguments);
bool IsControlCommand(const QString &command);

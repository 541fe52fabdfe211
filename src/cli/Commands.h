#pragma once
// One function per command; each takes the arguments after the command's name and returns the
// exit code, or throws CliError.
#include <QStringList>

int RunScan(const QStringList &arguments);
int RunRead(const QStringList &arguments);
int RunAlarmTest(const QStringList &arguments);
// audit verify FILE..., audit show FILE...
int RunAudit(const QStringList &arguments);

int RunWriteProgram(const QStringList &arguments);
// set-point, start, stop, start-program, stop-program
int RunControlCommand(const QString &command, const QStringList &arguments);
bool IsControlCommand(const QString &command);

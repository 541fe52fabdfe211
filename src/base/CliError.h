#pragma once
// An error that ends the tool: main() prints its message on one line and exits with its code.
#include "core/ExitCodes.h"

#include <QString>

struct CliError {
    int exitCode;
    QString message;
};

// "kalvora-cli: <text>" on stderr.
void PrintError(const QString &text);
void PrintWarning(const QString &text);

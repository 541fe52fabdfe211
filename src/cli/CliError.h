#pragma once
// An error that ends the tool: main() prints its message on one line and exits with its code.
#include <QString>

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitPort = 3,      // the port cannot be opened or is in use
    kExitNoAnswer = 4,  // no (valid) answer, or an exception reply
    kExitRejected = 5,  // input rejected before anything was sent
    kExitFile = 6,
    kExitDelivery = 7, // alarm-test: a channel did not deliver
};

struct CliError {
    int exitCode;
    QString message;
};

// "kalvora-cli: <text>" on stderr.
void PrintError(const QString &text);
void PrintWarning(const QString &text);

#pragma once
// Option files for unattended runs: one option per line, written as on the command line with
// or without its leading dashes ("--period 4", "period=4", "csv"); "#" starts a comment line.
// "chambers=1,3,5-8" names the chambers to log. A flag stands alone or takes yes/no, true/false
// or 1/0 ("csv=no" leaves it off).
#include <QString>
#include <QStringList>

struct ConfigArguments {
    QStringList arguments; // "--period", "4", "--csv", ...
    QString error;         // empty on success; names the line
};

// valueOptions and flags: the names the command knows; any other name is an error.
ConfigArguments ParseConfigText(const QString &text, const QStringList &valueOptions,
                                const QStringList &flags);

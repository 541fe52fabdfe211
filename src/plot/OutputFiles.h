#pragma once
// The files a command is to write must be none of the files it reads, and none of each other:
// `report LOG -o LOG` would replace the raw log with the report.
#include <QList>
#include <QString>
#include <QStringList>

struct OutputFile {
    QString option; // "-o", "--html", "--csv"; empty where no option names it (a dialog)
    QString path;   // empty: not asked for
};

// Empty when every output is a file of its own; else the usage error, naming the option and
// the file it would overwrite. Files are compared as the file system knows them (device and
// inode), so a hard or symbolic link to an input counts as that input.
QString OutputOverwritesInput(const QList<OutputFile> &outputs, const QStringList &inputs);

#pragma once
// Where log files go when no folder is set. An installed program's folder (under /usr) is not
// the user's to write, so its logs go to the user's documents; a program run from anywhere else
// (a build tree) keeps them next to the executable. Decided by the location, not by trying to
// write: root may write anywhere.
#include <QString>

bool IsInstalledExecutable(const QString &executablePath);

// The folder, ending in "/", for an absolute executable path.
QString LogFolderForExecutable(const QString &executablePath, const QString &documentsFolder);

#pragma once
// Where the control window keeps and finds program files: the user's own library beside the log
// folder, and the lab's shared library, which only the administrator fills.
#include <QString>
#include <QStringList>

extern const char kSharedProgramFolder[]; // "/etc/kalvora/programs"

// "<documents>/Kalvora/Программы"
QString UserProgramFolder(const QString &documentsFolder);

// The folders a file dialog offers: the user's library, then the shared one when it exists.
QStringList OfferedProgramFolders(const QString &userFolder, bool sharedFolderExists);

// True for a path inside the shared library, which is never written to (root could).
bool IsInSharedProgramLibrary(const QString &path);

// The name a saved program gets: ".csv" added when it has no suffix.
QString ProgramFileName(const QString &chosenPath);

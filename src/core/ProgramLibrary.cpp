#include "ProgramLibrary.h"

#include <QDir>
#include <QFileInfo>

const char kSharedProgramFolder[] = "/etc/kalvora/programs";

QString UserProgramFolder(const QString &documentsFolder) {
    return QDir::cleanPath(documentsFolder) + QStringLiteral("/Kalvora/Программы");
}

QStringList OfferedProgramFolders(const QString &userFolder, bool sharedFolderExists) {
    QStringList folders{userFolder};
    if (sharedFolderExists)
        folders << QString::fromLatin1(kSharedProgramFolder);
    return folders;
}

bool IsInSharedProgramLibrary(const QString &path) {
    const QString shared = QString::fromLatin1(kSharedProgramFolder) + QLatin1Char('/');
    return (QDir::cleanPath(path) + QLatin1Char('/')).startsWith(shared);
}

QString ProgramFileName(const QString &chosenPath) {
    if (QFileInfo(chosenPath).suffix().isEmpty())
        return chosenPath + QStringLiteral(".csv");
    return chosenPath;
}

#include "core/LogLocation.h"

#include <QDir>

bool IsInstalledExecutable(const QString &executablePath) {
    return QDir::cleanPath(executablePath).startsWith(QStringLiteral("/usr/"));
}

QString LogFolderForExecutable(const QString &executablePath, const QString &documentsFolder) {
    if (IsInstalledExecutable(executablePath))
        return QDir::cleanPath(documentsFolder) + QStringLiteral("/Kalvora/");
    const QString path = QDir::cleanPath(executablePath);
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

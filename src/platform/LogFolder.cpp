#include "platform/LogFolder.h"

#include "core/Errors.h"
#include "core/LogLocation.h"
#include "platform/LogFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

QString DefaultLogFolder() {
    const QString folder =
        LogFolderForExecutable(QCoreApplication::applicationFilePath(),
                               QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error)
        throw InOutError(InOutErrorMessage(error.value()) + QStringLiteral(": ") + folder);
    return folder;
}

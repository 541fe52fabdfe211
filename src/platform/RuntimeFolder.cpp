#include "platform/RuntimeFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

void UseRuntimeFolderWhenUnset() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t user = ::geteuid();
    const passwd *entry = ::getpwuid(user);
    const QByteArray name = entry && entry->pw_name && *entry->pw_name ? QByteArray(entry->pw_name)
                                                                       : QByteArray::number(user);
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/runtime-" + name;
    ::mkdir(folder.constData(), 0700); // an existing folder is checked below
    struct stat status {};
    if (::lstat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != user || (status.st_mode & 07777) != 0700)
        return;
    qputenv("XDG_RUNTIME_DIR", folder);
}

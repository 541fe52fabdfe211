#include "platform/AppendOnlyFile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int OpenForAppending(const QString &path) {
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0644);
}

qint64 AppendInOneWrite(int fd, const QByteArray &bytes) {
    ssize_t written = 0;
    do
        written = ::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    while (written < 0 && errno == EINTR);
    return written;
}

void CloseAppended(int fd) { ::close(fd); }

#include "platform/LogFile.h"

#include "core/Errors.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowInOutError(int errorNumber) {
    throw InOutError(InOutErrorMessage(errorNumber));
}

// A name still holding the chamber number's placeholder (">") is refused, as Windows file
// systems refuse it: the operator gets an error box instead of a file under a stray name.
void RejectPlaceholderInName(const QString &path) {
    const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (fileName.contains(QLatin1Char('>')))
        throw InOutError(
            QStringLiteral("The filename, directory name, or volume label syntax is incorrect"));
}

// Owns a descriptor so that a failing step still releases it.
class OpenFile {
public:
    OpenFile(const QString &path, int flags) {
        RejectPlaceholderInName(path);
        const QByteArray name = QFile::encodeName(path);
        do {
            fd_ = ::open(name.constData(), flags | O_CLOEXEC, 0644);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0)
            ThrowInOutError(errno);
    }
    ~OpenFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    void writeAll(const QByteArray &bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t written = ::write(fd_, bytes.constData() + done,
                                            static_cast<std::size_t>(bytes.size() - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                ThrowInOutError(errno);
            if (written == 0)
                ThrowInOutError(EIO);
            done += written;
        }
    }

    // Each line must be on the disk when the write ends; a device that cannot sync (EINVAL)
    // has nothing to flush.
    void syncAndClose() {
        if (::fsync(fd_) != 0 && errno != EINVAL)
            ThrowInOutError(errno);
        const int fd = fd_;
        fd_ = -1;
        // Linux releases the descriptor even when close reports EINTR.
        if (::close(fd) != 0 && errno != EINTR)
            ThrowInOutError(errno);
    }

private:
    int fd_ = -1;
};

void WriteFile(const QString &path, int flags, const QByteArray &bytes) {
    OpenFile file(path, flags);
    file.writeAll(bytes);
    file.syncAndClose();
}

} // namespace

void CreateLogFile(const QString &path, const QByteArray &bytes) {
    WriteFile(path, O_WRONLY | O_CREAT | O_TRUNC, bytes);
}

void AppendToLogFile(const QString &path, const QByteArray &bytes) {
    WriteFile(path, O_WRONLY | O_APPEND, bytes);
}

QString InOutErrorMessage(int errorNumber) {
    switch (errorNumber) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("File access denied");
    case ENOENT:
        return QStringLiteral("The specified file was not found");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disk full");
    default:
        return QStringLiteral("I/O error ") + QString::number(errorNumber);
    }
}

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
        start_ = ::lseek(fd_, 0, SEEK_END);
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
            if (written <= 0)
                FailWrite(written < 0 ? errno : EIO);
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
    // A disk that fills up mid-line takes part of the line: cut it off again, so that the next
    // write does not carry on a torn record.
    [[noreturn]] void FailWrite(int errorNumber) {
        // The write's own error is the one to report, whether or not the cut succeeds.
        [[maybe_unused]] const bool cut = start_ >= 0 && ::ftruncate(fd_, start_) == 0;
        ThrowInOutError(errorNumber);
    }

    int fd_ = -1;
    off_t start_ = -1; // length of the file before this write
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

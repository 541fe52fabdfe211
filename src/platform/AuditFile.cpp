#include "platform/AuditFile.h"

#include "core/Errors.h"
#include "platform/LogFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void Fail(const QString &path, int errorNumber) {
    throw InOutError(QStringLiteral("The audit trail cannot be written (%1: %2); nothing was sent")
                         .arg(path, InOutErrorMessage(errorNumber)));
}

QByteArray ReadAll(int fd, const QString &path) {
    QByteArray bytes;
    char chunk[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Fail(path, errno);
        if (got == 0)
            return bytes;
        bytes.append(chunk, got);
        at += got;
    }
}

QByteArray ReadFile(const QString &path) {
    const Descriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        Fail(path, errno);
    return ReadAll(fd.get(), path);
}

void WriteWhole(int fd, const QByteArray &bytes, const QString &path) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            Fail(path, errno);
        done += written;
    }
}

// The head of the newest earlier month's file in the folder; none for the first file.
AuditHead HeadBefore(const QString &folder, const QString &fileName) {
    QStringList earlier =
        QDir(folder).entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name);
    earlier.erase(std::remove_if(earlier.begin(), earlier.end(),
                                 [&fileName](const QString &name) { return name >= fileName; }),
                  earlier.end());
    for (qsizetype i = earlier.size() - 1; i >= 0; --i)
        if (const auto head = LastAuditHead(ReadFile(QDir(folder).filePath(earlier[i]))))
            return *head;
    return {};
}

class FolderLock {
public:
    explicit FolderLock(const QString &folder)
        : path_(QDir(folder).filePath(QStringLiteral(".audit.lock"))),
          fd_(::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_.get() < 0)
            Fail(path_, errno);
        while (::flock(fd_.get(), LOCK_EX) != 0)
            if (errno != EINTR)
                Fail(path_, errno);
    }
    // Closing the descriptor releases the lock.

private:
    QString path_;
    Descriptor fd_;
};

} // namespace

QString AuditSettingsPath() {
    const QString path = qEnvironmentVariable("KALVORA_CONFIG");
    return path.isEmpty() ? QStringLiteral("/etc/kalvora/audit.conf") : path;
}

AuditSettings ReadAuditSettings() {
    const QString path = AuditSettingsPath();
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        AuditSettings unreadable;
        unreadable.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return unreadable;
    }
    return ParseAuditSettings(QString::fromUtf8(file.readAll()), path);
}

QString UserName(unsigned uid) {
    passwd entry{};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return QString::fromLocal8Bit(found->pw_name);
}

std::optional<unsigned> UserIdOf(const QString &name) {
    passwd entry{};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(QFile::encodeName(name).constData(), &entry, buffer.data(), buffer.size(),
                     &found) != 0 ||
        !found)
        return std::nullopt;
    return found->pw_uid;
}

QJsonObject CurrentProcessWho(const QString &program) {
    const uid_t uid = ::getuid();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const QString name = UserName(uid);
    return {{QStringLiteral("user"), name.isEmpty() ? QStringLiteral("unknown") : name},
            {QStringLiteral("uid"), static_cast<qint64>(uid)},
            {QStringLiteral("host"), QString::fromLocal8Bit(host)},
            {QStringLiteral("program"), program},
            {QStringLiteral("pid"), static_cast<qint64>(::getpid())}};
}

AuditHead AppendAuditRecord(const QString &folder, const AuditRecord &record) {
    std::error_code made;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), made);
    if (made)
        Fail(folder, made.value());
    const FolderLock lock(folder);
    const QString fileName = AuditFileName(record.moment.toUTC().date());
    const QString path = QDir(folder).filePath(fileName);
    const bool existed = QFile::exists(path);
    const Descriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd.get() < 0)
        Fail(path, errno);
    const QByteArray bytes = ReadAll(fd.get(), path);
    const std::optional<AuditHead> own = LastAuditHead(bytes);
    const AuditHead previous = own ? *own : HeadBefore(folder, fileName);
    const QByteArray text = AuditLine(previous, record);
    QByteArray line = text + '\n';
    // A line cut short by a power cut is ended, so that ours starts a line of its own.
    if (!bytes.isEmpty() && !bytes.endsWith('\n'))
        line.prepend('\n');
    WriteWhole(fd.get(), line, path);
    if (::fsync(fd.get()) != 0)
        Fail(path, errno);
    if (!existed) {
        // The new file's name must survive a power cut as well as its line.
        const Descriptor directory(
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (directory.get() >= 0)
            ::fsync(directory.get());
    }
    return AuditHead{previous.sequence + 1, AuditLineHash(text)};
}

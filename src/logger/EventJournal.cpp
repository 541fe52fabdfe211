#include "logger/EventJournal.h"

#include "base/CliError.h"
#include "core/ReadingsCsv.h"
#include "platform/AppendOnlyFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>

QDateTime SystemClock::now() const {
    static std::mutex lookUp;
    std::lock_guard lock(lookUp);
    const QDateTime local = QDateTime::currentDateTime();
    return local.toOffsetFromUtc(local.offsetFromUtc());
}

QString IsoLocalTime(const QDateTime &moment) {
    return IsoLocalTime(moment.date(), moment.time(), moment.offsetFromUtc());
}

namespace {

// A JSON value's compact text: written inside an array, whose brackets are then dropped.
QByteArray ValueText(const QJsonValue &value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

QByteArray JournalLine(const QString &isoTime, const QString &event, const QJsonObject &members) {
    // QJsonObject orders its keys: time and event go first by hand, the rest follows.
    QByteArray line = "{\"time\":" + ValueText(isoTime) + ",\"event\":" + ValueText(event);
    if (!members.isEmpty()) {
        const QByteArray rest = QJsonDocument(members).toJson(QJsonDocument::Compact);
        line += ',' + rest.mid(1, rest.size() - 2);
    }
    return line + '}';
}

EventJournal::EventJournal(const QString &path, const LoggerClock &clock)
    : path_(path), clock_(clock) {
    fd_ = OpenForAppending(path);
    if (fd_ < 0)
        throw CliError{kExitFile, QStringLiteral("%1: %2").arg(
                                      path, QString::fromLocal8Bit(std::strerror(errno)))};
}

EventJournal::~EventJournal() {
    if (fd_ >= 0)
        CloseAppended(fd_);
}

void EventJournal::write(const QString &event, const QJsonObject &members) {
    std::lock_guard lock(mutex_);
    const QByteArray line = JournalLine(IsoLocalTime(clock_.now()), event, members) + '\n';
    // One write of the whole line: lines stay whole even beside another writer.
    const qint64 written = AppendInOneWrite(fd_, line);
    if (written == line.size()) {
        failureReported_ = false;
        return;
    }
    if (!failureReported_)
        PrintWarning(QStringLiteral("events journal %1: %2")
                         .arg(path_, written < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                                 : QStringLiteral("written in part")));
    failureReported_ = true;
}

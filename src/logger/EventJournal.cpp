#include "logger/EventJournal.h"

#include "base/CliError.h"
#include "core/OrderedJsonObject.h"
#include "core/ReadingsCsv.h"
#include "platform/AppendOnlyFile.h"

#include <QFile>
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

QByteArray JournalLine(const QString &isoTime, const QString &event, const QJsonObject &members) {
    // "time" and "event" lead: readers know a journal by its first bytes. The other members
    // follow in QJsonObject's order, by name.
    OrderedJsonObject line;
    line.add(QStringLiteral("time"), isoTime).add(QStringLiteral("event"), event);
    for (auto member = members.begin(); member != members.end(); ++member)
        line.add(member.key(), member.value());
    return line.toJson();
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
    QByteArray line = JournalLine(IsoLocalTime(clock_.now()), event, members) + '\n';
    // A line cut short by a full disk is ended first, so that it stands alone as a damaged
    // line that readers skip, rather than spoiling this one.
    if (lineCut_)
        line.prepend('\n');
    // One write of the whole line: lines stay whole even beside another writer.
    const qint64 written = AppendInOneWrite(fd_, line);
    if (written > 0)
        lineCut_ = written < line.size() && line[written - 1] != '\n';
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

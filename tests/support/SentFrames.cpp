#include "SentFrames.h"

#include <QLoggingCategory>
#include <QString>
#include <cstring>
#include <mutex>

namespace {

std::mutex recordMutex;
std::vector<std::chrono::steady_clock::time_point> recordedTimes;
std::vector<std::vector<std::uint8_t>> recordedFrames;
QtMessageHandler earlierHandler = nullptr;

void Record(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (context.category && std::strcmp(context.category, "kalvora.line") == 0) {
        if (const qsizetype at = message.indexOf(QLatin1String(" tx ")); at >= 0) {
            const auto now = std::chrono::steady_clock::now();
            const QByteArray bytes = QByteArray::fromHex(message.mid(at + 4).toLatin1());
            std::lock_guard lock(recordMutex);
            recordedTimes.push_back(now);
            recordedFrames.emplace_back(bytes.begin(), bytes.end());
        }
        return;
    }
    if (earlierHandler)
        earlierHandler(type, context, message);
}

} // namespace

SentFrames::SentFrames() {
    {
        std::lock_guard lock(recordMutex);
        recordedTimes.clear();
        recordedFrames.clear();
    }
    earlierHandler = qInstallMessageHandler(Record);
    QLoggingCategory::setFilterRules(QStringLiteral("kalvora.line.debug=true"));
}

SentFrames::~SentFrames() {
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(earlierHandler);
}

std::vector<std::chrono::steady_clock::time_point> SentFrames::times() const {
    std::lock_guard lock(recordMutex);
    return recordedTimes;
}

std::vector<std::vector<std::uint8_t>> SentFrames::frames() const {
    std::lock_guard lock(recordMutex);
    return recordedFrames;
}

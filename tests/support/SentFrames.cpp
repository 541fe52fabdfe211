#include "SentFrames.h"

#include <QLoggingCategory>
#include <QString>
#include <cstring>
#include <mutex>

namespace {

std::mutex recordMutex;
std::vector<std::chrono::steady_clock::time_point> recordedTimes;
QtMessageHandler earlierHandler = nullptr;

void Record(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (context.category && std::strcmp(context.category, "kalvora.line") == 0) {
        if (message.contains(QLatin1String(" tx "))) {
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard lock(recordMutex);
            recordedTimes.push_back(now);
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

#include "platform/LineTrace.h"

#include <QByteArray>
#include <QDateTime>

Q_LOGGING_CATEGORY(lcLine, "kalvora.line", QtInfoMsg)

void TraceFrame(const char *direction, const std::uint8_t *bytes, std::size_t length) {
    if (!lcLine().isDebugEnabled())
        return;
    const QByteArray hex =
        QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(length))
            .toHex(' ');
    // UTC: local time would consult the time zone from two threads at once.
    qCDebug(lcLine).noquote() << QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)
                              << direction << hex;
}

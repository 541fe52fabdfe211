#include "EventsJournal.h"

#include "Reading.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

QByteArray WithoutBom(const QByteArray &bytes) {
    return bytes.startsWith(kUtf8Bom) ? bytes.mid(kUtf8Bom.size()) : bytes;
}

// "2026-12-10T14:03:04+03:00" or "...Z"; a time without its offset is no instant.
bool ReadTime(const QString &text, JournalEvent &event) {
    const bool utc = text.endsWith(QLatin1Char('Z'));
    const qsizetype sign = text.size() - 6;
    if (!utc && (sign < 19 || (text[sign] != QLatin1Char('+') && text[sign] != QLatin1Char('-'))))
        return false;
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (!moment.isValid())
        return false;
    event.date = moment.date();
    event.time = QTime(moment.time().hour(), moment.time().minute(), moment.time().second());
    event.utcOffsetSeconds = moment.offsetFromUtc();
    event.instant = EpochSeconds(event.date, event.time, event.utcOffsetSeconds);
    return true;
}

std::optional<int> Whole(const QJsonObject &object, const char *name) {
    const QJsonValue value = object.value(QLatin1String(name));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != static_cast<double>(static_cast<qint64>(number)) || number < -2e9 || number > 2e9)
        return std::nullopt;
    return static_cast<int>(number);
}

std::optional<double> Number(const QJsonObject &object, const char *name) {
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

QString Text(const QJsonObject &object, const char *name) {
    return object.value(QLatin1String(name)).toString();
}

std::optional<JournalEvent> ReadEvent(const QByteArray &line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    JournalEvent event;
    event.event = Text(object, "event");
    if (event.event.isEmpty() || !ReadTime(Text(object, "time"), event))
        return std::nullopt;
    event.chamber = Whole(object, "chamber");
    event.reason = Text(object, "reason");
    event.signal = Text(object, "signal");
    event.kind = Text(object, "kind");
    event.message = Text(object, "message");
    event.messageRu = Text(object, "message_ru");
    event.version = Text(object, "version");
    event.port = Text(object, "port");
    event.value = Number(object, "value");
    event.limit = Number(object, "limit");
    event.repeated = object.value(QLatin1String("repeated")).toBool();
    event.program = Whole(object, "program");
    event.previousProgram = Whole(object, "previous_program");
    event.exitCode = Whole(object, "exit_code");
    if (const auto seconds = Number(object, "outage_seconds"))
        event.outageSeconds = static_cast<qint64>(*seconds);
    return event;
}

} // namespace

bool LooksLikeEventsJournal(const QByteArray &bytes) {
    return WithoutBom(bytes).startsWith("{\"time\":");
}

std::optional<EventsJournal> ReadEventsJournal(const QByteArray &bytes) {
    if (!LooksLikeEventsJournal(bytes))
        return std::nullopt;
    const QList<QByteArray> lines = WithoutBom(bytes).split('\n');
    EventsJournal journal;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QByteArray line = lines[index];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        auto event = ReadEvent(line);
        if (!event) {
            if (journal.damagedLines++ == 0)
                journal.firstDamagedLine = static_cast<int>(index) + 1;
            continue;
        }
        event->line = static_cast<int>(index) + 1;
        journal.events.append(*event);
    }
    return journal;
}

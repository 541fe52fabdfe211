#include "EventsJournal.h"

#include "IsoTime.h"
#include "Utf8Bom.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

// "2026-12-10T14:03:04+03:00" or "...Z"; a time without its offset is no instant.
bool ReadTime(const QString &text, StoredJournalEvent &event) {
    const auto moment = ParseIsoTime(text);
    if (!moment || !moment->utcOffsetSeconds)
        return false;
    event.date = moment->date;
    event.time = moment->time;
    event.utcOffsetSeconds = *moment->utcOffsetSeconds;
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

std::optional<StoredJournalEvent> ReadEvent(const QByteArray &line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    StoredJournalEvent event;
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
    return WithoutUtf8Bom(bytes).startsWith("{\"time\":");
}

std::optional<EventsJournal> ReadEventsJournal(const QByteArray &bytes) {
    if (!LooksLikeEventsJournal(bytes))
        return std::nullopt;
    const QList<QByteArray> lines = WithoutUtf8Bom(bytes).split('\n');
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

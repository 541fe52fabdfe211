#include "logger/alarms/AlarmPayload.h"

#include "core/NumberText.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The figures every form carries, in one order, as text (empty when absent) and as JSON.
struct Field {
    const char *name; // lower case; the environment's upper-cased behind KALVORA_ALARM_
    QString text;
    QJsonValue json;
};

Field Number(const char *name, const std::optional<double> &v) {
    if (!v)
        return {name, QString(), QJsonValue()};
    return {name, FloatToText(*v, QLatin1Char('.')), QJsonValue(*v)};
}

Field Whole(const char *name, const std::optional<unsigned> &v) {
    if (!v)
        return {name, QString(), QJsonValue()};
    return {name, QString::number(*v), QJsonValue(static_cast<qint64>(*v))};
}

Field Text(const char *name, const QString &v) { return {name, v, QJsonValue(v)}; }

std::vector<Field> Fields(const AlarmNotification &n, const QString &host) {
    const bool test = n.kind == AlarmKind::Test;
    return {
        {"time", AlarmTimeText(n.time), QJsonValue(AlarmTimeText(n.time))},
        test ? Field{"chamber", QString(), QJsonValue()}
             : Field{"chamber", QString::number(n.chamber), QJsonValue(n.chamber)},
        Text("kind", AlarmKindName(n.kind)),
        Text("state", AlarmStateName(n.state)),
        {"repeated", n.repeated ? QStringLiteral("1") : QStringLiteral("0"),
         QJsonValue(n.repeated)},
        Number("value", n.value),
        Number("limit", n.limit),
        Number("temperature", n.temperature),
        Number("set_temperature", n.setTemperature),
        Text("reason", n.reason),
        Whole("program", n.program),
        Whole("previous_program", n.previousProgram),
        Whole("cycle", n.cycle),
        Whole("cycles", n.cycles),
        Text("message_ru", n.messageRu),
        Text("message_en", n.messageEn),
        Text("host", host),
    };
}

// RFC 2047 encoded words, one per folded line, never splitting a character's bytes.
QByteArray EncodedWords(const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = std::min<qsizetype>(start + 39, utf8.size()); // lines within 78
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + utf8.mid(start, end - start).toBase64() + "?=";
        start = end;
    }
    return out;
}

QByteArray Base64Lines(const QByteArray &bytes) {
    const QByteArray encoded = bytes.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

} // namespace

QStringList AlarmEnvironment(const AlarmNotification &n, const QString &host) {
    QStringList environment;
    for (const Field &f : Fields(n, host))
        environment << QStringLiteral("KALVORA_ALARM_") + QString::fromLatin1(f.name).toUpper() +
                           QLatin1Char('=') + f.text;
    return environment;
}

QByteArray AlarmJson(const AlarmNotification &n, const QString &host) {
    QJsonObject object;
    for (const Field &f : Fields(n, host))
        object.insert(QLatin1String(f.name), f.json);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString AlarmMailSubject(const AlarmNotification &n) {
    return QStringLiteral("Kalvora: ") + n.messageRu;
}

QByteArray AlarmMail(const AlarmNotification &n, const MailEnvelope &envelope) {
    QString body = n.messageRu + QLatin1Char('\n') + n.messageEn + QStringLiteral("\n\n");
    for (const Field &f : Fields(n, envelope.host))
        if (!f.text.isEmpty() && !QByteArray(f.name).startsWith("message"))
            body += QString::fromLatin1(f.name) + QStringLiteral(": ") + f.text + QLatin1Char('\n');
    QByteArray mail;
    mail += "Date: " + envelope.date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    mail += "From: " + envelope.from.toUtf8() + "\r\n";
    mail += "To: " + envelope.to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    mail += "Message-ID: <" + envelope.messageId.toUtf8() + ">\r\n";
    mail += "Subject: " + EncodedWords(AlarmMailSubject(n)) + "\r\n";
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: text/plain; charset=UTF-8\r\n";
    mail += "Content-Transfer-Encoding: base64\r\n";
    mail += "\r\n";
    mail += Base64Lines(body.toUtf8());
    return mail;
}

JournalEvent AlarmJournalEvent(const AlarmNotification &n) {
    JournalEvent e;
    const auto number = [](const std::optional<double> &v) {
        return v ? QJsonValue(*v) : QJsonValue();
    };
    const auto whole = [](const std::optional<unsigned> &v) {
        return v ? QJsonValue(static_cast<qint64>(*v)) : QJsonValue();
    };
    e.members.append({QStringLiteral("chamber"), QJsonValue(n.chamber)});
    e.members.append({QStringLiteral("kind"), AlarmKindName(n.kind)});
    if (n.state == AlarmState::Notice) {
        e.event = QStringLiteral("notice");
        e.members.append({QStringLiteral("program"), whole(n.program)});
        e.members.append({QStringLiteral("previous_program"), whole(n.previousProgram)});
        e.members.append({QStringLiteral("cycle"), whole(n.cycle)});
        e.members.append({QStringLiteral("cycles"), whole(n.cycles)});
    } else {
        e.event = n.state == AlarmState::Raised ? QStringLiteral("alarm_raised")
                                                : QStringLiteral("alarm_cleared");
        e.members.append({QStringLiteral("value"), number(n.value)});
        e.members.append({QStringLiteral("limit"), number(n.limit)});
    }
    e.members.append({QStringLiteral("message"), n.messageEn});
    e.members.append({QStringLiteral("message_ru"), n.messageRu});
    if (n.repeated)
        e.members.append({QStringLiteral("repeated"), true});
    return e;
}

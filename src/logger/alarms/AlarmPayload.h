#pragma once
// A notification in the forms its channels and the events journal take: the hook's environment,
// the webhook's JSON object, the mail message, the journal's members.
#include "core/AlarmRules.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// KALVORA_ALARM_CHAMBER, _KIND, _STATE, _REPEATED, _VALUE, _LIMIT, _TIME, _MESSAGE_RU,
// _MESSAGE_EN, _TEMPERATURE, _SET_TEMPERATURE, _REASON, _PROGRAM, _PREVIOUS_PROGRAM, _CYCLE,
// _CYCLES, _HOST, each "NAME=value"; a figure the notification lacks is an empty value.
QStringList AlarmEnvironment(const AlarmNotification &n, const QString &host);

// One JSON object with the same members in lower case ("chamber", "kind", "state", ...);
// numbers are JSON numbers, missing figures null. A test notification has chamber null.
QByteArray AlarmJson(const AlarmNotification &n, const QString &host);

struct MailEnvelope {
    QString from;
    QStringList to;
    QString host;      // this machine, named in the text
    QDateTime date;    // of the Date header
    QString messageId; // without the angle brackets
};

// The whole message, CR LF line ends: headers (Subject as a UTF-8 encoded word), then the
// Russian and English lines and the figures as base64 UTF-8 text.
QByteArray AlarmMail(const AlarmNotification &n, const MailEnvelope &envelope);
QString AlarmMailSubject(const AlarmNotification &n);

// A line of the events journal without its time: the event's name and its members in order.
struct JournalEvent {
    QString event;
    QList<std::pair<QString, QJsonValue>> members;
};

// alarm_raised, alarm_cleared or notice.
JournalEvent AlarmJournalEvent(const AlarmNotification &n);

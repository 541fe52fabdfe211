#include "AuditWords.h"

#include <QMap>

QString AuditOutcomeWords(const QString &outcome) {
    static const QMap<QString, QString> words{
        {QStringLiteral("sent"), QStringLiteral("отправлено")},
        {QStringLiteral("sending"), QStringLiteral("отправлено, ответ не записан")},
        {QStringLiteral("ok"), QStringLiteral("принято")},
        {QStringLiteral("no answer"), QStringLiteral("нет ответа")}};
    return words.value(outcome, outcome);
}

QString AuditWhoWords(const QJsonObject &who) {
    QString text = who.value(QLatin1String("user")).toString();
    // A relayed write without a known user has no uid: null, not 0 (root's).
    if (who.value(QLatin1String("uid")).isDouble())
        text += QStringLiteral(" (%1)").arg(who.value(QLatin1String("uid")).toInteger());
    text += QLatin1Char('@') + who.value(QLatin1String("host")).toString();
    if (who.contains(QLatin1String("link")))
        text += QStringLiteral(", линия ") + who.value(QLatin1String("link")).toString();
    return text;
}

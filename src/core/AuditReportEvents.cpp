#include "AuditReportEvents.h"

#include "AuditWords.h"
#include "IsoTime.h"

#include <QHash>

QList<RunEvent> AuditWriteEvents(const QList<QJsonObject> &lines, int chamber) {
    QList<RunEvent> writes;
    QHash<qint64, qsizetype> bySequence;
    for (const QJsonObject &line : lines) {
        const QJsonObject what = line.value(QLatin1String("what")).toObject();
        if (what.value(QLatin1String("chamber")).toInt(-1) != chamber)
            continue;
        const QString outcome = line.value(QLatin1String("outcome")).toString();
        if (line.contains(QLatin1String("completes"))) {
            const auto first =
                bySequence.constFind(line.value(QLatin1String("completes")).toInteger());
            if (first != bySequence.constEnd())
                writes[*first].outcome = outcome;
            continue;
        }
        const auto local = ParseIsoTime(line.value(QLatin1String("local")).toString());
        if (!local || !local->utcOffsetSeconds)
            continue;
        RunEvent write;
        write.kind = RunEventKind::Write;
        write.start = {local->date, local->time,
                       EpochSeconds(local->date, local->time, *local->utcOffsetSeconds)};
        write.detail = what.value(QLatin1String("words")).toString();
        write.message = line.value(QLatin1String("reason")).toString();
        write.who = AuditWhoWords(line.value(QLatin1String("who")).toObject());
        write.outcome = outcome;
        bySequence.insert(line.value(QLatin1String("seq")).toInteger(), writes.size());
        writes.append(write);
    }
    return writes;
}

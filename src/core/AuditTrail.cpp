#include "AuditTrail.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

// A JSON value's compact text: written inside an array, whose brackets are then dropped.
QByteArray ValueText(const QJsonValue &value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// "+00:00" rather than "Z": a local time always says its offset. A moment given in a zone of
// its own (a relayed write's, a test's) keeps it; one in local time gets the system's.
QString LocalTimeText(const QDateTime &moment) {
    const QDateTime local = moment.toOffsetFromUtc(moment.offsetFromUtc());
    QString text = local.toString(Qt::ISODateWithMs);
    if (text.endsWith(QLatin1Char('Z'))) {
        text.chop(1);
        text += QStringLiteral("+00:00");
    }
    return text;
}

std::optional<QJsonObject> TrailObject(const QByteArray &line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue seq = object.value(QLatin1String("seq"));
    const QJsonValue prev = object.value(QLatin1String("prev"));
    if (!seq.isDouble() || seq.toDouble() < 1 ||
        seq.toDouble() != static_cast<double>(seq.toInteger()) ||
        !(prev.isString() || prev.isNull()))
        return std::nullopt;
    return object;
}

struct Piece {
    QByteArray bytes;
    int number = 0;
    bool torn = false; // the last piece, without a line end
};

QList<Piece> Pieces(const QByteArray &bytes) {
    QList<Piece> pieces;
    const QList<QByteArray> parts = bytes.split('\n');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (last && parts[i].isEmpty())
            break;
        pieces.append({parts[i], static_cast<int>(i + 1), last});
    }
    return pieces;
}

QString Where(const QString &file, int line) { return QStringLiteral("%1:%2").arg(file).arg(line); }

} // namespace

QByteArray AuditLineHash(const QByteArray &line) {
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}

QByteArray AuditLine(const AuditHead &previous, const AuditRecord &record) {
    QJsonObject rest{{QStringLiteral("utc"), record.moment.toUTC().toString(Qt::ISODateWithMs)},
                     {QStringLiteral("local"), LocalTimeText(record.moment)},
                     {QStringLiteral("who"), record.who},
                     {QStringLiteral("what"), record.what},
                     {QStringLiteral("before"), record.before},
                     {QStringLiteral("outcome"), record.outcome}};
    if (!record.reason.isEmpty())
        rest.insert(QStringLiteral("reason"), record.reason);
    if (record.completes)
        rest.insert(QStringLiteral("completes"), *record.completes);
    // QJsonObject sorts its keys: the chain goes first by hand, so that a reader sees it first.
    const QJsonValue prev = previous.hash.isEmpty()
                                ? QJsonValue(QJsonValue::Null)
                                : QJsonValue(QString::fromLatin1(previous.hash));
    const QByteArray body = QJsonDocument(rest).toJson(QJsonDocument::Compact);
    return "{\"seq\":" + QByteArray::number(previous.sequence + 1) +
           ",\"prev\":" + ValueText(prev) + ',' + body.mid(1);
}

std::optional<AuditHead> LastAuditHead(const QByteArray &fileBytes) {
    const QList<Piece> pieces = Pieces(fileBytes);
    for (qsizetype i = pieces.size() - 1; i >= 0; --i) {
        if (pieces[i].torn)
            continue;
        if (const auto object = TrailObject(pieces[i].bytes))
            return AuditHead{object->value(QLatin1String("seq")).toInteger(),
                             AuditLineHash(pieces[i].bytes)};
    }
    return std::nullopt;
}

QString AuditFileName(const QDate &date) {
    return QStringLiteral("audit-%1.jsonl").arg(date.toString(QStringLiteral("yyyy-MM")));
}

QList<QJsonObject> AuditLines(const QByteArray &fileBytes) {
    QList<QJsonObject> lines;
    for (const Piece &piece : Pieces(fileBytes))
        if (const auto object = TrailObject(piece.bytes))
            lines.append(*object);
    return lines;
}

AuditVerification VerifyAuditFiles(const QList<AuditFileBytes> &files) {
    AuditVerification result;
    std::optional<AuditHead> last; // the line the next one must name
    QString lastWhere;
    QString foreignWhere; // a line passed over since the last trail line
    const auto fail = [&result](const QString &text) {
        result.intact = false;
        result.failure = text;
        return result;
    };
    for (const AuditFileBytes &file : files) {
        for (const Piece &piece : Pieces(file.bytes)) {
            const QString where = Where(file.name, piece.number);
            const auto object = TrailObject(piece.bytes);
            if (!object) {
                // A write cut short (a power cut) leaves a line without its end; the writer
                // that comes next ends it and goes on from the line before. Whether it was one
                // shows at the next line: it must name the line before it.
                if (piece.torn)
                    result.notes << where + QStringLiteral(": torn last line (a write cut "
                                                           "short, not part of the chain)");
                else
                    foreignWhere = where;
                continue;
            }
            const qint64 seq = object->value(QLatin1String("seq")).toInteger();
            const QJsonValue prevValue = object->value(QLatin1String("prev"));
            const QByteArray prev = prevValue.toString().toLatin1();
            if (!last) {
                if (prevValue.isNull() && seq != 1)
                    return fail(where + QStringLiteral(": sequence number %1 opens the trail, "
                                                       "1 was due (lines removed at its start)")
                                            .arg(seq));
                result.startsAfter = AuditHead{seq - 1, prev};
            } else if (!foreignWhere.isEmpty() &&
                       (seq != last->sequence + 1 || prev != last->hash)) {
                return fail(foreignWhere + QStringLiteral(": not a line of the trail (damaged "
                                                          "or replaced)"));
            } else if (seq != last->sequence + 1) {
                return fail(where + QStringLiteral(": sequence number %1 where %2 was due (a "
                                                   "line removed, moved or added)")
                                        .arg(seq)
                                        .arg(last->sequence + 1));
            } else if (prev != last->hash) {
                return fail(where + QStringLiteral(": the hash of the line before does not "
                                                   "match (%1 was changed, or the line "
                                                   "inserted)")
                                        .arg(lastWhere));
            }
            if (!foreignWhere.isEmpty())
                result.notes << foreignWhere + QStringLiteral(": torn line (a write cut short, "
                                                              "not part of the chain)");
            foreignWhere.clear();
            last = AuditHead{seq, AuditLineHash(piece.bytes)};
            lastWhere = where;
            ++result.lines;
        }
    }
    if (!foreignWhere.isEmpty())
        return fail(foreignWhere + QStringLiteral(": not a line of the trail (damaged or "
                                                  "replaced)"));
    if (last)
        result.head = *last;
    return result;
}

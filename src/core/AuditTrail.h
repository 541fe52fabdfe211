#pragma once
// The audit trail of writes to chambers (docs/audit.md): one JSON object a line, chained by
// SHA-256. Each line carries its sequence number and the hash of the line before it (of the file
// before it, for a file's first line), so an edited, removed, reordered or inserted line breaks
// the chain. Pure: building a line, finding a file's head, verifying files.
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <optional>

// The last line of a trail: the next line continues from it. An empty hash: no line yet.
struct AuditHead {
    qint64 sequence = 0;
    QByteArray hash; // lowercase hex SHA-256 of the line's bytes, without its line end
    bool operator==(const AuditHead &) const = default;
};

// What a writer knows about one write; the chain members are added by AuditLine().
struct AuditRecord {
    QDateTime moment;  // in any zone; written as UTC and as local time with its offset
    QJsonObject who;   // user, uid, host, program, pid (and link for a relayed write)
    QJsonObject what;  // chamber, command, words, values, frames
    QJsonValue before; // the chamber's last reading and its age, or null when none is known
    QString outcome;   // "sent", "sending", "ok", "no answer", ...
    QString reason;    // empty: none given
    std::optional<qint64> completes; // the sequence number of the line whose answer this is
};

// One line without its line end: {"seq":N,"prev":"<hash>"|null,"utc":...,"local":...,...}.
QByteArray AuditLine(const AuditHead &previous, const AuditRecord &record);
QByteArray AuditLineHash(const QByteArray &line);

// The head of a file's bytes: its last whole line that is a trail line. A torn last line (no
// line end, a write cut short) and other lines that are no trail line are passed over.
std::optional<AuditHead> LastAuditHead(const QByteArray &fileBytes);

// "audit-2026-12.jsonl": one file per month, so that no file grows without end and the names
// sort in the order of the chain.
QString AuditFileName(const QDate &date);

struct AuditFileBytes {
    QString name;
    QByteArray bytes;
};

struct AuditVerification {
    bool intact = true;
    QString failure;       // the first bad line and what is wrong with it
    AuditHead head;        // of the last line verified
    AuditHead startsAfter; // what the first file's first line names (an earlier file not given)
    qint64 lines = 0;
    QStringList notes; // torn lines: writes cut short, not part of the chain
};

// Checks every line of the files, in the order given, as one chain.
AuditVerification VerifyAuditFiles(const QList<AuditFileBytes> &files);

// The lines of a file that are trail lines (torn and foreign lines left out), parsed.
QList<QJsonObject> AuditLines(const QByteArray &fileBytes);

// kalvora-cli audit verify|show: checks the chain of audit trail files, or prints them as a table.
#include "cli/Commands.h"

#include "base/CliError.h"
#include "core/AuditTrail.h"
#include "core/AuditWords.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <cstdio>

namespace {

const char kAuditHelp[] = R"(Usage: kalvora-cli audit verify|show [options] FILE...
verify checks an audit trail's chain over the files in the order given (one
month each, oldest first): every line's sequence number and the hash of the
line before it. It prints the head (the last sequence number and hash) and
exits 0, or names the first bad line and what is wrong with it and exits 8. A
torn last line (a write cut short by a power cut) is reported and is no fault
of the trail. show prints the writes recorded in the files as a table.

Options:
  --chamber N    show: the writes to chamber N only.
  --from T       show: from T on (a local date, 2026-12-01, or a date and time,
                 2026-12-01T14:00).
  --to T         show: up to T (a date: its whole day included).
  --json         show: the lines themselves, one JSON object a line.
  -h, --help     Show this help and exit.
)";

void Print(const QString &text) { std::fputs(text.toUtf8().constData(), stdout); }

QList<AuditFileBytes> ReadFiles(const QStringList &paths) {
    if (paths.isEmpty())
        throw CliError{kExitUsage, QStringLiteral("audit: name at least one FILE")};
    QList<AuditFileBytes> files;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw CliError{kExitFile,
                           QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
        files.append({path, file.readAll()});
    }
    return files;
}

int Verify(const QStringList &paths) {
    const AuditVerification result = VerifyAuditFiles(ReadFiles(paths));
    for (const QString &note : result.notes)
        Print(note + QLatin1Char('\n'));
    if (!result.intact) {
        PrintError(QStringLiteral("audit trail broken: ") + result.failure);
        return kExitBrokenTrail;
    }
    if (!result.startsAfter.hash.isEmpty())
        Print(QStringLiteral("starts after: seq %1 sha256 %2 (a file before these was not "
                             "given)\n")
                  .arg(result.startsAfter.sequence)
                  .arg(QString::fromLatin1(result.startsAfter.hash)));
    Print(QStringLiteral("intact: %1 lines\nhead: seq %2 sha256 %3\n")
              .arg(result.lines)
              .arg(result.head.sequence)
              .arg(QString::fromLatin1(result.head.hash.isEmpty() ? QByteArray("none")
                                                                  : result.head.hash)));
    return kExitOk;
}

QDateTime Bound(const QCommandLineParser &parser, const QString &name, bool end) {
    if (!parser.isSet(name))
        return {};
    const QString text = parser.value(name);
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return end ? date.addDays(1).startOfDay() : date.startOfDay();
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (!moment.isValid())
        throw CliError{kExitUsage,
                       QStringLiteral("--%1: '%2' is no date or date and time").arg(name, text)};
    return moment;
}

// The window keeps the texts it showed, the tool the numbers it read.
QString Cell(const QJsonObject &reading, const char *name) {
    const QJsonValue value = reading.value(QLatin1String(name));
    if (value.isDouble())
        return QString::number(value.toDouble());
    return value.isString() ? value.toString() : QStringLiteral("—");
}

QString BeforeWords(const QJsonValue &before) {
    if (!before.isObject())
        return QStringLiteral("—");
    const QJsonObject reading = before.toObject();
    if (reading.contains(QLatin1String("unread")))
        return QStringLiteral("не прочитано: ") + reading.value(QLatin1String("unread")).toString();
    return QStringLiteral("уставка %1, программа %2, шаг %3, цикл %4 (%5 с назад)")
        .arg(Cell(reading, "set_temperature"), Cell(reading, "program"), Cell(reading, "step"),
             Cell(reading, "cycle"))
        .arg(qRound(reading.value(QLatin1String("age_s")).toDouble()));
}

void PrintTable(const QList<QStringList> &rows) {
    QList<qsizetype> widths;
    for (const QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.append(0);
            widths[c] = std::max(widths[c], row[c].size());
        }
    for (const QStringList &row : rows) {
        QStringList cells;
        for (qsizetype c = 0; c < row.size(); ++c)
            cells << (c + 1 == row.size() ? row[c] : row[c].leftJustified(widths[c]));
        Print(cells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n'));
    }
}

int Show(const QCommandLineParser &parser, const QStringList &paths) {
    std::optional<int> chamber;
    if (parser.isSet(QStringLiteral("chamber"))) {
        bool ok = false;
        chamber = parser.value(QStringLiteral("chamber")).toInt(&ok);
        if (!ok)
            throw CliError{kExitUsage, QStringLiteral("--chamber: a bus address, 0 to 250")};
    }
    const QDateTime from = Bound(parser, QStringLiteral("from"), false);
    const QDateTime to = Bound(parser, QStringLiteral("to"), true);
    QList<QJsonObject> lines;
    for (const AuditFileBytes &file : ReadFiles(paths))
        lines << AuditLines(file.bytes);
    // A tool that awaits the chamber's answer writes it on a line of its own after the frames.
    QMap<qint64, QString> answers;
    for (const QJsonObject &line : lines)
        if (line.contains(QLatin1String("completes")))
            answers.insert(line.value(QLatin1String("completes")).toInteger(),
                           line.value(QLatin1String("outcome")).toString());
    QList<QStringList> rows{
        {QStringLiteral("№"), QStringLiteral("Время"), QStringLiteral("Пользователь"),
         QStringLiteral("Программа"), QStringLiteral("Камера"), QStringLiteral("Команда"),
         QStringLiteral("Было"), QStringLiteral("Итог"), QStringLiteral("Причина")}};
    const bool json = parser.isSet(QStringLiteral("json"));
    for (const QJsonObject &line : lines) {
        const QJsonObject what = line.value(QLatin1String("what")).toObject();
        const QDateTime at =
            QDateTime::fromString(line.value(QLatin1String("utc")).toString(), Qt::ISODateWithMs);
        if ((chamber && what.value(QLatin1String("chamber")).toInt(-1) != *chamber) ||
            (from.isValid() && at < from) || (to.isValid() && at >= to))
            continue;
        if (json) {
            Print(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) +
                  QLatin1Char('\n'));
            continue;
        }
        if (line.contains(QLatin1String("completes")))
            continue;
        const qint64 seq = line.value(QLatin1String("seq")).toInteger();
        const QJsonObject who = line.value(QLatin1String("who")).toObject();
        QString program = who.value(QLatin1String("program")).toString();
        if (who.contains(QLatin1String("link")))
            program += QStringLiteral(" через ") + who.value(QLatin1String("link")).toString();
        rows.append(
            {QString::number(seq),
             line.value(QLatin1String("local"))
                 .toString()
                 .left(19)
                 .replace(QLatin1Char('T'), QLatin1Char(' ')),
             AuditWhoWords(who), program, QString::number(what.value(QLatin1String("chamber")).toInt()),
             what.value(QLatin1String("words")).toString(),
             BeforeWords(line.value(QLatin1String("before"))),
             AuditOutcomeWords(answers.value(seq, line.value(QLatin1String("outcome")).toString())),
             line.value(QLatin1String("reason")).toString()});
    }
    if (!json)
        PrintTable(rows);
    return kExitOk;
}

} // namespace

int RunAudit(const QStringList &arguments) {
    const QString action = arguments.value(0);
    if (action == QLatin1String("--help") || action == QLatin1String("-h")) {
        Print(QString::fromUtf8(kAuditHelp));
        return kExitOk;
    }
    if (action != QLatin1String("verify") && action != QLatin1String("show"))
        throw CliError{kExitUsage,
                       QStringLiteral("audit: verify or show (try: kalvora-cli audit --help)")};
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("chamber"), QString(), QStringLiteral("N")});
    parser.addOption({QStringLiteral("from"), QString(), QStringLiteral("T")});
    parser.addOption({QStringLiteral("to"), QString(), QStringLiteral("T")});
    parser.addOption({QStringLiteral("json"), QString()});
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    if (!parser.parse(QStringList{QStringLiteral("audit")} + arguments.mid(1)))
        throw CliError{kExitUsage,
                       parser.errorText() + QStringLiteral(" (try: kalvora-cli audit --help)")};
    if (parser.isSet(QStringLiteral("help"))) {
        Print(QString::fromUtf8(kAuditHelp));
        return kExitOk;
    }
    if (action == QLatin1String("verify"))
        return Verify(parser.positionalArguments());
    return Show(parser, parser.positionalArguments());
}

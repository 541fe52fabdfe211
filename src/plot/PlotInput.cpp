#include "PlotInput.h"

#include "core/IntegerText.h"
#include "core/LogReader.h"
#include "core/ReadingsCsv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMap>

namespace {

struct FileReadings {
    std::optional<int> chamber;
    ReadingsFile content;
    bool isCsv = false;
    std::optional<EventsJournal> journal;
    QByteArray sha256;
};

QByteArray ReadBytes(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir())
        throw InputError(path + QStringLiteral(": is a folder, not a file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InputError(path + QStringLiteral(": cannot read: ") + file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw InputError(path + QStringLiteral(": cannot read: ") + file.errorString());
    return bytes;
}

FileReadings ReadFile(const QString &path, const InputSettings &input) {
    const QByteArray bytes = ReadBytes(path);
    const auto nameParts = ParseLogFileName(QFileInfo(path).fileName(), input.settings);
    FileReadings file;
    file.sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    if (nameParts)
        file.chamber = nameParts->chamber;
    if ((file.journal = ReadEventsJournal(bytes)))
        return file;

    if (const auto csv = ReadReadingsCsv(bytes)) {
        file.content = *csv;
        file.isCsv = true;
        return file;
    }
    if (!LooksLikeLog(bytes))
        throw InputError(path + QStringLiteral(": not a Kalvora log (the first line is not the "
                                               "log header)"));

    LogReadOptions options;
    options.settings = input.settings;
    options.utcOffsetAt = input.utcOffsetAt;
    if (nameParts && nameParts->date) {
        options.startDate = *nameParts->date;
        options.startTime = nameParts->time;
    } else if (input.fallbackDate) {
        options.startDate = *input.fallbackDate;
    } else {
        throw InputError(path + QStringLiteral(": the date cannot be read from the file name; "
                                               "give it with --date YYYY-MM-DD or name its "
                                               "format with --date-format"));
    }
    file.content = *ReadLog(bytes, options);
    return file;
}

QString DamagedWarning(const QString &path, int damagedLines, int firstDamagedLine) {
    return path + QStringLiteral(": ") + IntToText(damagedLines) +
           (damagedLines == 1 ? QStringLiteral(" damaged line skipped (line ")
                              : QStringLiteral(" damaged lines skipped (the first is line ")) +
           IntToText(firstDamagedLine) + QLatin1Char(')');
}

QString NoRecordsMessage(const QString &path, const ReadingsFile &content) {
    QString message = path + QStringLiteral(": no records");
    // Every line damaged usually means the time format differs from the writer's.
    if (content.damagedLines > 0)
        message += QStringLiteral(" (") + IntToText(content.damagedLines) +
                   QStringLiteral(" damaged lines; do the regional settings or --time-format "
                                  "match the machine that wrote it?)");
    return message;
}

} // namespace

QString ChamberLabel(int chamber) { return QStringLiteral("Камера №") + IntToText(chamber); }

LoadedInput LoadInput(const QStringList &files, const InputSettings &input) {
    LoadedInput loaded;
    // A chamber's logs are dated together, its readings CSV files carry their own offsets.
    QMap<int, QList<QList<Reading>>> logsByChamber;
    QMap<int, QList<QList<Reading>>> csvByChamber;
    QMap<int, bool> chamberHasSetTemperature;
    QMap<int, int> chamberDamagedLines;
    QList<ChamberReadings> unnumbered;
    for (const QString &path : files) {
        const FileReadings file = ReadFile(path, input);
        loaded.sources.append({path, file.sha256, file.chamber, file.journal.has_value()});
        if (file.journal) {
            if (file.journal->damagedLines > 0)
                loaded.warnings.append(DamagedWarning(path, file.journal->damagedLines,
                                                      file.journal->firstDamagedLine));
            loaded.events.append(file.journal->events);
            loaded.journalDamagedLines += file.journal->damagedLines;
            continue;
        }
        if (file.content.damagedLines > 0)
            loaded.warnings.append(
                DamagedWarning(path, file.content.damagedLines, file.content.firstDamagedLine));
        if (file.content.readings.isEmpty() && !input.allowEmptyFiles)
            throw InputError(NoRecordsMessage(path, file.content));
        if (file.chamber) {
            (file.isCsv ? csvByChamber : logsByChamber)[*file.chamber].append(
                file.content.readings);
            chamberHasSetTemperature[*file.chamber] |= file.isCsv;
            chamberDamagedLines[*file.chamber] += file.content.damagedLines;
        } else {
            QList<QList<Reading>> alone = {file.content.readings};
            if (input.utcOffsetAt && !file.isCsv)
                SettleRepeatedHour(alone, input.utcOffsetAt);
            unnumbered.append({std::nullopt, QFileInfo(path).fileName(),
                               JoinReadings(alone, input.utcOffsetAt), file.isCsv,
                               file.content.damagedLines});
        }
    }
    for (auto it = logsByChamber.begin(); it != logsByChamber.end(); ++it)
        if (input.utcOffsetAt)
            SettleRepeatedHour(it.value(), input.utcOffsetAt);
    for (const int chamber : chamberHasSetTemperature.keys())
        loaded.chambers.append(
            {chamber, ChamberLabel(chamber),
             JoinReadings(logsByChamber.value(chamber) + csvByChamber.value(chamber),
                          input.utcOffsetAt),
             chamberHasSetTemperature.value(chamber), chamberDamagedLines.value(chamber)});
    loaded.chambers.append(unnumbered);
    return loaded;
}

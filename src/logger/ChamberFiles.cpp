#include "logger/ChamberFiles.h"

#include "base/CliError.h"
#include "base/ReadingReport.h"

#include "core/Errors.h"
#include "core/LogFormat.h"
#include "platform/LogFile.h"

#include <QDir>
#include <QFile>

namespace {

// A file whose header could not be written is removed again: a full disk must not leave an
// empty file behind at every restart.
void CreateWithHeader(const QString &path, const QByteArray &header) {
    try {
        CreateLogFile(path, header);
    } catch (const InOutError &error) {
        QFile::remove(path);
        throw CliError{kExitFile, path + QStringLiteral(": ") + error.message()};
    }
}

void Append(const QString &path, const QByteArray &bytes) {
    try {
        AppendToLogFile(path, bytes);
    } catch (const InOutError &error) {
        throw CliError{kExitFile, path + QStringLiteral(": ") + error.message()};
    }
}

} // namespace

ChamberFiles::ChamberFiles(int address, const QString &folder, const RegionalSettings &regional,
                           bool csv, NewFileListener onNewFile)
    : address_(address), folder_(QDir(folder).absolutePath() + QLatin1Char('/')),
      regional_(regional), csv_(csv), onNewFile_(std::move(onNewFile)) {}

void ChamberFiles::start(const QDateTime &moment) { makePair(moment, Why::Start); }

void ChamberFiles::appendRecord(const QDateTime &moment, const QByteArray &bytes) {
    Append(pairFor(moment).logPath, bytes);
}

void ChamberFiles::appendCsvRow(const QDateTime &moment, const QByteArray &bytes) {
    const Pair &pair = pairFor(moment);
    if (!pair.csvPath.isEmpty())
        Append(pair.csvPath, bytes);
}

const ChamberFiles::Pair &ChamberFiles::pairFor(const QDateTime &moment) {
    const QDate date = moment.date();
    const int offset = moment.offsetFromUtc();
    for (auto pair = pairs_.rbegin(); pair != pairs_.rend(); ++pair)
        if (pair->date == date && pair->utcOffset == offset)
            return *pair;
    const bool sameDate = !pairs_.empty() && pairs_.back().date == date;
    makePair(moment, sameDate ? Why::Offset : Why::Date);
    return pairs_.back();
}

void ChamberFiles::makePair(const QDateTime &moment, Why why) {
    Pair pair;
    pair.date = moment.date();
    pair.utcOffset = moment.offsetFromUtc();
    // Named by the moment, as the window names its files. After the autumn clock change the
    // same name may come round again: the next second's name is taken then, never an old file.
    for (int second = 0; second < 60; ++second) {
        const std::tm named = AsTm(moment.addSecs(second));
        const QString name = NewLogFileName(
            folder_, FileTimeStamp(FormatDate(regional_, named), FormatTime(regional_, named)));
        pair.logPath = WithChamberNumber(name, address_);
        if (!QFile::exists(pair.logPath))
            break;
    }
    if (QFile::exists(pair.logPath)) // never empty a log that holds records
        throw CliError{kExitFile, pair.logPath + QStringLiteral(": exists already")};
    CreateWithHeader(pair.logPath, LogHeaderBytes());
    if (csv_) {
        pair.csvPath = pair.logPath.chopped(4) + QStringLiteral(".csv");
        try {
            CreateWithHeader(pair.csvPath, CsvHeader().toUtf8());
        } catch (const CliError &) {
            QFile::remove(pair.logPath);
            throw;
        }
    }
    pairs_.push_back(pair);
    if (pairs_.size() > 2)
        pairs_.erase(pairs_.begin());
    if (onNewFile_)
        onNewFile_(address_, pair.logPath, why);
}

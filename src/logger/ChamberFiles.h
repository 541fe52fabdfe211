#pragma once
// One chamber's files in a logging run: its log in the window's format and, with --csv, its
// readings CSV beside it (same name, .csv). Each pair of files holds the readings of one local
// date at one offset from UTC, so that a record, which carries only the time of day, is always
// dated right by its file's name: a write whose moment has another date or offset goes to a new
// pair named by that moment, as the window names files (midnight, a long outage, a clock
// change). The pair before stays in use for a late record of its own date and offset.
#include "core/RegionalSettings.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

class ChamberFiles {
public:
    enum class Why { Start, Date, Offset };
    // Told of every new pair of files, once its headers are written.
    using NewFileListener = std::function<void(int address, const QString &logPath, Why why)>;

    // folder: with or without its separator.
    ChamberFiles(int address, const QString &folder, const RegionalSettings &regional, bool csv,
                 NewFileListener onNewFile);

    // Makes the first pair, named by `moment`. Each write below throws CliError(kExitFile)
    // naming the file; a file whose header could not be written is removed again.
    void start(const QDateTime &moment);
    void appendRecord(const QDateTime &moment, const QByteArray &bytes);
    void appendCsvRow(const QDateTime &moment, const QByteArray &bytes);

    int address() const { return address_; }

private:
    struct Pair {
        QDate date;
        int utcOffset = 0;
        QString logPath;
        QString csvPath; // empty without --csv
    };

    const Pair &pairFor(const QDateTime &moment);
    void makePair(const QDateTime &moment, Why why);

    int address_;
    QString folder_;
    RegionalSettings regional_;
    bool csv_;
    NewFileListener onNewFile_;
    std::vector<Pair> pairs_; // the newest last; at most two
};

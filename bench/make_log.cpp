// Writes a readings log as the window program would after a long test: one record a minute of a
// chamber running a thermocycling program, through the program's own log format functions.
// kalvora-make-log FOLDER [RECORDS] [CHAMBER] [csv]; prints the file's path. With "csv", the
// readings CSV of kalvora-cli is written beside it, with the set temperature and time to mode.
#include "core/LogFormat.h"
#include "core/NumberText.h"
#include "core/ReadingsCsv.h"
#include "core/RegionalSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A 12-step program between -40 and +85 °C repeated in 5-cycle runs; each step lasts 50 minutes
// and the chamber approaches its set-point exponentially.
struct Chamber {
    double temperature = 22.0;
    const double setPoints[12] = {-40, -40, -20, 0, 25, 50, 85, 85, 60, 25, 0, -20};
    QString Step(int minute) const { return Pair(minute / 50 % 12 + 1, 12); }
    QString Cycle(int minute) const { return Pair(minute / 600 % 5 + 1, 5); }
    double SetPoint(int minute) const { return setPoints[minute / 50 % 12]; }
    static QString Pair(int current, int total) {
        return QString::number(current) + QLatin1Char('(') + QString::number(total) +
               QLatin1Char(')');
    }
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kalvora-make-log FOLDER [RECORDS] [CHAMBER] [csv]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
    const int records = argc > 2 ? std::atoi(argv[2]) : 43200;
    const int chamberNumber = argc > 3 ? std::atoi(argv[3]) : 3;
    const bool withCsv = argc > 4 && QByteArray(argv[4]) == "csv";
    const RegionalSettings settings; // day.month.year, 24-hour time, decimal comma
    const QDateTime ticked(QDate(2026, 11, 10), QTime(9, 0, 0));

    const QString name =
        WithChamberNumber(NewLogFileName(folder, FileTimeStamp(FormatDate(settings, AsTm(ticked)),
                                                               FormatTime(settings, AsTm(ticked)))),
                          chamberNumber);
    QByteArray bytes = LogHeaderBytes();
    QByteArray csv = ReadingsCsvHeader() + '\n';
    Chamber chamber;
    for (int minute = 0; minute < records; ++minute) {
        const QDateTime at = ticked.addSecs(40 + 60LL * minute);
        chamber.temperature +=
            (chamber.SetPoint(minute) - chamber.temperature) * 0.12 + 0.15 * std::sin(minute * 0.7);
        const double shown = std::round(chamber.temperature * 10) / 10;
        bytes += LogRecordBytes(FormatTime(settings, AsTm(at)),
                                FloatToText(shown, settings.decimalSeparator), QStringLiteral("2"),
                                chamber.Step(minute), chamber.Cycle(minute));
        if (withCsv) {
            // The time to mode counts up through the step; its set-point is 20 minutes.
            const int intoStep = minute % 50;
            csv += (IsoLocalTime(at.date(), at.time(), at.offsetFromUtc()) + QLatin1Char(',') +
                    FloatToText(shown, QLatin1Char('.')) + QLatin1Char(',') +
                    FloatToText(chamber.SetPoint(minute), QLatin1Char('.')) +
                    QStringLiteral(",00:%1,,00:20,,2,").arg(intoStep, 2, 10, QLatin1Char('0')) +
                    QString::number(minute / 50 % 12 + 1) + QStringLiteral(",12,") +
                    QString::number(minute / 600 % 5 + 1) + QStringLiteral(",5\n"))
                       .toUtf8();
        }
    }
    if (withCsv) {
        const QString csvName = name.chopped(4) + QStringLiteral(".csv");
        QFile file(csvName);
        if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(csvName), qPrintable(file.errorString()));
            return 6;
        }
    }
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(file.errorString()));
        return 6;
    }
    std::printf("%s\n", name.toLocal8Bit().constData());
    return 0;
}

#include "base/Bus.h"
#include "base/ReadingReport.h"
#include "cli/Commands.h"

#include "core/IsoTime.h"
#include "core/KnownPrograms.h"
#include "core/ModbusRtu.h"
#include "core/ProgramFile.h"
#include "core/ProgramProfile.h"
#include "core/RunEndEstimate.h"

#include <QDateTime>
#include <QFile>
#include <cstdio>

namespace {

// The tables of --program: each file names its program number.
KnownPrograms ProgramsOf(const QStringList &paths, int address) {
    KnownPrograms known;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw CliError{kExitFile,
                           QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
        const QByteArray bytes = file.readAll();
        if (!LooksLikeProgramFile(bytes))
            throw CliError{kExitRejected,
                           QStringLiteral("%1 is not a program file (docs/programs.md)").arg(path)};
        const ProgramFileRead read = ReadProgramFile(bytes, path);
        if (!read.program)
            throw CliError{kExitRejected, read.error};
        if (read.programNumber == 0)
            throw CliError{kExitRejected,
                           path + QStringLiteral(": the file names no program number")};
        known.named(address, read.programNumber, *read.program, 0);
    }
    return known;
}

QString RunEndText(const RunEnd &run) {
    if (run.basis != RunEndBasis::Estimated)
        return QStringLiteral("Run end (estimate): - (%1)\n")
            .arg(QString::fromLatin1(RunEndBasisName(run.basis)));
    return QStringLiteral("Run end (estimate): %1, %2 left\n")
        .arg(IsoLocalTime(run.end.date(), run.end.time(), run.end.offsetFromUtc()),
             DurationText(run.secondsLeft / 60));
}

} // namespace

int RunRead(const QStringList &arguments) {
    CommandLine line(QStringLiteral("read"), QStringLiteral("ADDR"),
                     QStringLiteral("Reads the 15 input registers of the chamber at bus address "
                                    "ADDR once and prints\nits figures, decoded with the "
                                    "window's bounds and formats. Exits 4 when no valid\nreply "
                                    "came or the chamber answered with an exception."),
                     {3, 800});
    line.addFlag(QStringLiteral("json"),
                 QStringLiteral("Print one JSON object (numbers with a dot, times as \"hh:mm\", "
                                "null for a value that fails its bound)."));
    line.addValueOption(
        QStringLiteral("program"), QStringLiteral("FILE"),
        QStringLiteral("A program file (docs/programs.md) naming its program number: while the "
                       "chamber runs that program, the estimated end of the run and the time "
                       "left are printed too (JSON: run_end_estimate, run_seconds_left, "
                       "run_end_basis, as the logger's /api/chambers gives them). Repeatable."));
    if (const auto done = line.parse(arguments))
        return *done;
    line.expectPositional(1, QStringLiteral("ADDR"));
    const int address = BusAddressArgument(line.positional().at(0));

    Bus bus(line.common());
    const auto request = BuildReadRequest(static_cast<std::uint8_t>(address), 4, 15);
    const ExchangeResult result = bus.exchange(request);
    if (result.outcome == ExchangeResult::Outcome::WriteFailed ||
        result.outcome == ExchangeResult::Outcome::PortLost)
        throw CliError{kExitPort, bus.outcomeText(result)};
    if (result.outcome != ExchangeResult::Outcome::Ok)
        throw CliError{kExitNoAnswer,
                       QStringLiteral("chamber %1: %2").arg(address).arg(OutcomeText(result))};
    const ReadingValues values = DecodeReadingValues(result.reply.data());
    const QStringList programFiles = line.parser().values(QStringLiteral("program"));
    const bool json = line.isSet(QStringLiteral("json"));
    QString text = json ? ReadingJson(address, values) + QLatin1Char('\n') : ReadingText(values);
    if (!programFiles.isEmpty()) {
        const KnownPrograms known = ProgramsOf(programFiles, address);
        const QDateTime now = QDateTime::currentDateTime();
        const RunEnd run = EstimateRunEnd(
            values,
            values.program ? known.table(address, static_cast<int>(*values.program)) : nullptr,
            now);
        const bool estimated = run.basis == RunEndBasis::Estimated;
        if (json) {
            const QJsonValue null(QJsonValue::Null);
            text =
                ReadingJson(address, values,
                            {{QStringLiteral("run_end_estimate"),
                              estimated ? QJsonValue(IsoLocalTime(run.end.date(), run.end.time(),
                                                                  run.end.offsetFromUtc()))
                                        : null},
                             {QStringLiteral("run_seconds_left"),
                              estimated ? QJsonValue(static_cast<qint64>(run.secondsLeft)) : null},
                             {QStringLiteral("run_end_basis"),
                              QString::fromLatin1(RunEndBasisName(run.basis))}}) +
                QLatin1Char('\n');
        } else {
            text += RunEndText(run);
        }
    }
    std::fputs(text.toUtf8().constData(), stdout);
    return kExitOk;
}

#include "base/Bus.h"
#include "base/OptionNumbers.h"
#include "base/ReadingReport.h"
#include "cli/Commands.h"
#include "cli/ProgramCsv.h"

#include "core/AuditCommands.h"
#include "core/ControlFrames.h"
#include "core/ProgramFile.h"
#include "core/ProgramProfile.h"
#include "core/Errors.h"
#include "platform/AuditFile.h"
#include "platform/LogFolder.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>
#include <QRegularExpression>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kFrameSpacing{kCommandPauseMs};

const QString kConfirmHelp = QStringLiteral(
    "Exit 4 when a frame gets no response (without it, a missing response is a warning).");

QString WriteDescription(const QString &what) {
    return what + QStringLiteral(
                      "\nThe frames are byte for byte those the window sends. After each frame "
                      "the tool waits\nfor the chamber's function-16 response until the "
                      "timeout; an exception response\nexits 4 naming its code.");
}

constexpr ExchangeDefaults kWriteDefaults{1, 500};

void AddReasonOption(CommandLine &line) {
    line.addValueOption(QStringLiteral("reason"), QStringLiteral("TEXT"),
                        QStringLiteral("Why the write is made, for the audit trail (required "
                                       "where the lab's audit.conf says audit-reason=required)."));
}

// What the chamber showed before the write; why not, when it did not answer.
QJsonValue ReadBefore(Bus &bus, int address) {
    const ExchangeResult result =
        bus.exchange(BuildReadRequest(static_cast<std::uint8_t>(address), kReadInputRegisters, 15));
    if (result.outcome != ExchangeResult::Outcome::Ok)
        return QJsonObject{{QStringLiteral("unread"), OutcomeText(result)}};
    QJsonObject reading =
        QJsonDocument::fromJson(ReadingJson(address, DecodeReadingValues(result.reply.data())).toUtf8())
            .object();
    reading.remove(QStringLiteral("address"));
    reading.insert(QStringLiteral("read_utc"),
                   QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    reading.insert(QStringLiteral("age_s"), 0);
    return reading;
}

// The audit trail of this write, when the lab keeps one: the line goes to disk, synced, before
// the first frame, and a second line records the chamber's answer.
class WriteTrail {
public:
    explicit WriteTrail(const CommandLine &line) {
        settings_ = ReadAuditSettings();
        if (!settings_.error.isEmpty())
            throw CliError{kExitUsage, settings_.error};
        reason_ = line.value(QStringLiteral("reason")).trimmed();
        if (!settings_.enabled) {
            if (!reason_.isEmpty())
                PrintWarning(QStringLiteral("no audit trail is kept (audit=on is not set in %1): "
                                            "the reason is not recorded")
                                 .arg(AuditSettingsPath()));
            return;
        }
        if (settings_.reasonRequired && reason_.isEmpty())
            throw CliError{kExitRejected,
                           QStringLiteral("a reason is required for every write (%1): give "
                                          "--reason TEXT; nothing was sent")
                               .arg(AuditSettingsPath())};
    }

    // The chamber is read first, so that the line keeps what the write changes.
    void recordIntent(Bus &bus, int address, const QJsonObject &what) {
        if (!settings_.enabled)
            return;
        what_ = what;
        before_ = ReadBefore(bus, address);
        sending_ = append(QStringLiteral("sending"), std::nullopt);
        before_ = QJsonValue(QJsonValue::Null);
    }

    // A failure here is told, not thrown: the frames went out, and the exit code says how.
    void recordAnswer(const QString &outcome) {
        if (!sending_)
            return;
        // The frames and values are on the line it completes.
        QJsonObject named;
        for (const char *key : {"chamber", "command", "words"})
            named.insert(QLatin1String(key), what_.value(QLatin1String(key)));
        what_ = named;
        try {
            append(outcome, sending_->sequence);
        } catch (const KalvoraError &error) {
            PrintWarning(error.message());
        }
    }

private:
    AuditHead append(const QString &outcome, std::optional<qint64> completes) {
        const QString folder = settings_.folder.isEmpty() ? DefaultLogFolder() : settings_.folder;
        AuditRecord record{QDateTime::currentDateTime(),
                           CurrentProcessWho(QStringLiteral("kalvora-cli")),
                           what_,
                           before_,
                           outcome,
                           reason_,
                           completes};
        try {
            return AppendAuditRecord(folder, record);
        } catch (const KalvoraError &error) {
            throw CliError{kExitFile, error.message()};
        }
    }

    AuditSettings settings_;
    QString reason_;
    QJsonObject what_;
    QJsonValue before_;
    std::optional<AuditHead> sending_;
};

// Sends the frames kFrameSpacing apart, each awaiting its response.
int SendFrames(const CommandLine &line, int address, const std::vector<Frame> &frames,
               const QJsonObject &what) {
    WriteTrail trail(line);
    Bus bus(line.common());
    trail.recordIntent(bus, address, what);
    const bool confirm = line.isSet(QStringLiteral("confirm"));
    auto nextAt = std::chrono::steady_clock::now();
    QString answer = QStringLiteral("ok");
    try {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            std::this_thread::sleep_until(nextAt);
            nextAt = std::chrono::steady_clock::now() + kFrameSpacing;
            const ExchangeResult result = bus.exchange(frames[i]);
            using Outcome = ExchangeResult::Outcome;
            const QString which = frames.size() > 1
                                      ? QStringLiteral("chamber %1, frame %2 of %3")
                                            .arg(address)
                                            .arg(i + 1)
                                            .arg(frames.size())
                                      : QStringLiteral("chamber %1").arg(address);
            if (result.outcome != Outcome::Ok && answer == QLatin1String("ok"))
                answer = (frames.size() > 1 ? QStringLiteral("frame %1: ").arg(i + 1)
                                            : QString()) +
                         OutcomeText(result);
            if (result.outcome == Outcome::WriteFailed || result.outcome == Outcome::PortLost)
                throw CliError{kExitPort, which + QStringLiteral(": ") + bus.outcomeText(result)};
            // A frame that never went out is a failure with or without --confirm.
            if (result.outcome == Outcome::Exception || result.outcome == Outcome::LineNeverQuiet)
                throw CliError{kExitNoAnswer, which + QStringLiteral(": ") + OutcomeText(result)};
            if (result.outcome != Outcome::Ok) {
                if (confirm)
                    throw CliError{kExitNoAnswer,
                                   which + QStringLiteral(": ") + OutcomeText(result)};
                PrintWarning(which + QStringLiteral(": ") + OutcomeText(result) +
                             QStringLiteral(" to the write (the frame was sent)"));
            }
        }
    } catch (const CliError &) {
        trail.recordAnswer(answer);
        throw;
    }
    trail.recordAnswer(answer);
    return kExitOk;
}

// A negative temperature looks like an option to the parser: it goes after "--", with whatever
// the user already put there.
QStringList NegativeNumbersLast(const QStringList &arguments) {
    static const QRegularExpression negative(QStringLiteral("^-[0-9]+$"));
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    QStringList options;
    QStringList positional;
    for (const QString &argument : arguments.mid(0, end))
        (negative.match(argument).hasMatch() ? positional : options) << argument;
    if (end >= 0)
        positional << arguments.mid(end + 1);
    if (positional.isEmpty())
        return arguments;
    return options << QStringLiteral("--") << positional;
}

int RequiredNumber(const CommandLine &line, const QString &name, const Bounds &bounds) {
    if (!line.isSet(name))
        throw CliError{kExitUsage, QStringLiteral("--%1 is required").arg(name)};
    const QString text = line.value(name);
    if (const auto value = ParseDecimal(text, bounds.lowest, bounds.highest))
        return *value;
    throw CliError{kExitRejected,
                   QStringLiteral("--%1: '%2' is outside %3").arg(name, text, BoundsText(bounds))};
}

struct ProgramToWrite {
    ProgramInput input;
    int number = 0;
    QString name;
};

// The window's own check, so that the tool never sends what the window would refuse.
ProgramToWrite ReadPlainProgram(const CommandLine &line, const QByteArray &bytes,
                                const QString &path) {
    const int program = RequiredNumber(line, QStringLiteral("program"), kProgramNumberBounds);
    const int cycles = RequiredNumber(line, QStringLiteral("cycles"), kCyclesBounds);
    const ProgramCsv csv = ParseProgramCsv(QString::fromUtf8(bytes));
    if (!csv.error.isEmpty())
        throw CliError{kExitRejected, path + QStringLiteral(": ") + csv.error};
    std::optional<ProgramInput> input;
    try {
        input = CheckProgramInput(QString::number(csv.steps), QString::number(cycles), csv.cells);
    } catch (const ConversionError &error) {
        throw CliError{kExitRejected, path + QStringLiteral(": ") + error.message()};
    }
    if (!input)
        throw CliError{kExitRejected, path + QStringLiteral(": the program was rejected")};
    return {*input, program, QString()};
}

// A program file; --program and --cycles replace what it says before it is checked.
ProgramToWrite ReadProgramToWrite(const CommandLine &line, const QByteArray &bytes,
                                  const QString &path) {
    ProgramFileRead read = ReadProgramFile(bytes, path);
    if (!read.content)
        throw CliError{kExitRejected, read.error};
    ProgramFileContent content = *read.content;
    if (line.isSet(QStringLiteral("program")))
        content.texts.programNumber = QString::number(
            RequiredNumber(line, QStringLiteral("program"), kProgramNumberBounds));
    if (line.isSet(QStringLiteral("cycles")))
        content.texts.cycles =
            QString::number(RequiredNumber(line, QStringLiteral("cycles"), kCyclesBounds));
    read = CheckProgramContent(content, path);
    if (!read.program)
        throw CliError{kExitRejected, read.error};
    if (read.programNumber == 0)
        throw CliError{kExitUsage,
                       path + QStringLiteral(": the file names no program number; give --program")};
    return {*read.program, read.programNumber, content.texts.name};
}

QString DryRunText(const ProgramToWrite &toWrite, const QDateTime &now) {
    const ProgramInput &input = toWrite.input;
    QString text;
    if (!toWrite.name.isEmpty())
        text += toWrite.name + QLatin1Char('\n');
    text += QStringLiteral("program %1: %2 steps, %3 cycles\n")
                .arg(toWrite.number)
                .arg(input.steps)
                .arg(input.cycles);
    text += QStringLiteral("step  temperature  time to mode  stabilisation\n");
    for (int step = 1; step <= input.steps; ++step) {
        const StepValues &row = input.rows[step - 1];
        const bool jump = row.timeToModeHours == 0 && row.timeToModeMinutes == 0;
        text += QStringLiteral("%1  %2 °C  %3  %4\n")
                    .arg(step, 4)
                    .arg(row.temperature, 8)
                    .arg(jump ? QStringLiteral("0 (jump)") : DurationText(row.timeToModeHours * 60 +
                                                                         row.timeToModeMinutes),
                         12)
                    .arg(DurationText(row.stabilisationHours * 60 + row.stabilisationMinutes), 13);
    }
    const ProgramProfile profile = BuildProgramProfile(input, input.rows[0].temperature);
    text += QStringLiteral("total duration: %1 (%2 min)\n")
                .arg(DurationText(profile.totalMinutes))
                .arg(profile.totalMinutes);
    text += QStringLiteral("end if started now: %1\n")
                .arg(now.addSecs(profile.totalMinutes * 60).toString(Qt::ISODate));
    if (!profile.stepsWithJumps.empty()) {
        QStringList steps;
        for (const int step : profile.stepsWithJumps)
            steps << QString::number(step);
        text += QStringLiteral("time to mode 0 in step %1: the chamber sets its own rate there; "
                               "that time is not in the duration\n")
                    .arg(steps.join(QStringLiteral(", ")));
    }
    text += QStringLiteral("nothing was sent (--dry-run)\n");
    return text;
}

} // namespace

int RunWriteProgram(const QStringList &arguments) {
    CommandLine line(
        QStringLiteral("write-program"), QStringLiteral("ADDR FILE"),
        WriteDescription(QStringLiteral(
            "Writes a program of up to %4 steps to the chamber at ADDR, one frame per step,\n"
            "500 ms apart. FILE is a program file as the window saves it (see\n"
            "docs/programs.md): it holds the program number, the number of cycles and the\n"
            "table, and is checked as the window checks its entries; --program and\n"
            "--cycles, when given, win over the file's own. FILE may also be a plain CSV,\n"
            "one step per row, with the columns of the window's program table: temperature\n"
            "(%1), stabilisation hours (%2) and minutes (%3), time-to-mode hours (%2) and\n"
            "minutes (%3); empty lines, lines starting with # and a first row of column\n"
            "titles are skipped, and --program and --cycles are required. A rejected entry\n"
            "is named by file, line and cell and nothing is sent (exit 5).\n"
            "With --dry-run (ADDR may be left out) the program is checked and its steps,\n"
            "total duration and end time if started now are printed; nothing is sent.")
                             .arg(BoundsText(kTemperatureBounds), BoundsText(kHoursBounds),
                                  BoundsText(kMinutesBounds))
                             .arg(kMaxSteps)),
        kWriteDefaults);
    line.addFlag(QStringLiteral("confirm"), kConfirmHelp);
    AddReasonOption(line);
    line.addFlag(QStringLiteral("dry-run"),
                 QStringLiteral("Check and describe the program; send nothing."));
    line.addValueOption(QStringLiteral("program"), QStringLiteral("P"),
                        QStringLiteral("Program number, %1 (required unless FILE names it).")
                            .arg(BoundsText(kProgramNumberBounds)));
    line.addValueOption(QStringLiteral("cycles"), QStringLiteral("N"),
                        QStringLiteral("Number of cycles, %1 (required unless FILE names it).")
                            .arg(BoundsText(kCyclesBounds)));
    if (const auto done = line.parse(arguments))
        return *done;
    const bool dryRun = line.isSet(QStringLiteral("dry-run"));
    if (!(dryRun && line.positional().size() == 1))
        line.expectPositional(2, QStringLiteral("ADDR and FILE"));
    const bool withAddress = line.positional().size() == 2;
    const int address = withAddress ? BusAddressArgument(line.positional().at(0)) : 0;
    const QString path = line.positional().last();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    const QByteArray bytes = file.readAll();
    const ProgramToWrite toWrite = LooksLikeProgramFile(bytes)
                                       ? ReadProgramToWrite(line, bytes, path)
                                       : ReadPlainProgram(line, bytes, path);
    if (dryRun) {
        std::fputs(DryRunText(toWrite, QDateTime::currentDateTime()).toUtf8(), stdout);
        return kExitOk;
    }

    std::vector<Frame> frames;
    const ProgramInput &input = toWrite.input;
    for (int row = 1; row <= input.steps; ++row)
        frames.push_back(BuildStepFrame(static_cast<std::uint8_t>(address), toWrite.number, row,
                                        input.rows[row - 1], input.steps, input.cycles));
    return SendFrames(line, address, frames,
                      ProgramWrittenWhat(address, toWrite.number, input, frames));
}

bool IsControlCommand(const QString &command) {
    static const QStringList commands{QStringLiteral("set-point"), QStringLiteral("start"),
                                      QStringLiteral("stop"), QStringLiteral("start-program"),
                                      QStringLiteral("stop-program")};
    return commands.contains(command);
}

int RunControlCommand(const QString &command, const QStringList &arguments) {
    // The positional arguments each command takes, in order.
    struct Shape {
        QStringList arguments;
        QString what;
    };
    const QString temperatures = BoundsText(kTemperatureBounds);
    const std::map<QString, Shape> shapes{
        {QStringLiteral("set-point"),
         {{QStringLiteral("ADDR"), QStringLiteral("T")},
          QStringLiteral("Writes the manual set-point T, whole degrees %1, to the chamber "
                         "at ADDR\n(a negative T may follow \"--\" or stand last).")
              .arg(temperatures)}},
        {QStringLiteral("start"),
         {{QStringLiteral("ADDR")}, QStringLiteral("Starts the chamber at ADDR in manual mode.")}},
        {QStringLiteral("stop"),
         {{QStringLiteral("ADDR")}, QStringLiteral("Stops the chamber's manual mode.")}},
        {QStringLiteral("start-program"),
         {{QStringLiteral("ADDR"), QStringLiteral("P")},
          QStringLiteral("Starts the chamber's program run from program P (%1).")
              .arg(BoundsText(kProgramNumberBounds))}},
        {QStringLiteral("stop-program"),
         {{QStringLiteral("ADDR")}, QStringLiteral("Stops the chamber's program run.")}},
    };
    const Shape &shape = shapes.at(command);
    const QString usage = shape.arguments.join(QLatin1Char(' '));
    CommandLine line(command, usage, WriteDescription(shape.what), kWriteDefaults);
    line.addFlag(QStringLiteral("confirm"), kConfirmHelp);
    AddReasonOption(line);
    if (const auto done = line.parse(NegativeNumbersLast(arguments)))
        return *done;
    line.expectPositional(static_cast<int>(shape.arguments.size()), usage);
    const QStringList args = line.positional();
    const int address = BusAddressArgument(args.at(0));
    const auto a = static_cast<std::uint8_t>(address);

    Frame frame;
    QJsonObject what;
    if (command == QLatin1String("set-point")) {
        std::optional<int> temperature;
        try {
            temperature = CheckSetPointInput(args.at(1));
        } catch (const ConversionError &error) {
            throw CliError{kExitRejected, error.message()};
        }
        if (!temperature)
            throw CliError{kExitRejected,
                           QStringLiteral("set-point '%1' is outside %2").arg(args.at(1), temperatures)};
        frame = BuildSetPointFrame(a, *temperature);
        what = SetPointWhat(address, *temperature, frame);
    } else if (command == QLatin1String("start") || command == QLatin1String("stop")) {
        frame = BuildManualModeFrame(a, command == QLatin1String("start"));
        what = ManualModeWhat(address, command == QLatin1String("start"), frame);
    } else if (command == QLatin1String("start-program")) {
        const auto program =
            ParseDecimal(args.at(1), kProgramNumberBounds.lowest, kProgramNumberBounds.highest);
        if (!program)
            throw CliError{kExitRejected,
                           QStringLiteral("program '%1' is outside %2")
                               .arg(args.at(1), BoundsText(kProgramNumberBounds))};
        frame = BuildProgramStartFrame(a, *program);
        what = ProgramStartWhat(address, *program, frame);
    } else {
        frame = BuildProgramStopFrame(a);
        what = ProgramStopWhat(address, frame);
    }
    return SendFrames(line, address, {frame}, what);
}

#include "base/Bus.h"
#include "base/OptionNumbers.h"
#include "cli/Commands.h"
#include "cli/ProgramCsv.h"

#include "core/ControlFrames.h"
#include "core/Errors.h"

#include <QFile>
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

// Sends the frames kFrameSpacing apart, each awaiting its response.
int SendFrames(const CommandLine &line, int address, const std::vector<Frame> &frames) {
    Bus bus(line.common());
    const bool confirm = line.isSet(QStringLiteral("confirm"));
    auto nextAt = std::chrono::steady_clock::now();
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
        if (result.outcome == Outcome::WriteFailed || result.outcome == Outcome::PortLost)
            throw CliError{kExitPort, which + QStringLiteral(": ") + bus.outcomeText(result)};
        // A frame that never went out is a failure with or without --confirm.
        if (result.outcome == Outcome::Exception || result.outcome == Outcome::LineNeverQuiet)
            throw CliError{kExitNoAnswer, which + QStringLiteral(": ") + OutcomeText(result)};
        if (result.outcome != Outcome::Ok) {
            if (confirm)
                throw CliError{kExitNoAnswer, which + QStringLiteral(": ") + OutcomeText(result)};
            PrintWarning(which + QStringLiteral(": ") + OutcomeText(result) +
                         QStringLiteral(" to the write (the frame was sent)"));
        }
    }
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

} // namespace

int RunWriteProgram(const QStringList &arguments) {
    CommandLine line(
        QStringLiteral("write-program"), QStringLiteral("ADDR FILE"),
        WriteDescription(QStringLiteral(
            "Writes a program of up to %4 steps to the chamber at ADDR, one frame per step,\n"
            "500 ms apart. FILE is CSV, one step per row, with the columns of the window's\n"
            "program table: temperature (%1), stabilisation hours (%2) and minutes\n"
            "(%3), time-to-mode hours (%2) and minutes (%3). Empty lines, lines\n"
            "starting with # and a first row of column titles are skipped. A rejected entry\n"
            "is named by row and column and nothing is sent (exit 5).")
                             .arg(BoundsText(kTemperatureBounds), BoundsText(kHoursBounds),
                                  BoundsText(kMinutesBounds))
                             .arg(kMaxSteps)),
        kWriteDefaults);
    line.addFlag(QStringLiteral("confirm"), kConfirmHelp);
    line.addValueOption(QStringLiteral("program"), QStringLiteral("P"),
                        QStringLiteral("Program number, %1 (required).")
                            .arg(BoundsText(kProgramNumberBounds)));
    line.addValueOption(QStringLiteral("cycles"), QStringLiteral("N"),
                        QStringLiteral("Number of cycles, %1 (required).")
                            .arg(BoundsText(kCyclesBounds)));
    if (const auto done = line.parse(arguments))
        return *done;
    line.expectPositional(2, QStringLiteral("ADDR and FILE"));
    const int address = BusAddressArgument(line.positional().at(0));
    const int program = RequiredNumber(line, QStringLiteral("program"), kProgramNumberBounds);
    const int cycles = RequiredNumber(line, QStringLiteral("cycles"), kCyclesBounds);

    const QString path = line.positional().at(1);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    const ProgramCsv csv = ParseProgramCsv(QString::fromUtf8(file.readAll()));
    if (!csv.error.isEmpty())
        throw CliError{kExitRejected, path + QStringLiteral(": ") + csv.error};
    // The window's own check, so that the tool never sends what the window would refuse.
    std::optional<ProgramInput> input;
    try {
        input = CheckProgramInput(QString::number(csv.steps), QString::number(cycles), csv.cells);
    } catch (const ConversionError &error) {
        throw CliError{kExitRejected, path + QStringLiteral(": ") + error.message()};
    }
    if (!input)
        throw CliError{kExitRejected, path + QStringLiteral(": the program was rejected")};

    std::vector<Frame> frames;
    for (int row = 1; row <= input->steps; ++row)
        frames.push_back(BuildStepFrame(static_cast<std::uint8_t>(address), program, row,
                                        input->rows[row - 1], input->steps, input->cycles));
    return SendFrames(line, address, frames);
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
    if (const auto done = line.parse(NegativeNumbersLast(arguments)))
        return *done;
    line.expectPositional(static_cast<int>(shape.arguments.size()), usage);
    const QStringList args = line.positional();
    const int address = BusAddressArgument(args.at(0));
    const auto a = static_cast<std::uint8_t>(address);

    Frame frame;
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
    } else if (command == QLatin1String("start") || command == QLatin1String("stop")) {
        frame = BuildManualModeFrame(a, command == QLatin1String("start"));
    } else if (command == QLatin1String("start-program")) {
        const auto program =
            ParseDecimal(args.at(1), kProgramNumberBounds.lowest, kProgramNumberBounds.highest);
        if (!program)
            throw CliError{kExitRejected,
                           QStringLiteral("program '%1' is outside %2")
                               .arg(args.at(1), BoundsText(kProgramNumberBounds))};
        frame = BuildProgramStartFrame(a, *program);
    } else {
        frame = BuildProgramStopFrame(a);
    }
    return SendFrames(line, address, {frame});
}

// Any bytes as the control window's texts: split at each line feed into Edit1, Edit2 and the 75
// cells of the program table, row by row (missing texts are empty, extra ones are dropped).
// Checks the outcome of CheckProgramInput and CheckSetPointInput against the conversions of the
// single texts, and the frames that valid input turns into.
#include "FuzzCheck.h"
#include "core/ControlFrames.h"
#include "core/ControlInput.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/ModbusRtu.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <vector>

namespace {

constexpr std::uint8_t kSeparator = '\n';
constexpr int kTextCount = 2 + kMaxSteps * kStepColumns;

struct Bound {
    int lowest;
    int highest;
    bool Contains(int value) const { return value >= lowest && value <= highest; }
};

constexpr Bound kSteps{1, 15};
constexpr Bound kCycles{1, 999};
constexpr Bound kTemperature{-85, 180};
constexpr Bound kColumns[kStepColumns] = {kTemperature, {0, 99}, {0, 59}, {0, 99}, {0, 59}};

std::vector<QString> SplitTexts(const std::uint8_t *data, std::size_t size) {
    std::vector<QString> texts(kTextCount);
    std::size_t start = 0;
    for (int index = 0; index < kTextCount && start <= size; ++index) {
        std::size_t end = start;
        while (end < size && data[end] != kSeparator)
            ++end;
        texts[index] = QString::fromUtf8(reinterpret_cast<const char *>(data + start),
                                         static_cast<qsizetype>(end - start));
        start = end + 1;
    }
    return texts;
}

std::optional<int> Converted(const QString &text) {
    try {
        return StrToInt(text);
    } catch (const ConversionError &) {
        return std::nullopt;
    }
}

QString NotAnIntegerMessage(const QString &text) {
    return QLatin1Char('\'') + text + "' is not a valid integer value";
}

// What the checks should come to, worked out from the single texts: valid, invalid, or the
// text, first in the order the window's table is read, that is no integer.
struct Expected {
    bool valid = false;
    std::optional<QString> notAnInteger;
};

Expected ExpectedProgramOutcome(const QString &steps, const QString &cycles,
                                const StepCellTexts &cells) {
    if (steps.isEmpty() || cycles.isEmpty())
        return {};
    const auto n = Converted(steps);
    if (!n)
        return {false, steps};
    if (!kSteps.Contains(*n))
        return {};
    bool valid = true;
    for (int row = 0; row < *n; ++row) {
        for (int column = 0; column < kStepColumns; ++column) {
            const QString &cell = cells[row][column];
            if (cell.isEmpty()) {
                valid = false;
                continue;
            }
            const auto value = Converted(cell);
            if (!value)
                return {false, cell};
            valid = valid && kColumns[column].Contains(*value);
        }
        const auto cycleCount = Converted(cycles);
        if (!cycleCount)
            return {false, cycles};
        valid = valid && kCycles.Contains(*cycleCount);
    }
    return {valid, std::nullopt};
}

unsigned Register(const Frame &frame, int index) {
    FUZZ_CHECK(frame[7 + 2 * index] == 0, QStringLiteral("register %1 has a high byte").arg(index));
    return frame[8 + 2 * index];
}

void CheckFrameHeader(const Frame &frame, std::uint8_t address, unsigned startRegister,
                      unsigned registers) {
    FUZZ_CHECK(frame.size() == 9 + 2 * registers, QStringLiteral("%1 bytes").arg(frame.size()));
    const Frame header{address,
                       0x10,
                       0,
                       static_cast<std::uint8_t>(startRegister),
                       0,
                       static_cast<std::uint8_t>(registers),
                       static_cast<std::uint8_t>(2 * registers)};
    FUZZ_CHECK(std::equal(header.begin(), header.end(), frame.begin()), QStringLiteral("header"));
    // The CRC, low byte first, brings the CRC over the whole frame to 0.
    const auto last = static_cast<std::uint8_t>(frame.size() - 1);
    FUZZ_CHECK(ModbusCrc16(0, last, frame.data()) == 0, QStringLiteral("CRC"));
}

void CheckStepFrame(std::uint8_t address, int program, int row, const ProgramInput &input) {
    const StepValues &step = input.rows[row - 1];
    const Frame frame = BuildStepFrame(address, program, row, step, input.steps, input.cycles);
    CheckFrameHeader(frame, address, 0, 13);
    const auto reg = [&frame](int index) { return Register(frame, index); };
    const int signedTemperature =
        reg(8) == 1 ? -static_cast<int>(reg(2)) : static_cast<int>(reg(2));
    FUZZ_CHECK(reg(8) == 1 || reg(8) == 2, QStringLiteral("sign code %1").arg(reg(8)));
    FUZZ_CHECK(
        signedTemperature == step.temperature && (step.temperature != 0 || reg(8) == 2),
        QStringLiteral("temperature %1 sent as %2").arg(step.temperature).arg(signedTemperature));
    FUZZ_CHECK(static_cast<int>(100 * reg(7) + 10 * reg(11) + reg(12)) == input.cycles &&
                   reg(7) <= 9 && reg(11) <= 9 && reg(12) <= 9,
               QStringLiteral("cycles %1 sent as %2 %3 %4")
                   .arg(input.cycles)
                   .arg(reg(7))
                   .arg(reg(11))
                   .arg(reg(12)));
    const int sent[] = {static_cast<int>(reg(0)), static_cast<int>(reg(1)),
                        static_cast<int>(reg(3)), static_cast<int>(reg(4)),
                        static_cast<int>(reg(5)), static_cast<int>(reg(6)),
                        static_cast<int>(reg(9)), static_cast<int>(reg(10))};
    const int meant[] = {program, row,         step.stabilisationHours, step.stabilisationMinutes,
                         0,       input.steps, step.timeToModeHours,    step.timeToModeMinutes};
    for (std::size_t i = 0; i < std::size(sent); ++i)
        FUZZ_CHECK(sent[i] == meant[i], QStringLiteral("row %1 value %2: sent %3, meant %4")
                                            .arg(row)
                                            .arg(i)
                                            .arg(sent[i])
                                            .arg(meant[i]));
}

void CheckProgramInputOutcome(const std::vector<QString> &texts, std::uint8_t address,
                              int program) {
    StepCellTexts cells;
    for (int row = 0; row < kMaxSteps; ++row)
        for (int column = 0; column < kStepColumns; ++column)
            cells[row][column] = texts[2 + row * kStepColumns + column];
    const Expected expected = ExpectedProgramOutcome(texts[0], texts[1], cells);

    std::optional<ProgramInput> input;
    try {
        input = CheckProgramInput(texts[0], texts[1], cells);
    } catch (const ConversionError &error) {
        FUZZ_CHECK(expected.notAnInteger &&
                       error.message() == NotAnIntegerMessage(*expected.notAnInteger),
                   QStringLiteral("unexpected ") + Shown(error.message()));
        return;
    }
    FUZZ_CHECK(!expected.notAnInteger,
               QStringLiteral("no error for ") + Shown(expected.notAnInteger.value_or("")));
    FUZZ_CHECK(
        input.has_value() == expected.valid,
        QStringLiteral("outcome %1, expected %2").arg(input.has_value()).arg(expected.valid));
    if (!input)
        return;

    FUZZ_CHECK(kSteps.Contains(input->steps) && input->steps == StrToInt(texts[0]),
               QStringLiteral("steps %1").arg(input->steps));
    FUZZ_CHECK(kCycles.Contains(input->cycles) && input->cycles == StrToInt(texts[1]),
               QStringLiteral("cycles %1").arg(input->cycles));
    for (int row = 0; row < input->steps; ++row) {
        const StepValues &values = input->rows[row];
        const int taken[kStepColumns] = {values.temperature, values.stabilisationHours,
                                         values.stabilisationMinutes, values.timeToModeHours,
                                         values.timeToModeMinutes};
        for (int column = 0; column < kStepColumns; ++column)
            FUZZ_CHECK(kColumns[column].Contains(taken[column]) &&
                           taken[column] == StrToInt(cells[row][column]),
                       QStringLiteral("row %1 column %2 took %3")
                           .arg(row + 1)
                           .arg(column + 1)
                           .arg(taken[column]));
        CheckStepFrame(address, program, row + 1, *input);
    }
}

void CheckSetPointOutcome(const QString &text, std::uint8_t address) {
    const std::optional<int> value = text.isEmpty() ? std::nullopt : Converted(text);
    std::optional<int> temperature;
    try {
        temperature = CheckSetPointInput(text);
    } catch (const ConversionError &error) {
        FUZZ_CHECK(!text.isEmpty() && !value && error.message() == NotAnIntegerMessage(text),
                   Shown(text) + QStringLiteral(": ") + Shown(error.message()));
        return;
    }
    FUZZ_CHECK(text.isEmpty() || value, QStringLiteral("no error for ") + Shown(text));
    const bool valid = value && kTemperature.Contains(*value);
    FUZZ_CHECK(temperature.has_value() == valid && (!valid || *temperature == *value),
               Shown(text) + QStringLiteral(" gave %1").arg(temperature.value_or(-1000)));
    if (!temperature)
        return;

    const Frame frame = BuildSetPointFrame(address, *temperature);
    CheckFrameHeader(frame, address, 13, 3);
    const unsigned magnitude = Register(frame, 0);
    const unsigned sign = Register(frame, 2);
    FUZZ_CHECK(Register(frame, 1) == 0 && (sign == 1 || sign == 2) &&
                   (sign == 2 ? -static_cast<int>(magnitude) : static_cast<int>(magnitude)) ==
                       *temperature &&
                   (*temperature != 0 || sign == 1),
               QStringLiteral("set-point %1 sent as %2, sign %3")
                   .arg(*temperature)
                   .arg(magnitude)
                   .arg(sign));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::vector<QString> texts = SplitTexts(data, size);
    // The chamber address and program number vary with the input without taking its bytes.
    const auto address = static_cast<std::uint8_t>(std::accumulate(data, data + size, 0u));
    const int program = static_cast<int>(size % 16);

    CheckProgramInputOutcome(texts, address, program);
    for (const QString &text : texts)
        CheckSetPointOutcome(text, address);
    return 0;
}

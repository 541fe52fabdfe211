#include "ControlInput.h"

#include "Errors.h"
#include "IntegerText.h"

#include <algorithm>

namespace {

// Columns 1 to 5 of the program table, in order.
constexpr std::array<Bounds, kStepColumns> kColumnBounds{
    kTemperatureBounds, kHoursBounds, kMinutesBounds, kHoursBounds, kMinutesBounds};
constexpr std::array<int StepValues::*, kStepColumns> kColumnFields{
    &StepValues::temperature, &StepValues::stabilisationHours, &StepValues::stabilisationMinutes,
    &StepValues::timeToModeHours, &StepValues::timeToModeMinutes};

// Converts every cell of one row; false when a cell is empty or out of bounds.
bool ReadRow(const std::array<QString, kStepColumns> &cells, StepValues &row) {
    bool valid = true;
    for (int column = 0; column < kStepColumns; ++column) {
        if (cells[column].isEmpty()) {
            valid = false;
            continue;
        }
        const int value = StrToInt(cells[column]);
        row.*kColumnFields[column] = value;
        if (!kColumnBounds[column].Contain(value))
            valid = false;
    }
    return valid;
}

} // namespace

std::optional<ProgramInput> CheckProgramInput(const QString &stepsText, const QString &cyclesText,
                                              const StepCellTexts &cells) {
    if (stepsText.isEmpty() || cyclesText.isEmpty())
        return std::nullopt;
    ProgramInput input;
    input.steps = StrToInt(stepsText);
    if (!kStepsBounds.Contain(input.steps))
        return std::nullopt;

    // Every cell of the used rows is visited even after a fault, so that a text that is no
    // number is reported wherever it stands.
    bool valid = true;
    for (int row = 0; row < input.steps; ++row) {
        if (!ReadRow(cells[row], input.rows[row]))
            valid = false;
        input.cycles = StrToInt(cyclesText);
        if (!kCyclesBounds.Contain(input.cycles))
            valid = false;
    }
    if (!valid)
        return std::nullopt;
    return input;
}

std::optional<RejectedEntry> FirstRejectedEntry(const StepCellTexts &cells, int steps) {
    for (int row = 0; row < std::min(steps, kMaxSteps); ++row) {
        for (int column = 0; column < kStepColumns; ++column) {
            const QString &text = cells[row][column];
            const auto rejected = [&](const QString &reason) {
                return RejectedEntry{row + 1, column + 1, reason};
            };
            if (text.isEmpty())
                return rejected(QStringLiteral("empty"));
            int value = 0;
            try {
                value = StrToInt(text);
            } catch (const ConversionError &error) {
                return rejected(error.message());
            }
            const Bounds &bounds = kColumnBounds[column];
            if (!bounds.Contain(value))
                return rejected(
                    QStringLiteral("%1 is outside %2").arg(value).arg(BoundsText(bounds)));
        }
    }
    return std::nullopt;
}

std::optional<int> CheckSetPointInput(const QString &text) {
    if (text.isEmpty())
        return std::nullopt;
    const int temperature = StrToInt(text);
    if (!kTemperatureBounds.Contain(temperature))
        return std::nullopt;
    return temperature;
}

bool KeystrokeKeepsItsFunction(char16_t code) {
    return code == u'\t' || code == u'\r' || code == 27 || code == 127;
}

bool KeystrokeAllowed(char16_t code) {
    return (code >= u'0' && code <= u'9') || code == u'-' || code == u'\b';
}

QString BoundsText(const Bounds &bounds) {
    return QStringLiteral("%1..%2").arg(bounds.lowest).arg(bounds.highest);
}

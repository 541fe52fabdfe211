#pragma once
// Checks of the control window's entries before anything is written to a chamber.
#include <QString>
#include <array>
#include <optional>

constexpr int kMaxSteps = 15;
constexpr int kStepColumns = 5;

// The bounds the control window checks its entries against; tools that write to a chamber
// check theirs against the same ones.
struct Bounds {
    int lowest;
    int highest;
    constexpr bool Contain(int value) const { return value >= lowest && value <= highest; }
};
// "-85..180", as error messages name a range.
QString BoundsText(const Bounds &bounds);

constexpr Bounds kTemperatureBounds{-85, 180};
constexpr Bounds kHoursBounds{0, 99};
constexpr Bounds kMinutesBounds{0, 59};
constexpr Bounds kStepsBounds{1, kMaxSteps};
constexpr Bounds kCyclesBounds{1, 999};
// Program numbers a chamber stores and runs.
constexpr Bounds kProgramNumberBounds{1, 15};

struct StepValues {
    int temperature = 0;
    int stabilisationHours = 0;
    int stabilisationMinutes = 0;
    int timeToModeHours = 0;
    int timeToModeMinutes = 0;
};

struct ProgramInput {
    int steps = 0;
    int cycles = 0;
    std::array<StepValues, kMaxSteps> rows{};  // rows[0..steps-1] are valid
};

// cells[r][c]: row r+1, column c+1 of the program table.
using StepCellTexts = std::array<std::array<QString, kStepColumns>, kMaxSteps>;

// nullopt: the entries are invalid (empty or out of bounds). Throws ConversionError at the
// first text, in the table's order, that is not an integer.
std::optional<ProgramInput> CheckProgramInput(const QString &stepsText, const QString &cyclesText,
                                              const StepCellTexts &cells);

// The first entry of rows 1 to `steps` that the checks above reject, in the table's order, for
// a tool that names it to its user. row and column count from 1.
struct RejectedEntry {
    int row = 0;
    int column = 0;
    QString reason; // "empty", the conversion message, or "<v> is outside <lo>..<hi>"
};
std::optional<RejectedEntry> FirstRejectedEntry(const StepCellTexts &cells, int steps);

// Manual set-point temperature; nullopt when empty or out of bounds; throws ConversionError.
std::optional<int> CheckSetPointInput(const QString &text);

// Keystroke filter of the edit boxes: digits, "-" and backspace pass; every other typed
// character is discarded, Ctrl+letter codes (Ctrl+V 22 and the like) included.
bool KeystrokeAllowed(char16_t code);
// Tab, Return, Escape and Delete arrive as typed characters here but are keys with a function
// of their own (focus, confirm, cancel, delete): the filter lets them through.
bool KeystrokeKeepsItsFunction(char16_t code);

#include "KnownPrograms.h"

#include <algorithm>

namespace {

// Register numbers of a step record, as ControlFrames writes it.
enum Record {
    kProgram,
    kRow,
    kMagnitude,
    kStabilisationHours,
    kStabilisationMinutes,
    kUnused,
    kSteps,
    kCyclesHundreds,
    kSign, // 1 below zero
    kTimeToModeHours,
    kTimeToModeMinutes,
    kCyclesTens,
    kCyclesUnits,
};

} // namespace

void KnownPrograms::written(int chamber, int start, std::span<const std::uint16_t> values,
                            qint64 atMs) {
    if (start >= kRecordRegisters || values.empty())
        return;
    Registers &record = records_[chamber];
    for (std::size_t i = 0; i < values.size() && start + static_cast<int>(i) < kRecordRegisters;
         ++i) {
        if (start + static_cast<int>(i) < 0)
            continue;
        record.value[start + i] = values[i];
        record.known[start + i] = true;
    }
    if (std::all_of(record.known.begin(), record.known.end(), [](bool k) { return k; }))
        storeRecord(chamber, record, atMs);
}

void KnownPrograms::storeRecord(int chamber, const Registers &record, qint64 atMs) {
    const auto &r = record.value;
    const int program = r[kProgram];
    const int row = r[kRow];
    if (!kProgramNumberBounds.Contain(program) || row < 1 || row > kMaxSteps)
        return; // program 0: none chosen, a chamber stores nothing
    Table &table = tables_[{chamber, program}];
    if (atMs < table.asOfMs)
        return;
    const int steps = r[kSteps];
    const int cycles = r[kCyclesHundreds] * 100 + r[kCyclesTens] * 10 + r[kCyclesUnits];
    table.input.steps = std::min(steps, kMaxSteps);
    table.input.cycles = cycles;
    StepValues &step = table.input.rows[row - 1];
    step.temperature = r[kSign] == 1 ? -static_cast<int>(r[kMagnitude]) : r[kMagnitude];
    step.stabilisationHours = r[kStabilisationHours];
    step.stabilisationMinutes = r[kStabilisationMinutes];
    step.timeToModeHours = r[kTimeToModeHours];
    step.timeToModeMinutes = r[kTimeToModeMinutes];
    table.rowKnown[row - 1] = true;
    table.asOfMs = atMs;
}

void KnownPrograms::named(int chamber, int program, const ProgramInput &input, qint64 savedAtMs) {
    Table &table = tables_[{chamber, program}];
    if (savedAtMs < table.asOfMs)
        return;
    table.input = input;
    table.rowKnown.fill(false);
    std::fill_n(table.rowKnown.begin(), std::clamp(input.steps, 0, kMaxSteps), true);
    table.asOfMs = savedAtMs;
}

const ProgramInput *KnownPrograms::table(int chamber, int program) const {
    const auto found = tables_.find({chamber, program});
    if (found == tables_.end())
        return nullptr;
    const Table &table = found->second;
    if (table.input.steps < 1 || table.input.cycles < 1)
        return nullptr;
    for (int row = 0; row < table.input.steps; ++row)
        if (!table.rowKnown[row])
            return nullptr;
    return &table.input;
}

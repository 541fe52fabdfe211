#include "RunEndEstimate.h"

#include "ProgramProfile.h"

#include <algorithm>

namespace {

std::int64_t Minutes(const HoursMinutes &time) {
    return std::int64_t{time.hours} * 60 + time.minutes;
}

std::int64_t TimeToModeMinutes(const StepValues &step) {
    return std::int64_t{step.timeToModeHours} * 60 + step.timeToModeMinutes;
}

std::int64_t StabilisationMinutes(const StepValues &step) {
    return std::int64_t{step.stabilisationHours} * 60 + step.stabilisationMinutes;
}

bool Running(const ReadingValues &r) {
    return r.program.value_or(0) > 0 && r.step.value_or(0) > 0 && r.cycle.value_or(0) > 0;
}

// The chamber runs this table: its counts, and the set-points of the step under way.
bool Matches(const ReadingValues &r, const ProgramInput &table) {
    if (static_cast<int>(*r.steps) != table.steps || static_cast<int>(*r.cycles) != table.cycles)
        return false;
    if (static_cast<int>(*r.step) > table.steps || static_cast<int>(*r.cycle) > table.cycles)
        return false;
    const StepValues &step = table.rows[*r.step - 1];
    return Minutes(*r.timeToModeSetPoint) == TimeToModeMinutes(step) &&
           Minutes(*r.stabilisationSetPoint) == StabilisationMinutes(step);
}

} // namespace

RunEnd EstimateRunEnd(const ReadingValues &reading, const ProgramInput *table,
                      const QDateTime &readAt) {
    RunEnd out;
    if (!Running(reading))
        return out;
    if (!table) {
        out.basis = RunEndBasis::TableUnknown;
        return out;
    }
    if (!reading.steps || !reading.cycles || !reading.timeToMode || !reading.stabilisationTime ||
        !reading.timeToModeSetPoint || !reading.stabilisationSetPoint) {
        out.basis = RunEndBasis::CountersUnknown;
        return out;
    }
    if (!Matches(reading, *table)) {
        out.basis = RunEndBasis::TableMismatch;
        return out;
    }
    const int step = static_cast<int>(*reading.step);
    const int cycle = static_cast<int>(*reading.cycle);
    const std::int64_t stabilised = Minutes(*reading.stabilisationTime);
    // Once the stabilisation counts, the ramp is over, however long it took.
    const std::int64_t rampLeft =
        stabilised > 0 ? 0
                       : std::max<std::int64_t>(0, Minutes(*reading.timeToModeSetPoint) -
                                                       Minutes(*reading.timeToMode));
    const std::int64_t holdLeft =
        std::max<std::int64_t>(0, Minutes(*reading.stabilisationSetPoint) - stabilised);
    std::int64_t minutes = rampLeft + holdLeft;
    std::int64_t cycleMinutes = 0;
    for (int later = 1; later <= table->steps; ++later) {
        const std::int64_t each = StepMinutes(table->rows[later - 1]);
        cycleMinutes += each;
        if (later > step)
            minutes += each;
    }
    minutes += cycleMinutes * (table->cycles - cycle);
    out.basis = RunEndBasis::Estimated;
    out.secondsLeft = minutes * 60;
    out.end = readAt.addSecs(out.secondsLeft);
    return out;
}

const char *RunEndBasisName(RunEndBasis basis) {
    switch (basis) {
    case RunEndBasis::Estimated:
        return "estimated";
    case RunEndBasis::NotRunning:
        return "not running";
    case RunEndBasis::TableUnknown:
        return "table unknown";
    case RunEndBasis::TableMismatch:
        return "table mismatch";
    case RunEndBasis::CountersUnknown:
        return "counters unknown";
    }
    return "";
}

#pragma once
// When the program a chamber is running will end, from the chamber's own counters and the table
// of that program: what is left of the step under way (its time to mode, then its stabilisation,
// against their set-points), the steps after it in this cycle, and every later cycle whole.
//
// It is an estimate: the counters are whole minutes, a time to mode of 0 means the chamber sets
// its own rate (counted as 0, as the profile does), and a chamber that holds a ramp until it has
// reached the temperature takes longer than its time to mode (a ramp overdue counts as ending
// now). Where the table is unknown, or does not match what the chamber reports, it says so.
#include "ControlInput.h"
#include "ReadingValues.h"

#include <QDateTime>
#include <cstdint>

enum class RunEndBasis {
    Estimated,
    NotRunning,      // no program under way: program, step or cycle 0 or absent
    TableUnknown,    // the program's table is not known
    TableMismatch,   // the known table is not the one the chamber runs (steps, cycles, set-points)
    CountersUnknown, // a time the estimate needs failed its bound in the reading
};

struct RunEnd {
    RunEndBasis basis = RunEndBasis::NotRunning;
    std::int64_t secondsLeft = 0; // from the reading's moment; Estimated only
    QDateTime end;                // the reading's moment plus secondsLeft; Estimated only
};

// `table`: the program the chamber reports running (reading.program), nullptr when unknown.
// `readAt`: the moment of the reading.
RunEnd EstimateRunEnd(const ReadingValues &reading, const ProgramInput *table,
                      const QDateTime &readAt);

// "estimated", "not running", "table unknown", "table mismatch", "counters unknown": as
// /api/chambers names it.
const char *RunEndBasisName(RunEndBasis basis);

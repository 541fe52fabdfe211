#pragma once
// Programs written as tables in tests: the window's five cells of a step, in its column order.
#include "core/ControlInput.h"

#include <initializer_list>

// temperature, stabilisation h, min, time to mode h, min
inline StepValues Step(int t, int sh, int sm, int mh, int mm) { return {t, sh, sm, mh, mm}; }

inline ProgramInput Program(int cycles, std::initializer_list<StepValues> steps) {
    ProgramInput program;
    program.cycles = cycles;
    for (const StepValues &step : steps)
        program.rows[program.steps++] = step;
    return program;
}

// `steps` steps alike.
inline ProgramInput Repeated(int cycles, int steps, const StepValues &step) {
    ProgramInput program;
    program.cycles = cycles;
    program.steps = steps;
    for (int i = 0; i < steps; ++i)
        program.rows[i] = step;
    return program;
}

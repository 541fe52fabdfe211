#pragma once
// A program table from CSV: one step per row, the columns of the window's program table from
// left to right (temperature, stabilisation hours, stabilisation minutes, time-to-mode hours,
// time-to-mode minutes).
#include "core/ControlInput.h"

#include <QString>
#include <optional>

struct ProgramCsv {
    StepCellTexts cells{};
    int steps = 0;
    QString error; // empty when every cell passed the window's checks; names row and column
};

// Lines starting with "#" and empty lines are skipped; so is a first row of column titles
// (every cell holding a letter). Rows are numbered by their line in the text.
ProgramCsv ParseProgramCsv(const QString &text);

#pragma once
// The function-16 frames of the control commands.
#include "ControlInput.h"
#include <cstdint>
#include <vector>

using Frame = std::vector<std::uint8_t>;

// The pause between two frames of one command, so that the chamber has stored the first.
constexpr int kCommandPauseMs = 500;

// Registers 0 to 12 for step `row` (1-based) of program `program` (0 when none is chosen).
Frame BuildStepFrame(std::uint8_t address, int program, int row, const StepValues &step,
                     int steps, int cycles);
// Registers 13 to 15: magnitude, 0, sign code (2 below zero, 1 otherwise).
Frame BuildSetPointFrame(std::uint8_t address, int temperature);
// Register 16: 1 start, 2 stop.
Frame BuildManualModeFrame(std::uint8_t address, bool start);
// Registers 17 and 18: 1, the program to start from.
Frame BuildProgramStartFrame(std::uint8_t address, int fromProgram);
// Register 17: 2.
Frame BuildProgramStopFrame(std::uint8_t address);

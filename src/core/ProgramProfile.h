#pragma once
// What a program makes the chamber do over time, as far as the table says: each step a ramp to
// its temperature over its time to mode, then a hold for its stabilisation time, step after
// step, cycle after cycle. A time to mode of 0 is a jump: the chamber then heats or cools at its
// own rate, which the table does not know, so that time counts as 0 here.
#include "ControlInput.h"

#include <QString>
#include <cstdint>
#include <vector>

struct ProfileSegment {
    int cycle = 0; // from 1
    int step = 0;  // from 1
    std::int64_t rampStartMinute = 0;
    std::int64_t holdStartMinute = 0;
    std::int64_t endMinute = 0;
    int fromTemperature = 0;
    int toTemperature = 0;
    bool jump() const { return holdStartMinute == rampStartMinute; }
};

struct ProgramProfile {
    std::vector<ProfileSegment> segments; // in time order, cycles × steps
    std::int64_t totalMinutes = 0;
    std::vector<int> stepsWithJumps; // steps (from 1) whose time to mode is 0
};

// Minutes of one step: time to mode plus stabilisation.
std::int64_t StepMinutes(const StepValues &step);

// `startTemperature`: where the first ramp starts (the chamber's temperature when it starts).
ProgramProfile BuildProgramProfile(const ProgramInput &program, int startTemperature);

// "2 d 03 h 05 min", "3 h 00 min", "45 min".
QString DurationText(std::int64_t minutes);
// "2 сут 03 ч 05 мин", "3 ч 00 мин", "45 мин".
QString DurationTextRu(std::int64_t minutes);

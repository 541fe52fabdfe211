#pragma once
// The 15 input registers as numbers, for tools that report them rather than show them. Each
// value that fails its plausibility bound is absent; the bounds are the window's.
#include <QString>
#include <cstdint>
#include <optional>

struct HoursMinutes {
    unsigned hours = 0;
    unsigned minutes = 0;
    bool operator==(const HoursMinutes &) const = default;
};

struct ReadingValues {
    std::optional<double> currentTemperature;
    std::optional<double> setTemperature;
    std::optional<HoursMinutes> timeToMode;
    std::optional<HoursMinutes> stabilisationTime;
    std::optional<HoursMinutes> timeToModeSetPoint;
    std::optional<HoursMinutes> stabilisationSetPoint;
    std::optional<unsigned> program;
    std::optional<unsigned> step;  // present together with steps
    std::optional<unsigned> steps;
    std::optional<unsigned> cycle; // present together with cycles
    std::optional<unsigned> cycles;
};

// reply: a complete 35-byte reply to the read of the 15 registers. A time is present only when
// both its hours and its minutes pass their bounds.
ReadingValues DecodeReadingValues(const std::uint8_t *reply);

// "hh:mm" with at least two digits each, as the window shows times.
QString HoursMinutesText(const HoursMinutes &time);

#pragma once
// The chamber's 15 input registers as a reply carries them, and the plausibility bounds of
// each quantity. Shared by the window's decoding into texts and the tools' decoding into numbers.
#include <cstdint>

namespace input_registers {

constexpr unsigned kNegativeTemperatureFrom = 50000;
constexpr double kLowestTemperature = -100.0; // exclusive
constexpr double kHighestTemperature = 250.0; // exclusive
constexpr unsigned kHoursBound = 200;
constexpr unsigned kTimeToModeHoursBound = 1000;
constexpr unsigned kMinutesBound = 60;
constexpr unsigned kStepBound = 20;
constexpr unsigned kCycleBound = 1000;
constexpr unsigned kProgramBound = 20;

// Register `index` (0..14) of a reply: high byte first, after address, function and count.
inline unsigned Register(const std::uint8_t *reply, int index) {
    return 256u * reply[3 + 2 * index] + reply[4 + 2 * index];
}

// Tenths of a degree; values above 50000 are the two's complement of a negative reading.
inline double TemperatureOf(unsigned value) {
    if (value > kNegativeTemperatureFrom)
        return (65536.0 - value) / -10.0;
    return value / 10.0;
}

inline bool IsPlausibleTemperature(double t) {
    return t > kLowestTemperature && t < kHighestTemperature;
}

} // namespace input_registers

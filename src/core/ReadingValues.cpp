#include "ReadingValues.h"

#include "NumberText.h"

namespace {

constexpr unsigned kNegativeTemperatureFrom = 50000;
constexpr double kLowestTemperature = -100.0; // exclusive
constexpr double kHighestTemperature = 250.0; // exclusive
constexpr unsigned kHoursBound = 200;
constexpr unsigned kTimeToModeHoursBound = 1000;
constexpr unsigned kMinutesBound = 60;
constexpr unsigned kStepBound = 20;
constexpr unsigned kCycleBound = 1000;
constexpr unsigned kProgramBound = 20;

unsigned Register(const std::uint8_t *reply, int index) {
    return 256u * reply[3 + 2 * index] + reply[4 + 2 * index];
}

std::optional<double> Temperature(unsigned value) {
    const double t = value > kNegativeTemperatureFrom ? (65536.0 - value) / -10.0 : value / 10.0;
    if (t > kLowestTemperature && t < kHighestTemperature)
        return t;
    return std::nullopt;
}

std::optional<HoursMinutes> Time(unsigned hours, unsigned hoursBound, unsigned minutes) {
    if (hours < hoursBound && minutes < kMinutesBound)
        return HoursMinutes{hours, minutes};
    return std::nullopt;
}

} // namespace

ReadingValues DecodeReadingValues(const std::uint8_t *reply) {
    const auto reg = [reply](int index) { return Register(reply, index); };
    ReadingValues v;
    v.currentTemperature = Temperature(reg(0));
    v.setTemperature = Temperature(reg(2));
    v.stabilisationTime = Time(reg(4), kHoursBound, reg(5));
    v.timeToMode = Time(reg(6), kTimeToModeHoursBound, reg(7));
    v.stabilisationSetPoint = Time(reg(8), kHoursBound, reg(9));
    v.timeToModeSetPoint = Time(reg(14) / 60, kHoursBound, reg(14) % 60);
    if (reg(1) < kProgramBound)
        v.program = reg(1);
    if (reg(10) < kStepBound && reg(11) < kStepBound) {
        v.step = reg(10);
        v.steps = reg(11);
    }
    if (reg(12) < kCycleBound) {
        v.cycle = reg(12);
        v.cycles = reg(13);
    }
    return v;
}

QString HoursMinutesText(const HoursMinutes &time) {
    return TwoDigitText(time.hours) + QLatin1Char(':') + TwoDigitText(time.minutes);
}

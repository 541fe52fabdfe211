#include "ReadingValues.h"

#include "InputRegisterMap.h"
#include "NumberText.h"

namespace {

using namespace input_registers;

std::optional<double> Temperature(unsigned value) {
    const double t = TemperatureOf(value);
    if (IsPlausibleTemperature(t))
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

#include "ControlFrames.h"

#include "ModbusRtu.h"

namespace {

constexpr std::uint16_t kStepRecordRegister = 0;
constexpr std::uint16_t kSetPointRegister = 13;
constexpr std::uint16_t kManualModeRegister = 16;
constexpr std::uint16_t kProgramModeRegister = 17;
constexpr std::uint16_t kStart = 1;
constexpr std::uint16_t kStop = 2;

// Each register carries the value's low 8 bits after a high byte of 0.
std::uint16_t LowByte(int value) {
    return static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFu);
}

// Temperatures travel as a magnitude plus a sign code.
std::uint16_t Magnitude(int value) {
    const unsigned magnitude =
        value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    return static_cast<std::uint16_t>(magnitude & 0xFFu);
}

} // namespace

Frame BuildStepFrame(std::uint8_t address, int program, int row, const StepValues &step, int steps,
                     int cycles) {
    const bool belowZero = step.temperature < 0;
    return BuildWriteFrame(address, kStepRecordRegister,
                           {LowByte(program), LowByte(row), Magnitude(step.temperature),
                            LowByte(step.stabilisationHours), LowByte(step.stabilisationMinutes), 0,
                            LowByte(steps), LowByte(cycles / 100),
                            static_cast<std::uint16_t>(belowZero ? 1 : 2),
                            LowByte(step.timeToModeHours), LowByte(step.timeToModeMinutes),
                            LowByte(cycles % 100 / 10), LowByte(cycles % 10)});
}

Frame BuildSetPointFrame(std::uint8_t address, int temperature) {
    const bool belowZero = temperature < 0;
    return BuildWriteFrame(
        address, kSetPointRegister,
        {Magnitude(temperature), 0, static_cast<std::uint16_t>(belowZero ? 2 : 1)});
}

Frame BuildManualModeFrame(std::uint8_t address, bool start) {
    return BuildWriteFrame(address, kManualModeRegister, {start ? kStart : kStop});
}

Frame BuildProgramStartFrame(std::uint8_t address, int fromProgram) {
    return BuildWriteFrame(address, kProgramModeRegister, {kStart, LowByte(fromProgram)});
}

Frame BuildProgramStopFrame(std::uint8_t address) {
    return BuildWriteFrame(address, kProgramModeRegister, {kStop});
}

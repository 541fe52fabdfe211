#include "ChamberModel.h"

#include <algorithm>
#include <cmath>

namespace chambersim {
namespace {

constexpr int kStepRecordLast = 12;
constexpr int kSetPointFirst = 13;
constexpr int kSetPointLast = 15;
constexpr int kManualCommand = 16;
constexpr int kProgramCommand = 17;
constexpr int kProgramToStart = 18;
constexpr std::uint16_t kStart = 1;
constexpr std::uint16_t kStop = 2;

bool touches(int start, int count, int first, int last) {
    return start <= last && start + count - 1 >= first;
}

std::uint16_t clampToRegister(double value) {
    return static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0));
}

std::uint16_t wholeHours(double seconds) { return clampToRegister(std::floor(seconds / 3600)); }

std::uint16_t minutesOfHour(double seconds) {
    return static_cast<std::uint16_t>(static_cast<long long>(seconds / 60) % 60);
}

} // namespace

std::uint16_t encodeTemperature(double celsius) {
    const long tenths = std::lround(std::fabs(celsius) * 10);
    if (celsius >= 0 || tenths == 0)
        return static_cast<std::uint16_t>(std::min(tenths, 65535L));
    return static_cast<std::uint16_t>(65536 - std::min(tenths, 65535L));
}

ChamberModel::ChamberModel(double degreesPerMinute) : rate_(degreesPerMinute) {}

const Program &ChamberModel::program(int number) const {
    return programs_.at(static_cast<std::size_t>(number - 1));
}

bool ChamberModel::writeHolding(int start, std::span<const std::uint16_t> values) {
    const int count = static_cast<int>(values.size());
    if (start < 0 || count < 1 || start + count > kHoldingRegisterCount)
        return false;
    std::copy(values.begin(), values.end(), holding_.begin() + start);
    if (touches(start, count, 0, kStepRecordLast))
        storeStepRecord();
    if (touches(start, count, kSetPointFirst, kSetPointLast))
        applyManualSetPoint();
    if (touches(start, count, kManualCommand, kManualCommand))
        manualCommand(holding_[kManualCommand]);
    if (touches(start, count, kProgramCommand, kProgramCommand))
        programCommand(holding_[kProgramCommand], holding_[kProgramToStart]);
    return true;
}

void ChamberModel::storeStepRecord() {
    const int number = holding_[0];
    const int row = holding_[1];
    // Program 0 is what the control window sends when no program is chosen: nothing to store.
    if (number < 1 || number > kProgramCount || row < 1 || row > kStepsPerProgram)
        return;
    Program &target = programs_[static_cast<std::size_t>(number - 1)];
    ProgramStep &step = target.steps[static_cast<std::size_t>(row - 1)];
    const double magnitude = holding_[2];
    step.temperature = holding_[8] == 1 ? -magnitude : magnitude;
    step.stabilisationMinutes = holding_[3] * 60 + holding_[4];
    step.timeToModeMinutes = holding_[9] * 60 + holding_[10];
    target.stepCount = std::min<int>(holding_[6], kStepsPerProgram);
    target.cycles = holding_[7] * 100 + holding_[11] * 10 + holding_[12];
}

void ChamberModel::applyManualSetPoint() {
    const double magnitude = holding_[kSetPointFirst];
    manualSetPoint_ = holding_[kSetPointLast] == 2 ? -magnitude : magnitude;
    if (mode_ != Mode::Program)
        set_ = manualSetPoint_;
}

void ChamberModel::manualCommand(std::uint16_t command) {
    if (command == kStart) {
        run_ = {};
        mode_ = Mode::Manual;
        set_ = manualSetPoint_;
    } else if (command == kStop && mode_ == Mode::Manual) {
        stop();
    }
}

void ChamberModel::programCommand(std::uint16_t command, std::uint16_t programNumber) {
    if (command == kStart)
        startProgram(programNumber);
    else if (command == kStop && mode_ == Mode::Program)
        stop();
}

void ChamberModel::startProgram(int number) {
    // A program that was never written has no steps: a controller refuses to run it.
    if (number < 1 || number > kProgramCount || program(number).stepCount < 1)
        return;
    mode_ = Mode::Program;
    run_ = ProgramRun{number, 1, 1};
    enterStep();
}

void ChamberModel::stop() {
    mode_ = Mode::Stopped;
    run_ = {};
}

const ProgramStep &ChamberModel::runningStep() const {
    return program(run_.program).steps[static_cast<std::size_t>(run_.step - 1)];
}

void ChamberModel::enterStep() {
    set_ = runningStep().temperature;
    run_.stabilising = false;
    run_.timeToModeElapsed = 0;
    run_.stabilisationElapsed = 0;
}

void ChamberModel::nextStep() {
    const Program &running = program(run_.program);
    if (++run_.step > running.stepCount) {
        run_.step = 1;
        // A program written with 0 cycles still runs once.
        if (++run_.cycle > std::max(1, running.cycles)) {
            stop();
            return;
        }
    }
    enterStep();
}

void ChamberModel::advance(double simSeconds) {
    // Small slices keep the moment a step reaches its mode accurate to a second.
    while (simSeconds > 0) {
        if (mode_ != Mode::Program && current_ == (mode_ == Mode::Stopped ? kAmbient : set_))
            return; // settled: nothing changes until a command arrives
        const double slice = std::min(simSeconds, 1.0);
        tick(slice);
        simSeconds -= slice;
    }
}

void ChamberModel::tick(double seconds) {
    const bool stopped = mode_ == Mode::Stopped;
    const double target = stopped ? kAmbient : set_;
    const double maxChange = rate_ * (stopped ? kDriftShare : 1.0) * seconds / 60.0;
    const double gap = target - current_;
    current_ = std::fabs(gap) <= maxChange ? target : current_ + std::copysign(maxChange, gap);
    if (mode_ == Mode::Program)
        advanceProgram(seconds);
}

void ChamberModel::advanceProgram(double seconds) {
    if (!run_.stabilising) {
        run_.timeToModeElapsed += seconds;
        run_.stabilising = std::fabs(current_ - set_) <= kModeTolerance;
        return;
    }
    run_.stabilisationElapsed += seconds;
    if (run_.stabilisationElapsed >= runningStep().stabilisationMinutes * 60.0)
        nextStep();
}

InputRegisters ChamberModel::inputRegisters() const {
    InputRegisters regs{};
    regs[0] = encodeTemperature(current_);
    regs[2] = encodeTemperature(set_);
    regs[3] = static_cast<std::uint16_t>(mode_); // free for us: 0 stopped, 1 manual, 2 program
    if (mode_ != Mode::Program)
        return regs;
    const Program &running = program(run_.program);
    const ProgramStep &step = runningStep();
    regs[1] = static_cast<std::uint16_t>(run_.program);
    regs[4] = wholeHours(run_.stabilisationElapsed);
    regs[5] = minutesOfHour(run_.stabilisationElapsed);
    regs[6] = wholeHours(run_.timeToModeElapsed);
    regs[7] = minutesOfHour(run_.timeToModeElapsed);
    regs[8] = static_cast<std::uint16_t>(step.stabilisationMinutes / 60);
    regs[9] = static_cast<std::uint16_t>(step.stabilisationMinutes % 60);
    regs[10] = static_cast<std::uint16_t>(run_.step);
    regs[11] = static_cast<std::uint16_t>(running.stepCount);
    regs[12] = static_cast<std::uint16_t>(run_.cycle);
    regs[13] = static_cast<std::uint16_t>(running.cycles);
    regs[14] = static_cast<std::uint16_t>(step.timeToModeMinutes);
    return regs;
}

} // namespace chambersim

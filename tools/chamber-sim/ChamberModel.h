#pragma once
// One simulated chamber: the holding registers the control window writes, the programs they
// define, a simple thermal model, and the input registers the main window reads.
#include <array>
#include <cstdint>
#include <span>

namespace chambersim {

constexpr int kInputRegisterCount = 15;
constexpr int kHoldingRegisterCount = 19;
constexpr int kProgramCount = 15;
constexpr int kStepsPerProgram = 15;

using InputRegisters = std::array<std::uint16_t, kInputRegisterCount>;
using HoldingRegisters = std::array<std::uint16_t, kHoldingRegisterCount>;

struct ProgramStep {
    double temperature = 20.0;
    int stabilisationMinutes = 0;
    int timeToModeMinutes = 0;
};

struct Program {
    std::array<ProgramStep, kStepsPerProgram> steps{};
    int stepCount = 0;
    int cycles = 0;
};

enum class Mode { Stopped, Manual, Program };

// Tenths of a degree; a negative temperature as 65536 minus its magnitude in tenths.
std::uint16_t encodeTemperature(double celsius);

class ChamberModel {
public:
    static constexpr double kAmbient = 20.0;
    // A stopped chamber drifts back to ambient this much slower than it heats or cools.
    static constexpr double kDriftShare = 0.25;
    // The mode counts as reached within this distance of the set temperature.
    static constexpr double kModeTolerance = 0.5;

    explicit ChamberModel(double degreesPerMinute = 5.0);

    void setRate(double degreesPerMinute) { rate_ = degreesPerMinute; }
    double rate() const { return rate_; }

    // Stores values from holding register `start` on and acts on the commands among them.
    // False, with nothing stored, when the range leaves registers 0..18.
    bool writeHolding(int start, std::span<const std::uint16_t> values);
    const HoldingRegisters &holding() const { return holding_; }

    InputRegisters inputRegisters() const;
    void advance(double simSeconds);

    double currentTemperature() const { return current_; }
    void setCurrentTemperature(double celsius) { current_ = celsius; }
    double setTemperature() const { return set_; }
    Mode mode() const { return mode_; }
    const Program &program(int number) const; // 1..15

private:
    struct ProgramRun {
        int program = 0;
        int step = 0;
        int cycle = 0;
        bool stabilising = false;
        double timeToModeElapsed = 0; // seconds
        double stabilisationElapsed = 0;
    };

    void storeStepRecord();
    void applyManualSetPoint();
    void manualCommand(std::uint16_t command);
    void programCommand(std::uint16_t command, std::uint16_t programNumber);
    void startProgram(int number);
    void stop();
    void enterStep();
    void nextStep();
    void tick(double seconds);
    void advanceProgram(double seconds);
    const ProgramStep &runningStep() const;

    double rate_;
    double current_ = kAmbient;
    double set_ = kAmbient;
    double manualSetPoint_ = kAmbient;
    Mode mode_ = Mode::Stopped;
    ProgramRun run_;
    HoldingRegisters holding_{};
    std::array<Program, kProgramCount> programs_{};
};

} // namespace chambersim

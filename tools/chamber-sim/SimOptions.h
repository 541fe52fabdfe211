#pragma once
// The command line of kalvora-chamber-sim.
#include "ChamberBus.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace chambersim {

struct SimOptions {
    std::string linkPath;       // empty: no symlink, only the pts path is printed
    std::vector<int> addresses; // ascending, without repeats; {1} when none was given
    double speedUp = 1.0;
    double degreesPerMinute = 5.0;
    bool verbose = false;
    std::string tracePath;  // empty: no trace file
    bool echo = false;      // the line hands every request back to the master
    bool lineSpeed = false; // requests take their time on the line; replies are paced
    bool commands = false;  // standard input carries commands (see SimCommand)
    bool help = false;
    bool version = false;
    std::optional<int> faultAddress; // faults and raw values apply to this chamber only
    ChamberFaults faults;
    std::vector<std::pair<int, std::uint16_t>> rawInputs;
    // Noise on the line: --noise seconds of it (0: until the end), starting --noise-after
    // seconds in, one byte every --noise-every milliseconds.
    std::optional<double> noiseSeconds;
    double noiseAfter = 0;
    double noiseEveryMs = 0.5;
    // The pseudo-terminal vanishes --vanish-after seconds in (or on SIGUSR1) and is made again
    // at the same link --vanish-for seconds later.
    std::optional<double> vanishAfter;
    double vanishFor = 3;
};

struct ParsedOptions {
    SimOptions options;
    std::string error; // empty on success
};

// Arguments without the program name. Numbers are read without the locale.
ParsedOptions parseOptions(const std::vector<std::string> &args);
std::string usageText();

// One line of --commands input: "raw ADDR REG=VALUE" (input register REG of chamber ADDR reads
// VALUE from now on), "clear ADDR" (its registers follow the model again), "silent ADDR" (it
// answers nothing) or "answer ADDR" (it answers again, with the faults it had before).
struct SimCommand {
    enum class Kind { Raw, Clear, Silent, Answer } kind = Kind::Raw;
    int address = 0;
    int reg = 0;
    std::uint16_t value = 0;
};

struct ParsedCommand {
    SimCommand command;
    std::string error; // empty on success
};

ParsedCommand parseCommand(const std::string &line);

} // namespace chambersim

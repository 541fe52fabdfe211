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
    bool echo = false; // the line hands every request back to the master
    bool lineSpeed = false; // requests take their time on the line; replies are paced
    bool help = false;
    bool version = false;
    std::optional<int> faultAddress; // faults and raw values apply to this chamber only
    ChamberFaults faults;
    std::vector<std::pair<int, std::uint16_t>> rawInputs;
};

struct ParsedOptions {
    SimOptions options;
    std::string error; // empty on success
};

// Arguments without the program name. Numbers are read without the locale.
ParsedOptions parseOptions(const std::vector<std::string> &args);
std::string usageText();

} // namespace chambersim

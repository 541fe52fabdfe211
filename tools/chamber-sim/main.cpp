// kalvora-chamber-sim: simulated chambers on a pseudo-terminal, for trying the program out
// without a bus. Point the program at the link with KALVORA_COM1=PATH.
#include "ChamberBus.h"
#include "PseudoTerminal.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "platform/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace chambersim;

namespace {

bool makeLink(const std::string &link, const std::string &target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "kalvora-chamber-sim: %s exists and is not a symlink\n",
                         link.c_str());
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "kalvora-chamber-sim: cannot create %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link only while it still points at our terminal: another simulator may have
// taken the name over.
void removeLink(const std::string &link, const std::string &target) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

void configure(ChamberBus &bus, const SimOptions &options) {
    for (int address : options.addresses) {
        if (options.faultAddress && *options.faultAddress != address)
            continue;
        bus.setFaults(address, options.faults);
        for (const auto &[reg, value] : options.rawInputs)
            bus.setRawInput(address, reg, value);
    }
}

std::string addressList(const std::vector<int> &addresses) {
    std::string out;
    for (int a : addresses)
        out += (out.empty() ? "" : ",") + std::to_string(a);
    return out;
}

int serve(const SimOptions &options) {
    TerminationSignals signals; // throws when it cannot watch them
    const PseudoTerminal pty; // throws when none can be made
    const std::string &link = options.linkPath;
    if (!link.empty() && !makeLink(link, pty.slavePath()))
        return 1;

    ChamberBus bus(options.addresses, options.degreesPerMinute);
    configure(bus, options);
    SimServer server(bus, pty.masterFd());
    server.setSpeedUp(options.speedUp);
    server.setEcho(options.echo);
    server.setLineSpeed(options.lineSpeed);
    if (options.verbose)
        server.setTrace([](const std::string &line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        });

    std::printf("kalvora-chamber-sim: chambers %s on %s (%s)\n",
                addressList(options.addresses).c_str(),
                (link.empty() ? pty.slavePath() : link).c_str(), pty.slavePath().c_str());
    std::fflush(stdout);

    std::thread serving([&server] { server.run(); });
    signals.waitAndTake();
    server.stop();
    serving.join();
    if (!link.empty())
        removeLink(link, pty.slavePath());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kalvora-chamber-sim: %s\nTry --help.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::puts("kalvora-chamber-sim " KALVORA_VERSION);
        return 0;
    }
    try {
        return serve(parsed.options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kalvora-chamber-sim: %s\n", e.what());
        return 1;
    }
}

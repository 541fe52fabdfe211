// kalvora-chamber-sim: simulated chambers on a pseudo-terminal, for trying the program out
// without a bus. Point the program at the link with KALVORA_COM1=PATH.
#include "ChamberBus.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "platform/PseudoTerminal.h"
#include "platform/TerminationSignals.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace chambersim;

namespace {

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

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds millisecondsOf(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

// The pseudo-terminal with its link and the thread that serves on it; it can vanish and come
// back at the same link, as an unplugged adapter does.
class Line {
public:
    Line(SimServer &server, const std::string &link) : server_(server), link_(link) {}
    ~Line() { vanish(); }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    bool present() const { return pty_ != nullptr; }
    const std::string &slavePath() const { return pty_->slavePath(); }

    bool appear() {
        pty_ = std::make_unique<PseudoTerminal>(); // throws when none can be made
        std::string error;
        if (!link_.empty() && !makeLink(link_, pty_->slavePath(), &error)) {
            std::fprintf(stderr, "kalvora-chamber-sim: %s\n", error.c_str());
            pty_.reset();
            return false;
        }
        server_.setDescriptor(pty_->masterFd());
        serving_ = std::thread([this] { server_.run(); });
        return true;
    }

    void vanish() {
        if (!pty_)
            return;
        server_.stop();
        serving_.join();
        if (!link_.empty())
            removeLink(link_, pty_->slavePath());
        pty_.reset();
    }

private:
    SimServer &server_;
    std::string link_;
    std::unique_ptr<PseudoTerminal> pty_;
    std::thread serving_;
};

void say(const std::string &text) {
    std::printf("kalvora-chamber-sim: %s\n", text.c_str());
    std::fflush(stdout);
}

int serve(const SimOptions &options) {
    TerminationSignals signals({SIGUSR1}); // throws when it cannot watch them
    ChamberBus bus(options.addresses, options.degreesPerMinute);
    configure(bus, options);
    SimServer server(bus, -1);
    server.setSpeedUp(options.speedUp);
    server.setEcho(options.echo);
    server.setLineSpeed(options.lineSpeed);
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> trace(nullptr, std::fclose);
    if (!options.tracePath.empty()) {
        trace.reset(std::fopen(options.tracePath.c_str(), "ae"));
        if (!trace) {
            std::fprintf(stderr, "kalvora-chamber-sim: cannot open %s: %s\n",
                         options.tracePath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    // The line's record for a reader who checks its timing: the same clock as CLOCK_MONOTONIC,
    // each line written whole the moment it happens.
    if (options.verbose || trace)
        server.setTrace([verbose = options.verbose, file = trace.get()](const std::string &line) {
            if (file) {
                const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                    Clock::now().time_since_epoch());
                std::fprintf(file, "%lld %s\n", static_cast<long long>(us.count()), line.c_str());
                std::fflush(file);
            }
            if (verbose) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
        });

    const std::string &link = options.linkPath;
    Line line(server, link);
    if (!line.appear())
        return 1;
    const auto where = [&] {
        return (link.empty() ? line.slavePath() : link) + " (" + line.slavePath() + ")";
    };
    say("chambers " + addressList(options.addresses) + " on " + where());

    const auto start = Clock::now();
    std::optional<Clock::time_point> noiseAt, vanishAt, backAt;
    if (options.noiseSeconds)
        noiseAt = start + millisecondsOf(options.noiseAfter);
    if (options.vanishAfter)
        vanishAt = start + millisecondsOf(*options.vanishAfter);
    const auto vanishFor = millisecondsOf(options.vanishFor);
    while (true) {
        std::optional<Clock::time_point> next;
        for (const auto &at : {noiseAt, vanishAt, backAt})
            if (at && (!next || *at < *next))
                next = at;
        const int signal = signals.waitAndTake(next);
        if (signal != 0 && signal != SIGUSR1)
            break;
        const auto now = Clock::now();
        if (noiseAt && now >= *noiseAt) {
            noiseAt.reset();
            server.startNoise(std::chrono::microseconds(
                                  static_cast<long long>(options.noiseEveryMs * 1000.0 + 0.5)),
                              millisecondsOf(*options.noiseSeconds));
            say("noise on the line");
        }
        if ((signal == SIGUSR1 || (vanishAt && now >= *vanishAt)) && line.present()) {
            vanishAt.reset();
            line.vanish();
            backAt = now + vanishFor;
            say("line vanished for " + std::to_string(vanishFor.count()) + " ms");
        }
        if (backAt && now >= *backAt) {
            backAt.reset();
            if (!line.appear())
                return 1;
            say("line back on " + where());
        }
    }
    line.vanish();
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

// kalvora-chamber-sim: simulated chambers on a pseudo-terminal, for trying the program out
// without a bus. Point the program at the link with KALVORA_COM1=PATH.
#include "ChamberBus.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "platform/PseudoTerminal.h"
#include "platform/TerminationSignals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
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

// --commands: lines on standard input change the chambers while they serve, so that a test
// driving another program can change what the chambers read.
class CommandInput {
public:
    CommandInput(ChamberBus &bus, bool open) : bus_(bus), open_(open) {}

    // Waits for a signal (taking it), a line of input or the deadline, whichever comes first;
    // the signal's number or 0.
    int wait(TerminationSignals &signals, std::optional<Clock::time_point> deadline) {
        if (!open_)
            return signals.waitAndTake(deadline);
        int timeout = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, 2, timeout) > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
            readInput();
        return signals.take();
    }

private:
    void readInput() {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (got <= 0) {
            open_ = false; // the end of the input; the chambers serve on
            return;
        }
        pending_.append(chunk, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            if (dropping_ || end > kLongestLine)
                overlong();
            else
                run(pending_.substr(0, end));
            dropping_ = false;
            pending_.erase(0, end + 1);
        }
        if (pending_.size() > kLongestLine) { // its end is dropped when it comes
            overlong();
            pending_.clear();
            dropping_ = true;
        }
    }

    void overlong() const {
        if (!dropping_)
            std::fprintf(stderr,
                         "kalvora-chamber-sim: a command line longer than %zu bytes, "
                         "dropped\n",
                         kLongestLine);
    }

    void run(const std::string &line) {
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            return;
        const ParsedCommand parsed = parseCommand(line);
        const SimCommand &c = parsed.command;
        if (!parsed.error.empty()) {
            std::fprintf(stderr, "kalvora-chamber-sim: %s\n", parsed.error.c_str());
            return;
        }
        if (!bus_.hasChamber(c.address)) {
            std::fprintf(stderr, "kalvora-chamber-sim: no chamber %d\n", c.address);
            return;
        }
        const std::string chamber = "chamber " + std::to_string(c.address);
        if (c.kind == SimCommand::Kind::Raw) {
            bus_.setRawInput(c.address, c.reg, c.value);
            say(chamber + " register " + std::to_string(c.reg) + " reads " +
                std::to_string(c.value));
        } else if (c.kind == SimCommand::Kind::Clear) {
            bus_.clearRawInputs(c.address);
            say(chamber + " follows its model");
        } else if (c.kind == SimCommand::Kind::Silent) {
            ChamberFaults faults = bus_.faults(c.address);
            silenced_.try_emplace(c.address, faults);
            faults.dropEvery = 1;
            bus_.setFaults(c.address, faults);
            say(chamber + " is silent");
        } else {
            if (const auto was = silenced_.find(c.address); was != silenced_.end()) {
                bus_.setFaults(c.address, was->second);
                silenced_.erase(was);
            }
            say(chamber + " answers");
        }
    }

    static constexpr std::size_t kLongestLine = 4096;

    ChamberBus &bus_;
    bool open_;
    std::string pending_;
    bool dropping_ = false;
    std::map<int, ChamberFaults> silenced_; // the faults each had before "silent"
};

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
    CommandInput input(bus, options.commands);
    while (true) {
        std::optional<Clock::time_point> next;
        for (const auto &at : {noiseAt, vanishAt, backAt})
            if (at && (!next || *at < *next))
                next = at;
        const int signal = input.wait(signals, next);
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

#include "SimOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace chambersim {
namespace {

std::optional<long long> parseInteger(const std::string &text, long long low, long long high) {
    long long value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<double> parseReal(const std::string &text, double low, double high) {
    double value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value) || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string> &args) : args_(args) {
        SimOptions &o = options_;
        ChamberFaults &f = o.faults;
        flags_ = {
            {"--help", [&o] { o.help = true; }},
            {"-h", [&o] { o.help = true; }},
            {"--version", [&o] { o.version = true; }},
            {"--verbose", [&o] { o.verbose = true; }},
            {"--echo", [&o] { o.echo = true; }},
            {"--line-speed", [&o] { o.lineSpeed = true; }},
            {"--commands", [&o] { o.commands = true; }},
            {"--stray-byte", [&f] { f.strayByte = true; }},
            {"--exception", [&f] { f.exceptionReply = true; }},
            {"--bad-crc", [&f] { f.breakCrc = true; }},
            {"--wrong-count", [&f] { f.wrongByteCount = true; }},
            {"--byte-by-byte", [&f] { f.byteByByte = true; }},
        };
        valued_ = {
            {"--link", [&o](const std::string &v) { o.linkPath = v; }},
            {"--trace", [&o](const std::string &v) { o.tracePath = v; }},
            {"--chamber", [this](const std::string &v) { address(v); }},
            {"--fault-address", [this](const std::string &v) { faultAddress(v); }},
            {"--speed-up", [this, &o](const std::string &v) { real(v, 0, 1e6, o.speedUp); }},
            {"--rate",
             [this, &o](const std::string &v) { real(v, 1e-3, 1e4, o.degreesPerMinute); }},
            {"--silent-first", [this, &f](const std::string &v) { count(v, f.silentFirst); }},
            {"--drop-every", [this, &f](const std::string &v) { count(v, f.dropEvery); }},
            {"--delay", [this, &f](const std::string &v) { count(v, f.replyDelayMs); }},
            {"--split-gap", [this, &f](const std::string &v) { count(v, f.splitGapMs); }},
            {"--split-first", [this, &f](const std::string &v) { count(v, f.splitFirstLength); }},
            {"--raw", [this](const std::string &v) { raw(v); }},
            {"--noise", [this, &o](const std::string &v) { optionalReal(v, o.noiseSeconds); }},
            {"--noise-after", [this, &o](const std::string &v) { real(v, 0, 1e6, o.noiseAfter); }},
            {"--noise-every",
             [this, &o](const std::string &v) { real(v, 0.01, 1e4, o.noiseEveryMs); }},
            {"--vanish-after",
             [this, &o](const std::string &v) { optionalReal(v, o.vanishAfter); }},
            {"--vanish-for", [this, &o](const std::string &v) { real(v, 0, 1e6, o.vanishFor); }},
        };
    }

    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;

    ParsedOptions parse() {
        while (error_.empty() && next_ < args_.size())
            option(args_[next_++]);
        finish();
        return {options_, error_};
    }

private:
    void option(const std::string &name) {
        current_ = name;
        if (auto flag = flags_.find(name); flag != flags_.end()) {
            flag->second();
        } else if (auto valued = valued_.find(name); valued != valued_.end()) {
            if (next_ < args_.size())
                valued->second(args_[next_++]);
            else
                error_ = name + " needs a value";
        } else {
            error_ = "unknown option " + name;
        }
    }

    void address(const std::string &text) {
        if (auto value = parseInteger(text, 0, kHighestAddress))
            options_.addresses.push_back(static_cast<int>(*value));
        else
            fail(text, "0 to 250");
    }

    void faultAddress(const std::string &text) {
        if (auto value = parseInteger(text, 0, kHighestAddress))
            options_.faultAddress = static_cast<int>(*value);
        else
            fail(text, "0 to 250");
    }

    void count(const std::string &text, int &target) {
        if (auto value = parseInteger(text, 0, 1'000'000))
            target = static_cast<int>(*value);
        else
            fail(text, "a whole number, 0 or more");
    }

    void real(const std::string &text, double low, double high, double &target) {
        if (auto value = parseReal(text, low, high))
            target = *value;
        else
            fail(text, "a number");
    }

    void optionalReal(const std::string &text, std::optional<double> &target) {
        double value = 0;
        real(text, 0, 1e6, value);
        target = value;
    }

    void raw(const std::string &text) {
        const auto eq = text.find('=');
        const auto reg = parseInteger(text.substr(0, eq), 0, kInputRegisterCount - 1);
        const auto value =
            eq == std::string::npos ? std::nullopt : parseInteger(text.substr(eq + 1), 0, 65535);
        if (reg && value)
            options_.rawInputs.emplace_back(static_cast<int>(*reg),
                                            static_cast<std::uint16_t>(*value));
        else
            fail(text, "REG=VALUE, REG 0 to 14, VALUE 0 to 65535");
    }

    bool given(const std::string &name) const {
        return std::find(args_.begin(), args_.end(), name) != args_.end();
    }

    void fail(const std::string &text, const std::string &wanted) {
        error_ = "'" + text + "' is not a valid value for " + current_ + " (" + wanted + ")";
    }

    void finish() {
        if (!error_.empty() || options_.help || options_.version)
            return;
        std::vector<int> &a = options_.addresses;
        if (a.empty())
            a.push_back(1);
        std::sort(a.begin(), a.end());
        a.erase(std::unique(a.begin(), a.end()), a.end());
        const auto &only = options_.faultAddress;
        if (only && !std::binary_search(a.begin(), a.end(), *only))
            error_ = "--fault-address " + std::to_string(*only) + " is not one of the chambers";
        else if (options_.faults.splitFirstLength < 1)
            error_ = "--split-first must be at least 1";
        else if (!options_.noiseSeconds && (given("--noise-after") || given("--noise-every")))
            error_ = "--noise-after and --noise-every need --noise";
    }

    const std::vector<std::string> &args_;
    std::size_t next_ = 0;
    std::string current_;
    SimOptions options_;
    std::string error_;
    std::map<std::string, std::function<void()>> flags_;
    std::map<std::string, std::function<void(const std::string &)>> valued_;
};

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args) { return Parser(args).parse(); }

ParsedCommand parseCommand(const std::string &line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
        const std::size_t end = line.find_first_of(" \t\r", at);
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    ParsedCommand parsed;
    SimCommand &c = parsed.command;
    const auto address =
        words.size() >= 2 ? parseInteger(words[1], 0, kHighestAddress) : std::optional<long long>();
    if (words.size() == 3 && words[0] == "raw" && address) {
        const auto eq = words[2].find('=');
        const auto reg = parseInteger(words[2].substr(0, eq), 0, kInputRegisterCount - 1);
        const auto value = eq == std::string::npos
                               ? std::nullopt
                               : parseInteger(words[2].substr(eq + 1), 0, 65535);
        if (reg && value) {
            c = {SimCommand::Kind::Raw, static_cast<int>(*address), static_cast<int>(*reg),
                 static_cast<std::uint16_t>(*value)};
            return parsed;
        }
    } else if (words.size() == 2 && address) {
        const std::map<std::string, SimCommand::Kind> kinds = {
            {"clear", SimCommand::Kind::Clear},
            {"silent", SimCommand::Kind::Silent},
            {"answer", SimCommand::Kind::Answer}};
        if (const auto kind = kinds.find(words[0]); kind != kinds.end()) {
            c = {kind->second, static_cast<int>(*address), 0, 0};
            return parsed;
        }
    }
    parsed.error = "not a command: '" + line +
                   "' (raw ADDR REG=VALUE, ADDR 0 to 250, REG 0 to 14, VALUE 0 to 65535; "
                   "clear ADDR; silent ADDR; answer ADDR)";
    return parsed;
}

std::string usageText() {
    return R"(Usage: kalvora-chamber-sim [options]
Simulates climatic chambers, Modbus RTU slaves at 57600 8N1, on a
pseudo-terminal.

  --link PATH          make PATH a symlink to the pseudo-terminal (replaces an
                       old symlink)
  --chamber ADDR       a chamber at bus address ADDR, 0 to 250 (repeatable;
                       default 1)
  --speed-up F         simulated seconds per real second (default 1)
  --rate DEG_PER_MIN   how fast a running chamber heats or cools (default 5)
  --verbose            print every request and reply in hexadecimal
  --trace FILE         append every request received and reply sent to FILE, one
                       line each: monotonic time in microseconds, rx or tx, the
                       bytes in hex
  --echo               hand every request back, byte for byte, before any reply
                       (a two-wire adapter without echo suppression)
  --line-speed         act on a request only after its own time on the line at
                       57600 baud, and send every reply one byte per character
                       time (implies --byte-by-byte for every chamber): the
                       timing of a real bus
  --commands           read commands from standard input, one a line, each
                       answered on standard output: "raw ADDR REG=VALUE" makes
                       input register REG of chamber ADDR read VALUE (as --raw
                       does), "clear ADDR" lets its registers follow the model
                       again, "silent ADDR" makes it answer nothing, "answer
                       ADDR" answer again; the end of the input ends no serving
  --help               show this text
  --version            show the version

Faults, for every chamber or only for the one given by --fault-address:
  --fault-address A    apply the faults and --raw values below to chamber A only
  --silent-first N     leave the first N requests unanswered
  --drop-every K       leave every K-th request unanswered
  --stray-byte         put one byte of noise before each reply
  --exception          answer reads with exception 4
  --delay MS           wait MS milliseconds before replying
  --bad-crc            damage the CRC of each reply
  --wrong-count        give read replies a wrong byte count (CRC still right)
  --byte-by-byte       send replies one byte per character time
  --split-gap MS       send replies in two pieces, MS milliseconds apart
  --split-first N      length of the first piece (default 10)
  --raw REG=VALUE      input register REG always reads VALUE (repeatable)

Line faults, for the whole line:
  --noise S            put noise on the line (byte FF towards the program) for S
                       seconds, 0: until the simulator ends; a node stuck
                       transmitting, or a noisy cable, leaves the line never
                       quiet
  --noise-after S      start the noise S seconds after the start (default 0)
  --noise-every MS     one noise byte every MS milliseconds (default 0.5; above
                       1.75 the line has frame gaps between them)
  --vanish-after S     S seconds after the start, close the pseudo-terminal and
                       remove the link, as an unplugged USB adapter vanishes;
                       make a new one at the same link --vanish-for seconds
                       later and serve on
  --vanish-for S       how long the line stays away (default 3); SIGUSR1 makes
                       it vanish for this long at any time

Point the program at the link with KALVORA_COM1=PATH.
)";
}

} // namespace chambersim

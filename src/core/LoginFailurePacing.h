#pragma once
// Which failed logins get a line in the events journal. A flood of wrong passwords must not fill
// the disk, yet the first try of each peer should be seen at once. So a peer's first failure is
// journaled, then none of its failures for kQuietTime; its next one after that is journaled with
// the count of those left out. Over all peers at most kLinesPerQuietTime lines are written in any
// kQuietTime (a flood from many addresses): failures beyond are left out and counted with their
// peer. At most kPeersKept peers are remembered; a new peer beyond them is left out and counted
// overall, as are the left-out counts of the forgotten. /metrics counts every failure.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

class LoginFailurePacing {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kQuietTime{60};
    static constexpr int kLinesPerQuietTime = 20;
    static constexpr std::size_t kPeersKept = 1024;

    struct Verdict {
        bool journal = false;
        // Failures not journaled before this one: this peer's, and of peers not remembered.
        std::uint64_t leftOut = 0;
    };
    Verdict failed(const std::string &peer, Clock::time_point at);

private:
    struct Peer {
        Clock::time_point lastLine;
        std::uint64_t leftOut = 0;
    };
    bool underOverallLimit(Clock::time_point at);
    void forgetQuietPeers(Clock::time_point at);

    std::map<std::string, Peer> peers_;
    std::deque<Clock::time_point> recentLines_; // of the last kQuietTime, oldest first
    std::uint64_t leftOutUnknown_ = 0;
};

#pragma once
// When a shared link's client may have the bus: the logger's own records come first. A round of
// the logger must end before the next one is due, or the records lose a period. So a client's
// request goes on the bus only when its longest possible exchange still leaves the round time to
// end in its period: between two rounds, when it ends before the next round is due; within a
// round, when it also leaves the logger the time its remaining requests are expected to take.
// Otherwise the request waits (until the round has ended, or the next one is done).
//
// What a round of the logger takes is learnt from the rounds themselves, without the clients'
// time: the longest of the last minute's rounds. A silent chamber is asked at least once a
// minute, so that round includes its time-outs.
#include <chrono>
#include <deque>
#include <optional>

class LoggerRoundsFirst {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kRoundsRemembered{60};

    // A round begins at `now`; it must end by `nextRoundAt`, when the next one is due.
    void roundStarted(Clock::time_point now, Clock::time_point nextRoundAt);
    // A client's exchange took `spent` of the round under way.
    void clientExchanged(Clock::duration spent);
    // The round ended at `now`; the next one is due at `nextRoundAt`.
    void roundEnded(Clock::time_point now, Clock::time_point nextRoundAt);

    // Whether a client's exchange that takes at most `longest` may start at `now`.
    bool clientMayGo(Clock::time_point now, Clock::duration longest) const;

    // What the logger's own part of a round is expected to take; none before a first round.
    std::optional<Clock::duration> expectedRound() const;

private:
    struct Round {
        Clock::time_point endedAt;
        Clock::duration took;
    };
    std::deque<Round> recent_; // the logger's own time of the last minute's rounds
    std::optional<Clock::time_point> roundStartedAt_;
    Clock::duration clientsInRound_{};
    std::optional<Clock::time_point> nextRoundAt_; // none before the first round
};

#include "core/LoggerRoundsFirst.h"

#include <algorithm>

void LoggerRoundsFirst::roundStarted(Clock::time_point now, Clock::time_point nextRoundAt) {
    roundStartedAt_ = now;
    clientsInRound_ = {};
    nextRoundAt_ = nextRoundAt;
}

void LoggerRoundsFirst::clientExchanged(Clock::duration spent) {
    if (roundStartedAt_)
        clientsInRound_ += spent;
}

void LoggerRoundsFirst::roundEnded(Clock::time_point now, Clock::time_point nextRoundAt) {
    if (roundStartedAt_) {
        const Clock::duration own =
            std::max(Clock::duration::zero(), now - *roundStartedAt_ - clientsInRound_);
        recent_.push_back(Round{now, own});
    }
    while (!recent_.empty() && now - recent_.front().endedAt > kRoundsRemembered)
        recent_.pop_front();
    roundStartedAt_.reset();
    clientsInRound_ = {};
    nextRoundAt_ = nextRoundAt;
}

std::optional<LoggerRoundsFirst::Clock::duration> LoggerRoundsFirst::expectedRound() const {
    if (recent_.empty())
        return std::nullopt;
    return std::max_element(recent_.begin(), recent_.end(),
                            [](const Round &a, const Round &b) { return a.took < b.took; })
        ->took;
}

bool LoggerRoundsFirst::clientMayGo(Clock::time_point now, Clock::duration longest) const {
    if (!nextRoundAt_)
        return false; // the first round starts at once
    Clock::duration stillToCome{};
    if (roundStartedAt_) {
        const std::optional<Clock::duration> expected = expectedRound();
        if (!expected)
            return false; // nothing known of a round yet: the first one goes alone
        const Clock::duration ownSoFar = now - *roundStartedAt_ - clientsInRound_;
        stillToCome = std::max(Clock::duration::zero(), *expected - ownSoFar);
    }
    return now + longest + stillToCome <= *nextRoundAt_;
}

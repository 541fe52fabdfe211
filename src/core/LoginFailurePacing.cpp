#include "core/LoginFailurePacing.h"

bool LoginFailurePacing::underOverallLimit(Clock::time_point at) {
    while (!recentLines_.empty() && at - recentLines_.front() >= kQuietTime)
        recentLines_.pop_front();
    return recentLines_.size() < static_cast<std::size_t>(kLinesPerQuietTime);
}

void LoginFailurePacing::forgetQuietPeers(Clock::time_point at) {
    for (auto it = peers_.begin(); it != peers_.end();) {
        if (at - it->second.lastLine >= kQuietTime) {
            leftOutUnknown_ += it->second.leftOut;
            it = peers_.erase(it);
        } else {
            ++it;
        }
    }
}

LoginFailurePacing::Verdict LoginFailurePacing::failed(const std::string &peer,
                                                        Clock::time_point at) {
    auto known = peers_.find(peer);
    if (known == peers_.end() && peers_.size() >= kPeersKept) {
        forgetQuietPeers(at);
        if (peers_.size() >= kPeersKept) {
            ++leftOutUnknown_;
            return {};
        }
    }
    const bool quietLongEnough = known == peers_.end() || at - known->second.lastLine >= kQuietTime;
    if (!quietLongEnough || !underOverallLimit(at)) {
        if (known == peers_.end())
            ++leftOutUnknown_;
        else
            ++known->second.leftOut;
        return {};
    }
    recentLines_.push_back(at);
    Peer &entry = peers_[peer];
    Verdict verdict{true, entry.leftOut + leftOutUnknown_};
    entry = Peer{at, 0};
    leftOutUnknown_ = 0;
    return verdict;
}

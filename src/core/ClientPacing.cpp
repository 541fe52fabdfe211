#include "ClientPacing.h"

#include <algorithm>

ClientPacing::Clock::time_point ClientPacing::dueFor(Clock::time_point arrivedAt) const {
    if (!lastWrite_)
        return arrivedAt;
    const Clock::duration pause =
        std::min<Clock::duration>(arrivedAt - lastWrite_->arrivedAt, kLongestPause);
    const Clock::duration lag = lastWrite_->sentAt - lastWrite_->arrivedAt;
    const Clock::duration margin =
        std::clamp<Clock::duration>(kMarginUntilLag - lag, kLeastMargin, kMargin);
    return std::max(arrivedAt, lastWrite_->sentAt + pause + margin);
}

void ClientPacing::wrote(Clock::time_point arrivedAt, Clock::time_point sentAt) {
    lastWrite_ = Write{arrivedAt, std::max(arrivedAt, sentAt)};
}

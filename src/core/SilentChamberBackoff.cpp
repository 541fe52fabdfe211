#include "SilentChamberBackoff.h"

#include <algorithm>

void SilentChamberBackoff::answered(long round) {
    misses_ = 0;
    interval_ = 1;
    nextDue_ = round + 1;
}

void SilentChamberBackoff::missed(long round) {
    if (misses_ < kMissesBeforeBackoff)
        ++misses_;
    if (misses_ >= kMissesBeforeBackoff)
        interval_ = std::min(interval_ * 2, maxInterval_);
    nextDue_ = round + interval_;
}

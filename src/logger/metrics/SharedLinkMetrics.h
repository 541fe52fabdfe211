#pragma once
// The shared links' part of /metrics: each --share link's client requests by result, drops by
// reason, and the seconds its clients spent on the bus and waiting for it.
#include "logger/metrics/PrometheusWriter.h"

#include <QString>
#include <vector>

struct SharedLinkMetrics {
    QString path; // the link as given to --share: any characters a file name may hold
    // Sent on the bus, by result.
    unsigned long long ok = 0, exception = 0, timeout = 0, damagedReply = 0, notSent = 0;
    // Dropped before the bus, by reason.
    unsigned long long damaged = 0, unsupported = 0, incomplete = 0, replaced = 0, stale = 0,
                       overflow = 0;
    double busSeconds = 0;
    double waitSeconds = 0;
};

void WriteSharedLinkMetrics(PrometheusWriter &out, const std::vector<SharedLinkMetrics> &links);

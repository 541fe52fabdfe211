#pragma once
// The service manager's watchdog, fed by the run on a path of its own: a sign of life after
// every exchange and every change of the port (a round over a large silent bus may outlast the
// interval), and a ping on time, every half interval, through long waits (a long --period, a
// lost adapter). Nothing is sent before the service has said it is ready.
#include "platform/ServiceNotifier.h"

#include <chrono>

class ServiceWatchdog {
public:
    using Clock = std::chrono::steady_clock;

    explicit ServiceWatchdog(const ServiceNotifier &notifier);

    // READY=1 has gone: signs of life count from now, and the first ping on time falls due.
    void arm();
    // After an exchange or a change of the port; does not move the next ping on time.
    void alive() const;
    // The ping on time: now, and the next one half an interval later.
    void ping();
    // Clock::time_point::max() while not armed or when the manager does not watch.
    Clock::time_point nextPingAt() const { return nextPingAt_; }

private:
    const ServiceNotifier &notifier_;
    Clock::duration every_; // max when the manager does not watch
    bool armed_ = false;
    Clock::time_point nextPingAt_ = Clock::time_point::max();
};

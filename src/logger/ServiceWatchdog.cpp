#include "logger/ServiceWatchdog.h"

ServiceWatchdog::ServiceWatchdog(const ServiceNotifier &notifier)
    : notifier_(notifier),
      every_(notifier.watchdogInterval()
                 ? std::chrono::duration_cast<Clock::duration>(*notifier.watchdogInterval() / 2)
                 : Clock::duration::max()) {}

void ServiceWatchdog::arm() {
    armed_ = true;
    if (every_ != Clock::duration::max())
        nextPingAt_ = Clock::now() + every_;
}

void ServiceWatchdog::alive() const {
    if (armed_)
        notifier_.watchdog();
}

void ServiceWatchdog::ping() {
    notifier_.watchdog();
    if (every_ != Clock::duration::max())
        nextPingAt_ = Clock::now() + every_;
}

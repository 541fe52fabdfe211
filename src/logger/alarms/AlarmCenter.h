#pragma once
// The alarms of one `log` run in one place: the rules' monitor, the delivery channels, and what
// every notification and delivery problem becomes (an events journal line, a line on stderr,
// the metrics). The logger feeds it each chamber's outcome of each round.
#include "logger/alarms/AlarmDelivery.h"
#include "logger/alarms/AlarmPayload.h"
#include "logger/metrics/AlarmMetrics.h"

#include "core/AlarmRules.h"

#include <QString>
#include <functional>
#include <map>
#include <vector>

// "alarm raised: Chamber 3: temperature 61.2 °C above the limit 60 °C", and the like.
QString AlarmWarning(const AlarmNotification &n);
// "alarm mail for chamber 3 (high) failed: REASON; retrying" / "; given up", or a drop.
QString DeliveryWarning(const DeliveryProblem &problem);
// delivery_failed or notification_dropped, as docs/events.md has them (plus "channel").
JournalEvent DeliveryJournalEvent(const DeliveryProblem &problem);

class AlarmCenter {
public:
    // Both are called from the logger's thread (observe, advance) and, for delivery problems,
    // from the delivery threads: they must be thread-safe. A journal line gets its time added
    // by the sink.
    using JournalSink = std::function<void(const JournalEvent &)>;
    using WarningSink = std::function<void(const QString &)>;

    AlarmCenter(const std::vector<AlarmRule> &rules, const AlarmDeliverySettings &delivery,
                const std::vector<int> &chambersRead, JournalSink journal, WarningSink warn);

    // Each round, for each chamber: its reading (even with an implausible temperature), or why
    // there was none ("silence", "damaged replies", "exception N", "line never quiet",
    // "port lost").
    void observe(const AlarmObservation &observation);
    // While no round runs (the port is lost): lets silence and repeats fall due. Cheap; call it
    // every round or every second.
    void advance(AlarmClock::time_point now, const QDateTime &wallTime);

    // Every rule's state and every channel's failed deliveries, for /metrics.
    AlarmMetrics metrics() const;
    // The alarms active now, each chamber's in the rules' order, with the time each was raised.
    struct Active {
        int chamber = 0;
        AlarmKind kind = AlarmKind::High;
        QDateTime since;
    };
    std::vector<Active> active() const;

private:
    void handle(const std::vector<AlarmNotification> &notifications);

    JournalSink journal_;
    WarningSink warn_;
    AlarmMonitor monitor_;
    std::vector<AlarmChannel> channels_;
    std::map<std::pair<int, AlarmKind>, QDateTime> raisedAt_;
    AlarmDelivery delivery_; // last: its threads stop before the sinks go
};

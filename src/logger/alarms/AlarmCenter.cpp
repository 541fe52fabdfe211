#include "logger/alarms/AlarmCenter.h"

QString AlarmWarning(const AlarmNotification &n) {
    switch (n.state) {
    case AlarmState::Raised:
        return (n.repeated ? QStringLiteral("alarm still raised: ")
                           : QStringLiteral("alarm raised: ")) +
               n.messageEn;
    case AlarmState::Cleared:
        return QStringLiteral("alarm cleared: ") + n.messageEn;
    case AlarmState::Notice:
        break;
    }
    return QStringLiteral("notice: ") + n.messageEn;
}

QString DeliveryWarning(const DeliveryProblem &p) {
    const QString what = QStringLiteral("alarm %1 for chamber %2 (%3)")
                             .arg(AlarmChannelName(p.channel))
                             .arg(p.notification.chamber)
                             .arg(AlarmKindName(p.notification.kind));
    if (p.what == DeliveryProblem::What::Dropped)
        return what + QStringLiteral(" dropped: ") + p.reason;
    return what + QStringLiteral(" failed: ") + p.reason +
           (p.gaveUp ? QStringLiteral("; given up") : QStringLiteral("; retrying"));
}

JournalEvent DeliveryJournalEvent(const DeliveryProblem &p) {
    JournalEvent e;
    if (p.what == DeliveryProblem::What::Dropped) {
        e.event = QStringLiteral("notification_dropped");
        e.members = {{QStringLiteral("chamber"), p.notification.chamber},
                     {QStringLiteral("kind"), AlarmKindName(p.notification.kind)},
                     {QStringLiteral("reason"), p.reason},
                     {QStringLiteral("channel"), AlarmChannelName(p.channel)}};
        return e;
    }
    e.event = QStringLiteral("delivery_failed");
    e.members = {{QStringLiteral("channel"), AlarmChannelName(p.channel)},
                 {QStringLiteral("reason"), p.reason},
                 {QStringLiteral("chamber"), p.notification.chamber},
                 {QStringLiteral("kind"), AlarmKindName(p.notification.kind)},
                 {QStringLiteral("gave_up"), p.gaveUp}};
    return e;
}

AlarmCenter::AlarmCenter(const std::vector<AlarmRule> &rules, const AlarmDeliverySettings &delivery,
                         const std::vector<int> &chambersRead, JournalSink journal,
                         WarningSink warn)
    : journal_(std::move(journal)), warn_(std::move(warn)), monitor_(rules, chambersRead),
      channels_(delivery.channels()), delivery_(delivery, [this](const DeliveryProblem &problem) {
          if (journal_)
              journal_(DeliveryJournalEvent(problem));
          if (warn_)
              warn_(DeliveryWarning(problem));
      }) {}

void AlarmCenter::observe(const AlarmObservation &observation) {
    handle(monitor_.observe(observation));
}

void AlarmCenter::advance(AlarmClock::time_point now, const QDateTime &wallTime) {
    handle(monitor_.advance(now, wallTime));
}

AlarmMetrics AlarmCenter::metrics() const {
    AlarmMetrics metrics{monitor_.status(), {}};
    for (AlarmChannel channel : channels_)
        metrics.failures.push_back({AlarmChannelName(channel), delivery_.failures(channel)});
    return metrics;
}

std::vector<AlarmCenter::Active> AlarmCenter::active() const {
    std::vector<Active> out;
    for (const AlarmStatus &status : monitor_.status()) {
        if (!status.active)
            continue;
        const auto raised = raisedAt_.find({status.chamber, status.kind});
        out.push_back({status.chamber, status.kind,
                       raised == raisedAt_.end() ? QDateTime() : raised->second});
    }
    return out;
}

void AlarmCenter::handle(const std::vector<AlarmNotification> &notifications) {
    for (const AlarmNotification &n : notifications) {
        if (n.state == AlarmState::Raised && !n.repeated)
            raisedAt_.try_emplace({n.chamber, n.kind}, n.time);
        else if (n.state == AlarmState::Cleared)
            raisedAt_.erase({n.chamber, n.kind});
        if (journal_)
            journal_(AlarmJournalEvent(n));
        if (warn_)
            warn_(AlarmWarning(n));
        delivery_.post(n);
    }
}

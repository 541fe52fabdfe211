#include "AlarmRules.h"

#include "core/ExchangeOutcome.h"
#include "core/NumberText.h"

#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

struct KindName {
    AlarmKind kind;
    const char *name;
    const char *russian; // UTF-8
};

constexpr KindName kKindNames[] = {
    {AlarmKind::High, "high", "выше предела"},
    {AlarmKind::Low, "low", "ниже предела"},
    {AlarmKind::Deviation, "deviation", "отклонение от заданной"},
    {AlarmKind::Silent, "silent", "нет ответа"},
    {AlarmKind::Sensor, "sensor", "недостоверная температура"},
    {AlarmKind::Program, "program", "программа"},
    {AlarmKind::Test, "test", "проверка"},
};

// Temperatures come in tenths; a difference of two of them must not print as 14.9999999999.
QString Figure(double value, QChar separator) {
    return FloatToText(std::round(value * 10) / 10, separator);
}

QString Ru(double value) { return Figure(value, QLatin1Char(',')); }
QString En(double value) { return Figure(value, QLatin1Char('.')); }

double Seconds(AlarmClock::duration d) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

void ComposeProgramTexts(AlarmNotification &n) {
    const QString ru = QStringLiteral("Камера %1: ").arg(n.chamber);
    const QString en = QStringLiteral("Chamber %1: ").arg(n.chamber);
    if (n.previousProgram && n.program && *n.previousProgram != *n.program) {
        n.messageRu =
            ru +
            QStringLiteral("программа %1 сменилась на %2").arg(*n.previousProgram).arg(*n.program);
        n.messageEn =
            en + QStringLiteral("program %1 changed to %2").arg(*n.previousProgram).arg(*n.program);
        if (*n.program == 0) {
            n.messageRu += QStringLiteral(" (выполнение закончено)");
            n.messageEn += QStringLiteral(" (run ended)");
        }
        return;
    }
    n.messageRu = ru + QStringLiteral("программа %1 дошла до цикла %2 из %3")
                           .arg(n.program.value_or(0))
                           .arg(n.cycle.value_or(0))
                           .arg(n.cycles.value_or(0));
    n.messageEn = en + QStringLiteral("program %1 reached cycle %2 of %3")
                           .arg(n.program.value_or(0))
                           .arg(n.cycle.value_or(0))
                           .arg(n.cycles.value_or(0));
}

// The one-line texts, from the figures the notification already carries.
void ComposeTexts(AlarmNotification &n) {
    const QString ru = QStringLiteral("Камера %1: ").arg(n.chamber);
    const QString en = QStringLiteral("Chamber %1: ").arg(n.chamber);
    const bool raised = n.state == AlarmState::Raised;
    const double value = n.value.value_or(0);
    const double limit = n.limit.value_or(0);
    switch (n.kind) {
    case AlarmKind::High:
    case AlarmKind::Low: {
        const bool high = n.kind == AlarmKind::High;
        if (raised) {
            n.messageRu =
                ru + QStringLiteral("температура %1 °C %2 предела %3 °C")
                         .arg(Ru(value), high ? QStringLiteral("выше") : QStringLiteral("ниже"),
                              Ru(limit));
            n.messageEn =
                en + QStringLiteral("temperature %1 °C %2 the limit %3 °C")
                         .arg(En(value), high ? QStringLiteral("above") : QStringLiteral("below"),
                              En(limit));
        } else {
            n.messageRu =
                ru + QStringLiteral("температура %1 °C снова %2 предела %3 °C")
                         .arg(Ru(value), high ? QStringLiteral("ниже") : QStringLiteral("выше"),
                              Ru(limit));
            n.messageEn =
                en + QStringLiteral("temperature %1 °C back %2 the limit %3 °C")
                         .arg(En(value), high ? QStringLiteral("below") : QStringLiteral("above"),
                              En(limit));
        }
        break;
    }
    case AlarmKind::Deviation: {
        const double t = n.temperature.value_or(0);
        const double set = n.setTemperature.value_or(0);
        if (raised) {
            n.messageRu =
                ru + QStringLiteral(
                         "температура %1 °C отклонилась от заданной %2 °C на %3 °C (допуск %4 °C)")
                         .arg(Ru(t), Ru(set), Ru(value), Ru(limit));
            n.messageEn =
                en + QStringLiteral("temperature %1 °C is %2 °C off the set %3 °C (band %4 °C)")
                         .arg(En(t), En(value), En(set), En(limit));
        } else {
            n.messageRu =
                ru + QStringLiteral("температура %1 °C снова в пределах %2 °C от заданной %3 °C")
                         .arg(Ru(t), Ru(limit), Ru(set));
            n.messageEn =
                en + QStringLiteral("temperature %1 °C back within %2 °C of the set %3 °C")
                         .arg(En(t), En(limit), En(set));
        }
        break;
    }
    case AlarmKind::Silent:
        if (raised) {
            n.messageRu = ru + QStringLiteral("нет исправных показаний %1 с (%2)")
                                   .arg(Ru(value), OutcomeRussian(n.reason));
            n.messageEn = en + QStringLiteral("no good reading for %1 s (%2)")
                                   .arg(En(value), OutcomeEnglish(n.reason));
        } else {
            n.messageRu =
                ru + QStringLiteral("снова отвечает после %1 с без показаний").arg(Ru(value));
            n.messageEn =
                en + QStringLiteral("answers again after %1 s without a reading").arg(En(value));
        }
        break;
    case AlarmKind::Sensor:
        if (raised) {
            n.messageRu = ru + QStringLiteral("недостоверная температура (неисправен датчик?)");
            n.messageEn = en + QStringLiteral("implausible temperature (sensor fault?)");
        } else {
            n.messageRu = ru + QStringLiteral("температура снова достоверна: %1 °C").arg(Ru(value));
            n.messageEn = en + QStringLiteral("temperature plausible again: %1 °C").arg(En(value));
        }
        break;
    case AlarmKind::Program:
        ComposeProgramTexts(n);
        break;
    case AlarmKind::Test:
        break;
    }
    if (n.repeated) {
        n.messageRu += QStringLiteral(" (повтор)");
        n.messageEn += QStringLiteral(" (repeated)");
    }
}

bool Covers(const AlarmRule &rule, int chamber) {
    return rule.chambers.empty() ||
           std::find(rule.chambers.begin(), rule.chambers.end(), chamber) != rule.chambers.end();
}

} // namespace

QString AlarmKindName(AlarmKind kind) {
    for (const KindName &k : kKindNames)
        if (k.kind == kind)
            return QLatin1String(k.name);
    return {};
}

std::optional<AlarmKind> AlarmKindFromName(const QString &name) {
    for (const KindName &k : kKindNames)
        if (name == QLatin1String(k.name))
            return k.kind;
    return std::nullopt;
}

QString AlarmKindRussian(const QString &name) {
    for (const KindName &k : kKindNames)
        if (name == QLatin1String(k.name))
            return QString::fromUtf8(k.russian);
    return name;
}

QJsonObject AlarmKindRussianByName() {
    QJsonObject words;
    for (const KindName &k : kKindNames)
        words.insert(QLatin1String(k.name), QString::fromUtf8(k.russian));
    return words;
}

QString AlarmStateName(AlarmState state) {
    switch (state) {
    case AlarmState::Raised:
        return QStringLiteral("raised");
    case AlarmState::Cleared:
        return QStringLiteral("cleared");
    case AlarmState::Notice:
        break;
    }
    return QStringLiteral("notice");
}

QString AlarmTimeText(const QDateTime &time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

AlarmNotification AlarmTestNotification(const QDateTime &time, const QString &host) {
    AlarmNotification n;
    n.kind = AlarmKind::Test;
    n.state = AlarmState::Notice;
    n.time = time;
    n.messageRu = QStringLiteral("проверка оповещения с %1, это не тревога").arg(host);
    n.messageEn = QStringLiteral("test notification from %1, not an alarm").arg(host);
    return n;
}

QString CheckAlarmRuleChambers(const std::vector<AlarmRule> &rules,
                               const std::vector<int> &chambersRead) {
    for (const AlarmRule &rule : rules)
        for (int chamber : rule.chambers)
            if (std::find(chambersRead.begin(), chambersRead.end(), chamber) == chambersRead.end())
                return QStringLiteral("the %1 alarm names chamber %2, which is not read")
                    .arg(AlarmKindName(rule.kind))
                    .arg(chamber);
    return {};
}

AlarmObservation AlarmObservation::Reading(int chamber, AlarmClock::time_point at,
                                           const QDateTime &wallTime, const ReadingValues &values) {
    AlarmObservation o;
    o.chamber = chamber;
    o.at = at;
    o.wallTime = wallTime;
    o.values = values;
    return o;
}

AlarmObservation AlarmObservation::Missed(int chamber, AlarmClock::time_point at,
                                          const QDateTime &wallTime, const QString &reason) {
    AlarmObservation o;
    o.chamber = chamber;
    o.at = at;
    o.wallTime = wallTime;
    o.missReason = reason;
    return o;
}

AlarmMonitor::AlarmMonitor(const std::vector<AlarmRule> &rules,
                           const std::vector<int> &chambersRead) {
    for (int chamber : chambersRead)
        for (const AlarmRule &rule : rules)
            if (Covers(rule, chamber)) {
                Watch watch;
                watch.rule = rule;
                watch.chamber = chamber;
                watches_.push_back(watch);
            }
}

std::vector<AlarmNotification> AlarmMonitor::observe(const AlarmObservation &observation) {
    std::vector<AlarmNotification> out;
    for (Watch &watch : watches_)
        if (watch.chamber == observation.chamber)
            check(watch, observation, out);
    return out;
}

std::vector<AlarmNotification> AlarmMonitor::advance(AlarmClock::time_point now,
                                                     const QDateTime &wallTime) {
    std::vector<AlarmNotification> out;
    for (Watch &watch : watches_)
        checkTime(watch, now, wallTime, out);
    return out;
}

std::vector<AlarmStatus> AlarmMonitor::status() const {
    std::map<std::pair<int, int>, bool> active;
    for (const Watch &watch : watches_)
        if (watch.rule.kind != AlarmKind::Program)
            active[{watch.chamber, static_cast<int>(watch.rule.kind)}] |= watch.active;
    std::vector<AlarmStatus> result;
    for (const auto &[key, on] : active)
        result.push_back({key.first, static_cast<AlarmKind>(key.second), on});
    return result;
}

void AlarmMonitor::check(Watch &watch, const AlarmObservation &o,
                         std::vector<AlarmNotification> &out) {
    const AlarmRule &rule = watch.rule;
    if (!watch.firstSeen)
        watch.firstSeen = o.at;
    AlarmNotification n;
    n.chamber = watch.chamber;
    n.kind = rule.kind;
    n.time = o.wallTime;
    const auto send = [&](AlarmState state) {
        n.state = state;
        ComposeTexts(n);
        out.push_back(n);
        watch.lastSent = o.at;
        if (state != AlarmState::Notice)
            watch.last = n;
    };

    if (rule.kind == AlarmKind::Silent) {
        if (o.values) {
            const auto since = watch.lastGood.value_or(*watch.firstSeen);
            watch.lastGood = o.at;
            if (watch.active) {
                watch.active = false;
                n.value = Seconds(o.at - since);
                n.limit = rule.limit;
                send(AlarmState::Cleared);
            }
            return;
        }
        watch.lastReason = o.missReason;
        checkTime(watch, o.at, o.wallTime, out);
        return;
    }

    if (rule.kind == AlarmKind::Program) {
        if (!o.values || !o.values->program)
            return;
        const ReadingValues &v = *o.values;
        const bool reached = v.cycles && v.cycle && *v.cycles > 0 && *v.cycle >= *v.cycles;
        n.program = v.program;
        n.cycle = v.cycle;
        n.cycles = v.cycles;
        n.value = *v.program;
        n.temperature = v.currentTemperature;
        n.setTemperature = v.setTemperature;
        if (watch.seenReading && watch.program != v.program) {
            n.previousProgram = watch.program;
            send(AlarmState::Notice);
        } else if (watch.seenReading && reached && !watch.cyclesReached) {
            n.previousProgram = watch.program;
            send(AlarmState::Notice);
        }
        watch.seenReading = true;
        watch.program = v.program;
        watch.cyclesReached = reached;
        return;
    }

    // Limits, band and sensor: a round without a good reading neither confirms nor refutes the
    // condition, so it leaves the state and the time it has held as they were.
    if (!o.values)
        return checkTime(watch, o.at, o.wallTime, out);
    const ReadingValues &v = *o.values;
    n.temperature = v.currentTemperature;
    n.setTemperature = v.setTemperature;
    bool beyond = false; // the condition holds
    bool back = false;   // inside by the hysteresis: clears an active alarm
    switch (rule.kind) {
    case AlarmKind::High:
    case AlarmKind::Low: {
        if (!v.currentTemperature)
            return checkTime(watch, o.at, o.wallTime, out);
        const double t = *v.currentTemperature;
        const double past = rule.kind == AlarmKind::High ? t - rule.limit : rule.limit - t;
        beyond = past > 0;
        back = past <= -rule.hysteresis;
        n.value = t;
        n.limit = rule.limit;
        break;
    }
    case AlarmKind::Deviation: {
        if (!v.currentTemperature || !v.setTemperature)
            return checkTime(watch, o.at, o.wallTime, out);
        const double off = *v.currentTemperature - *v.setTemperature;
        beyond = std::abs(off) > rule.limit;
        back = std::abs(off) <= rule.limit - rule.hysteresis;
        n.value = std::round(off * 10) / 10;
        n.limit = rule.limit;
        break;
    }
    case AlarmKind::Sensor:
        beyond = !v.currentTemperature;
        back = !beyond;
        if (v.currentTemperature)
            n.value = *v.currentTemperature;
        break;
    default:
        return;
    }

    if (watch.active) {
        if (back) {
            watch.active = false;
            watch.holdingSince.reset();
            send(AlarmState::Cleared);
            return;
        }
        watch.last.value = n.value;
        watch.last.temperature = n.temperature;
        watch.last.setTemperature = n.setTemperature;
        return checkTime(watch, o.at, o.wallTime, out);
    }
    if (!beyond) {
        watch.holdingSince.reset(); // a blip inside the delay raises nothing
        return;
    }
    if (!watch.holdingSince)
        watch.holdingSince = o.at;
    if (o.at - *watch.holdingSince >= rule.delay) {
        watch.active = true;
        send(AlarmState::Raised);
    }
}

void AlarmMonitor::checkTime(Watch &watch, AlarmClock::time_point now, const QDateTime &wallTime,
                             std::vector<AlarmNotification> &out) {
    const AlarmRule &rule = watch.rule;
    if (!watch.firstSeen)
        watch.firstSeen = now;
    if (rule.kind == AlarmKind::Silent && !watch.active) {
        const auto since = watch.lastGood.value_or(*watch.firstSeen);
        const double quiet = Seconds(now - since);
        if (quiet < rule.limit)
            return;
        watch.active = true;
        watch.lastSent = now;
        AlarmNotification n;
        n.chamber = watch.chamber;
        n.kind = rule.kind;
        n.state = AlarmState::Raised;
        n.time = wallTime;
        n.value = quiet;
        n.limit = rule.limit;
        n.reason = watch.lastReason.isEmpty() ? OutcomeJournalValue(ExchangeOutcome::Timeout)
                                              : watch.lastReason;
        ComposeTexts(n);
        watch.last = n;
        out.push_back(n);
        return;
    }
    if (!watch.active || rule.repeat.count() <= 0 || now - watch.lastSent < rule.repeat)
        return;
    AlarmNotification n = watch.last;
    n.state = AlarmState::Raised;
    n.repeated = true;
    n.time = wallTime;
    if (rule.kind == AlarmKind::Silent) {
        n.value = Seconds(now - watch.lastGood.value_or(*watch.firstSeen));
        n.reason = watch.lastReason.isEmpty() ? n.reason : watch.lastReason;
    }
    ComposeTexts(n);
    watch.lastSent = now;
    out.push_back(n);
}

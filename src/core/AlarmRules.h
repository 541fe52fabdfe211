#pragma once
// Alarm rules over a chamber's readings, and the monitor that turns a stream of observations
// into notifications. Pure: the caller supplies every moment, so tests drive it with a clock of
// their own and a wall clock jump never shortens or stretches a delay.
#include "core/ReadingValues.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <chrono>
#include <optional>
#include <vector>

enum class AlarmKind { High, Low, Deviation, Silent, Sensor, Program, Test };

// "high", "low", "deviation", "silent", "sensor", "program", "test": the names of the option
// syntax, the events journal and the metrics.
QString AlarmKindName(AlarmKind kind);
std::optional<AlarmKind> AlarmKindFromName(const QString &name);
// The kind in the words of the page and the report: "нет ответа" for "silent". A name the
// program does not know (a newer logger's) comes back unchanged.
QString AlarmKindRussian(const QString &name);
// Name -> Russian words of every kind, for the overview page.
QJsonObject AlarmKindRussianByName();

struct AlarmRule {
    std::vector<int> chambers; // empty: every chamber that is read
    AlarmKind kind = AlarmKind::High;
    // high, low: the limit in °C; deviation: the band in °C; silent: seconds without a good
    // reading; unused for sensor and program.
    double limit = 0;
    // How long the condition must hold before the alarm is raised (not for silent and program).
    std::chrono::seconds delay{0};
    // How far back inside the limit or band a temperature must come to clear (high, low,
    // deviation only).
    double hysteresis = 0;
    // While active, the raise is sent again this often; zero: never.
    std::chrono::seconds repeat{0};

    bool operator==(const AlarmRule &) const = default;
};

// Defaults of the option syntax.
constexpr double kDefaultHysteresis = 0.5;
constexpr std::chrono::seconds kDefaultDelay{60};
// A step of a program takes minutes to follow: a shorter wait would alarm on every ramp.
constexpr std::chrono::seconds kDefaultDeviationDelay{600};

using AlarmClock = std::chrono::steady_clock;

// What one round learnt of one chamber.
struct AlarmObservation {
    int chamber = 0;
    AlarmClock::time_point at;
    QDateTime wallTime; // local time, for the notification texts
    // A reply that decoded; its current temperature is absent when it failed its plausibility
    // bound (the sensor). Absent: no good reading this round, for missReason.
    std::optional<ReadingValues> values;
    // "silence", "damaged replies", "exception N", "line never quiet", "port lost".
    QString missReason;

    static AlarmObservation Reading(int chamber, AlarmClock::time_point at,
                                    const QDateTime &wallTime, const ReadingValues &values);
    static AlarmObservation Missed(int chamber, AlarmClock::time_point at,
                                   const QDateTime &wallTime, const QString &reason);
};

enum class AlarmState { Raised, Cleared, Notice };
QString AlarmStateName(AlarmState state); // "raised", "cleared", "notice"

struct AlarmNotification {
    int chamber = 0;
    AlarmKind kind = AlarmKind::High;
    AlarmState state = AlarmState::Raised;
    bool repeated = false; // a raise sent again after the repeat interval
    QDateTime time;
    // high, low: the temperature; deviation: the temperature minus the set temperature;
    // silent: seconds since the last good reading (or since the start); program: the program.
    std::optional<double> value;
    // The rule's limit, band or seconds.
    std::optional<double> limit;
    std::optional<double> temperature;
    std::optional<double> setTemperature;
    QString reason; // silent: why the last round had no good reading
    // program notices
    std::optional<unsigned> program;
    std::optional<unsigned> previousProgram;
    std::optional<unsigned> cycle;
    std::optional<unsigned> cycles;
    QString messageRu;
    QString messageEn;
};

// One notification that tries every channel without any alarm behind it.
AlarmNotification AlarmTestNotification(const QDateTime &time, const QString &host);

// 2026-12-10T14:03:04+03:00, the offset always written out.
QString AlarmTimeText(const QDateTime &time);

// Empty when every chamber a rule names is among the chambers read; else an error naming the
// first rule's chamber that is not.
QString CheckAlarmRuleChambers(const std::vector<AlarmRule> &rules,
                               const std::vector<int> &chambersRead);

// Whether an alarm of this kind is active at this chamber (any of its rules), for the metrics.
struct AlarmStatus {
    int chamber = 0;
    AlarmKind kind = AlarmKind::High;
    bool active = false;
    bool operator==(const AlarmStatus &) const = default;
};

class AlarmMonitor {
public:
    // Rules apply to the chambers read only; chambers outside chambersRead are never watched.
    AlarmMonitor(const std::vector<AlarmRule> &rules, const std::vector<int> &chambersRead);

    // Feed every chamber's outcome of every round. Observations of chambers not read are ignored.
    std::vector<AlarmNotification> observe(const AlarmObservation &observation);
    // Time passing without observations (a lost port): silence and repeats fall due.
    std::vector<AlarmNotification> advance(AlarmClock::time_point now, const QDateTime &wallTime);

    // One entry per chamber and kind that has a rule (program notices excepted), in order.
    std::vector<AlarmStatus> status() const;

private:
    struct Watch;
    void check(Watch &watch, const AlarmObservation &observation,
               std::vector<AlarmNotification> &out);
    void checkTime(Watch &watch, AlarmClock::time_point now, const QDateTime &wallTime,
                   std::vector<AlarmNotification> &out);

    struct Watch {
        AlarmRule rule;
        int chamber = 0;
        bool active = false;
        std::optional<AlarmClock::time_point> holdingSince; // the condition, not yet raised
        AlarmClock::time_point lastSent{};
        AlarmNotification last; // the latest figures, for repeats
        // silent
        std::optional<AlarmClock::time_point> lastGood;
        std::optional<AlarmClock::time_point> firstSeen;
        QString lastReason;
        // program
        std::optional<unsigned> program;
        bool seenReading = false;
        bool cyclesReached = false;
    };
    std::vector<Watch> watches_;
};

#pragma once
// The logging run of `kalvora-cli log`: reads every chamber once a round, keeps for each the
// record its last good reading composed, writes the records, and tells the journal, stderr and
// the metrics of every change. The loop that paces rounds and records lives in LogCommand.
#include "base/Bus.h"
#include "base/LoggerClock.h"
#include "logger/alarms/AlarmCenter.h"
#include "logger/ChamberFiles.h"
#include "logger/EventJournal.h"
#include "logger/metrics/MetricsText.h"

#include "core/ReadingsDecoder.h"
#include "core/RegionalSettings.h"
#include "core/SilentChamberBackoff.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

struct LogSettings {
    QString dir;
    std::chrono::seconds period{4};
    std::chrono::seconds recordEvery{60};
    bool csv = false;
    std::vector<int> addresses;
};

class Logger {
public:
    // The run's state after every change, for /metrics and the pages.
    using Publish = std::function<void(const BusMetrics &)>;
    // A sign of life after every exchange and every change of the port, for the service
    // manager's watchdog: a round over a large silent bus may outlast its interval.
    using Alive = std::function<void()>;

    // alarms: told of every chamber's outcome, when given.
    Logger(const LogSettings &settings, Bus &bus, const LoggerClock &clock, EventJournal &journal,
           const RegionalSettings &regional, Publish publish = {}, AlarmCenter *alarms = nullptr,
           Alive alive = {});

    // Makes every chamber's first files. Throws CliError(kExitFile).
    void createFiles();

    enum class RoundEnd { Done, Stopped, PortLost };
    // Asks every chamber that is due; ends early on a stop or a lost port (lostResult() then
    // says why). moment: when the round was due. The alarms take it as the time of the round's
    // readings, so that rounds are exactly a period apart for them: a delay of whole periods is
    // met after as many rounds, never one round later because an exchange took a millisecond
    // longer than the one that first showed the condition.
    RoundEnd readRound(AlarmClock::time_point moment);
    // Lets the alarms' silence and repeats fall due between rounds and while the port is lost,
    // and publishes what they changed.
    void advanceAlarms(AlarmClock::time_point now);
    // Writes every record composed since the last write, each into the file of its own moment.
    void writeRecords();

    // The port is gone: every chamber stops answering, and the journal and stderr say so.
    void portLost(const ExchangeResult &result);
    void portBack();
    const ExchangeResult &lostResult() const { return lost_; }
    QString portText() const;

private:
    struct Chamber {
        Chamber(ChamberFiles files, SilentChamberBackoff backoff)
            : address(files.address()), files(std::move(files)), backoff(backoff) {
            metrics.address = address;
        }
        int address = 0;
        ChamberFiles files;
        FigureTexts figures = StartFigureTexts();
        KeptTexts kept;
        QString record;
        bool recordPending = false; // composed by a reading since the last write
        QDateTime recordMoment;     // of the reading that composed it
        std::optional<bool> answering;
        QDateTime lostAt;
        bool lostWithPort = false; // its outage is the port's: stderr tells of it once
        SilentChamberBackoff backoff;
        ChamberMetrics metrics;
    };

    bool read(Chamber &c); // false: the round ends here
    void took(Chamber &c, const std::vector<std::uint8_t> &reply);
    // reason: the journal's; warning: the text on stderr, none when empty (a lost port is
    // warned about once for all its chambers).
    void missed(Chamber &c, const QString &reason, const QString &warning);
    void count(Chamber &c, const ExchangeResult &result);
    void publish();
    void beat();

    const LogSettings &settings_;
    Bus &bus_;
    const LoggerClock &clock_;
    EventJournal &journal_;
    RegionalSettings regional_;
    Publish publish_;
    AlarmCenter *alarms_;
    Alive alive_;
    std::vector<Chamber> chambers_;
    long round_ = 0;
    QDateTime startedAt_;
    AlarmClock::time_point observedAt_{}; // the alarms' time of the readings now taken
    bool portUp_ = true;
    QDateTime portLostAt_;
    ExchangeResult lost_;
    bool lineNoiseReported_ = false;
};

// The journal's and the warning's name for a failed exchange: "silence", "damaged replies",
// "exception 2", "line never quiet", "port lost".
QString MissReason(const ExchangeResult &result);

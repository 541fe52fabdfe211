#include "logger/Logger.h"

#include "base/CliError.h"
#include "base/ReadingReport.h"

#include "core/LogFormat.h"
#include "core/ModbusRtu.h"
#include "core/ReadingValues.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <algorithm>

namespace {

using Outcome = ExchangeResult::Outcome;

QString WhyText(ChamberFiles::Why why) {
    switch (why) {
    case ChamberFiles::Why::Start:
        return QStringLiteral("start");
    case ChamberFiles::Why::Date:
        return QStringLiteral("date");
    case ChamberFiles::Why::Offset:
        return QStringLiteral("offset");
    }
    return QString();
}

// A silent chamber is still asked at least once a minute: a round may start late, so one
// round short of a minute.
long MaxBackoffRounds(std::chrono::seconds period) {
    return std::max<long>(1, static_cast<long>(std::chrono::seconds(60) / period) - 1);
}

} // namespace

QString MissReason(const ExchangeResult &result) {
    switch (result.outcome) {
    case Outcome::BadCrc:
        return QStringLiteral("damaged replies");
    case Outcome::Exception:
        return QStringLiteral("exception %1").arg(result.exceptionCode);
    case Outcome::LineNeverQuiet:
        return QStringLiteral("line never quiet");
    case Outcome::PortLost:
    case Outcome::WriteFailed:
        return QStringLiteral("port lost");
    default:
        return QStringLiteral("silence");
    }
}

Logger::Logger(const LogSettings &settings, Bus &bus, const LoggerClock &clock,
               EventJournal &journal, const RegionalSettings &regional, Publish publish,
               AlarmCenter *alarms, Alive alive)
    : settings_(settings), bus_(bus), clock_(clock), journal_(journal), regional_(regional),
      publish_(std::move(publish)), alarms_(alarms), alive_(std::move(alive)) {}

void Logger::createFiles() {
    const auto onNewFile = [this](int address, const QString &path, ChamberFiles::Why why) {
        journal_.write(QStringLiteral("new_file"), {{QStringLiteral("chamber"), address},
                                                    {QStringLiteral("path"), path},
                                                    {QStringLiteral("why"), WhyText(why)}});
    };
    const QDateTime now = clock_.now();
    startedAt_ = now;
    for (int address : settings_.addresses) {
        Chamber c(ChamberFiles(address, settings_.dir, regional_, settings_.csv, onNewFile),
                  SilentChamberBackoff(MaxBackoffRounds(settings_.period)));
        c.files.start(now);
        chambers_.push_back(std::move(c));
    }
    publish();
}

Logger::RoundEnd Logger::readRound(AlarmClock::time_point moment) {
    observedAt_ = moment;
    // Silent chambers that fall due together are spread over the rounds, as few a round as
    // still asks each of them within its longest interval: their time-outs must not all land
    // in one round of the live chambers.
    const long maxInterval = MaxBackoffRounds(settings_.period);
    const long backedOff = std::count_if(chambers_.begin(), chambers_.end(),
                                         [](const Chamber &c) { return c.backoff.interval() > 1; });
    const long silentAsksAllowed = std::max<long>(1, (backedOff + maxInterval - 1) / maxInterval);
    long silentAsks = 0;
    RoundEnd end = RoundEnd::Done;
    for (Chamber &c : chambers_) {
        if (!c.backoff.due(round_))
            continue;
        if (c.backoff.interval() > 1 && silentAsks++ >= silentAsksAllowed)
            continue; // stays due: asked in a later round
        if (!read(c)) {
            end = lost_.outcome == Outcome::Stopped ? RoundEnd::Stopped : RoundEnd::PortLost;
            break;
        }
    }
    ++round_;
    return end;
}

bool Logger::read(Chamber &c) {
    const auto request = BuildReadRequest(static_cast<std::uint8_t>(c.address), 4, 15);
    const ExchangeResult result =
        bus_.exchange(request, [this, &c](const ExchangeResult &each) { count(c, each); });
    switch (result.outcome) {
    case Outcome::Stopped:
    case Outcome::PortLost:
    case Outcome::WriteFailed:
        lost_ = result;
        return false;
    case Outcome::Ok:
        took(c, result.reply);
        c.backoff.answered(round_);
        break;
    default:
        if (result.outcome == Outcome::LineNeverQuiet && !lineNoiseReported_) {
            PrintWarning(QStringLiteral("port %1 (%2): the line never fell quiet for a request "
                                        "(noise, or a device that keeps sending)")
                             .arg(bus_.portName(), bus_.devicePath()));
            lineNoiseReported_ = true;
        }
        missed(c, MissReason(result), OutcomeText(result));
        c.backoff.missed(round_);
        break;
    }
    if (result.outcome != Outcome::LineNeverQuiet)
        lineNoiseReported_ = false;
    publish();
    beat();
    return true;
}

void Logger::count(Chamber &c, const ExchangeResult &result) {
    ExchangeCounts &n = c.metrics.exchanges;
    switch (result.outcome) {
    case Outcome::Ok:
        ++n.ok;
        break;
    case Outcome::Timeout:
        ++n.timeout;
        break;
    case Outcome::BadCrc:
        ++n.badCrc;
        break;
    case Outcome::Exception:
        ++n.exception;
        break;
    case Outcome::LineNeverQuiet:
        ++n.lineNeverQuiet;
        break;
    default:
        break;
    }
}

void Logger::took(Chamber &c, const std::vector<std::uint8_t> &reply) {
    const QDateTime now = clock_.now();
    const ReadingValues values = DecodeReadingValues(reply.data());
    DecodeCurrentValues(reply.data(), c.figures, c.kept, regional_.decimalSeparator);
    const bool sensorOk = values.currentTemperature.has_value();
    if (sensorOk) {
        c.record = ComposeLogRecord(FormatTime(regional_, AsTm(now)), c.kept.currentTemperature,
                                    c.kept.program, c.kept.step, c.kept.cycle);
        c.recordPending = true;
        c.recordMoment = now;
    }
    // An implausible temperature composes no record: the kept text is an older reading's, and
    // the log must never show it under a newer time.
    if (c.metrics.sensorOk.value_or(true) != sensorOk) {
        if (sensorOk) {
            PrintWarning(QStringLiteral("chamber %1: the temperature is plausible again (%2 °C)")
                             .arg(c.address)
                             .arg(c.kept.currentTemperature));
            journal_.write(QStringLiteral("sensor_back"),
                           {{QStringLiteral("chamber"), c.address},
                            {QStringLiteral("temperature"), *values.currentTemperature}});
        } else {
            PrintWarning(QStringLiteral("chamber %1: implausible temperature; no records until "
                                        "it is plausible again")
                             .arg(c.address));
            journal_.write(QStringLiteral("sensor_implausible"),
                           {{QStringLiteral("chamber"), c.address}});
        }
    }
    c.files.appendCsvRow(now, CsvRow(IsoLocalTime(now), values).toUtf8());
    if (alarms_)
        alarms_->observe(AlarmObservation::Reading(c.address, observedAt_, now, values));
    if (c.answering == false) {
        if (!c.lostWithPort)
            PrintWarning(QStringLiteral("chamber %1 answers again").arg(c.address));
        journal_.write(QStringLiteral("chamber_back"),
                       {{QStringLiteral("chamber"), c.address},
                        {QStringLiteral("outage_seconds"), c.lostAt.secsTo(now)}});
    }
    c.answering = true;
    c.metrics.up = true;
    c.metrics.sensorOk = sensorOk;
    c.metrics.values = values;
    c.metrics.lastGoodReadingAt = now.toMSecsSinceEpoch() / 1000.0;
    c.metrics.lastValues = values;
    c.metrics.lastGoodReading = now;
    c.metrics.silentSince = QDateTime();
}

void Logger::missed(Chamber &c, const QString &reason, const QString &warning) {
    if (c.answering != false) {
        if (!warning.isEmpty())
            PrintWarning(QStringLiteral("chamber %1: %2; no records until it answers again")
                             .arg(c.address)
                             .arg(warning));
        c.lostWithPort = warning.isEmpty();
        journal_.write(QStringLiteral("chamber_lost"),
                       {{QStringLiteral("chamber"), c.address}, {QStringLiteral("reason"), reason}});
        c.lostAt = clock_.now();
        c.metrics.silentSince = c.lostAt;
    }
    c.answering = false;
    c.metrics.up = false;
    c.metrics.values.reset();
    if (alarms_)
        alarms_->observe(AlarmObservation::Missed(c.address, observedAt_, clock_.now(), reason));
}

void Logger::writeRecords() {
    for (Chamber &c : chambers_)
        AppendPendingRecord(c.record, c.recordPending, [&c](const QByteArray &bytes) {
            c.files.appendRecord(c.recordMoment, bytes);
        });
}

QString Logger::portText() const {
    return QStringLiteral("port %1 (%2)").arg(bus_.portName(), bus_.devicePath());
}

void Logger::portLost(const ExchangeResult &result) {
    portUp_ = false;
    portLostAt_ = clock_.now();
    observedAt_ = AlarmClock::now();
    const QString reason = QString::fromLocal8Bit(std::strerror(result.errorNumber));
    PrintWarning(QStringLiteral("%1 lost: %2; opening it again every few seconds")
                     .arg(portText(), reason));
    journal_.write(QStringLiteral("port_lost"), {{QStringLiteral("port"), bus_.portName()},
                                                 {QStringLiteral("device"), bus_.devicePath()},
                                                 {QStringLiteral("reason"), reason}});
    for (Chamber &c : chambers_) {
        missed(c, QStringLiteral("port lost"), QString());
        c.backoff.answered(round_); // asked at once when the port is back
    }
    publish();
    beat();
}

void Logger::portBack() {
    portUp_ = true;
    PrintWarning(QStringLiteral("%1 is back").arg(portText()));
    journal_.write(QStringLiteral("port_back"),
                   {{QStringLiteral("port"), bus_.portName()},
                    {QStringLiteral("device"), bus_.devicePath()},
                    {QStringLiteral("outage_seconds"), portLostAt_.secsTo(clock_.now())}});
    publish();
    beat();
}

void Logger::advanceAlarms(AlarmClock::time_point now) {
    if (!alarms_)
        return;
    alarms_->advance(now, clock_.now());
    publish();
}

void Logger::beat() {
    if (alive_)
        alive_();
}

void Logger::publish() {
    if (!publish_)
        return;
    BusMetrics metrics;
    metrics.portUp = portUp_;
    metrics.version = QCoreApplication::applicationVersion();
    metrics.started = startedAt_;
    metrics.port = bus_.portName();
    metrics.device = bus_.devicePath();
    metrics.periodSeconds = static_cast<int>(settings_.period.count());
    if (alarms_)
        metrics.alarms = alarms_->metrics();
    const std::vector<AlarmCenter::Active> active =
        alarms_ ? alarms_->active() : std::vector<AlarmCenter::Active>{};
    for (const Chamber &c : chambers_) {
        metrics.chambers.push_back(c.metrics);
        for (const AlarmCenter::Active &alarm : active)
            if (alarm.chamber == c.address)
                metrics.chambers.back().alarms.push_back({AlarmKindName(alarm.kind), alarm.since});
    }
    publish_(metrics);
}

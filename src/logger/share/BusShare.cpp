#include "logger/share/BusShare.h"

#include "logger/share/ClientRelay.h"
#include "logger/share/ClientWriteEvent.h"

#include "logger/share/ExceptionFrame.h"

#include "base/ReadingReport.h"
#include "core/AuditCommands.h"
#include "core/Errors.h"
#include "core/ModbusRtu.h"
#include "platform/AuditFile.h"
#include "platform/ReadableWait.h"
#include "platform/SharedTerminal.h"

#include <QFile>
#include <QJsonObject>

#include <system_error>

namespace {

using Outcome = ExchangeResult::Outcome;

// A gateway's answer: the way to the chamber is closed to this request.
constexpr std::uint8_t kGatewayPathUnavailable = 0x0A;

const char *DropReason(ClientVerdict verdict) {
    switch (verdict) {
    case ClientVerdict::Damaged:
        return "damaged";
    case ClientVerdict::Unsupported:
        return "unsupported (only function 4 or 16 to chambers 0 to 250)";
    case ClientVerdict::Incomplete:
        return "incomplete";
    case ClientVerdict::Request:
        break;
    }
    return "";
}

} // namespace

BusShare::BusShare(const std::vector<SharedLinkOption> &links, Bus &bus, EventJournal &journal,
                   const QString &trailFolder, Accepted accepted) try
    : bus_(bus), journal_(journal), trailFolder_(trailFolder), accepted_(std::move(accepted)) {
    for (const SharedLinkOption &option : links) {
        const QString &path = option.path;
        auto link = std::make_unique<Link>();
        link->path = path;
        link->user = option.user;
        if (!option.user.isEmpty() && !(link->uid = UserIdOf(option.user)))
            throw CliError{kExitUsage,
                           QStringLiteral("--share %1: there is no user %2").arg(path, option.user)};
        std::string warning;
        try {
            link->terminal = std::make_unique<SharedTerminal>(QFile::encodeName(path).toStdString(),
                                                              &warning, link->uid);
        } catch (const SharedTerminal::Refused &refused) {
            throw CliError{kExitFile,
                           QStringLiteral("--share %1").arg(QFile::decodeName(refused.what()))};
        }
        if (!warning.empty())
            PrintWarning(
                QStringLiteral("--share %1: %2").arg(path, QString::fromLocal8Bit(warning)));
        links_.push_back(std::move(link));
    }
    reader_ = std::thread([this] { readClients(); });
} catch (const std::system_error &error) {
    throw CliError{1, QStringLiteral("--share: %1").arg(QString::fromLocal8Bit(error.what()))};
}

BusShare::~BusShare() {
    stop_.notify();
    reader_.join();
}

// The clients' side: bytes are read as they come, so that a pause between them is seen where it
// happens and a torn request is told from a whole one.
void BusShare::readClients() {
    const std::size_t n = links_.size();
    // Each link's client side and its watch of openings and closings, then poke and stop.
    std::vector<int> fds;
    for (const auto &link : links_) {
        fds.push_back(link->terminal->clientFd());
        fds.push_back(link->terminal->watchFd());
    }
    fds.push_back(poke_.fd());
    fds.push_back(stop_.fd());
    while (true) {
        std::optional<Clock::time_point> nextAt;
        const auto earliest = [&nextAt](Clock::time_point at) {
            nextAt = nextAt ? std::min(*nextAt, at) : at;
        };
        {
            std::lock_guard lock(mutex_);
            bool due = false;
            for (const auto &link : links_) {
                if (link->dueAt && *link->dueAt <= Clock::now()) {
                    link->dueAt.reset();
                    due = true;
                }
                if (link->dueAt)
                    earliest(*link->dueAt);
            }
            if (due)
                wake_.notify();
        }
        for (const auto &link : links_)
            if (link->framer.hasPending())
                earliest(link->lastByteAt + ClientRequestFramer::kSilence);
        const std::optional<std::vector<bool>> ready = WaitReadable(fds, nextAt);
        if (!ready || (*ready)[2 * n + 1])
            return;
        if ((*ready)[2 * n])
            poke_.clear();
        for (std::size_t i = 0; i < n; ++i)
            if ((*ready)[2 * i + 1])
                links_[i]->terminal->followClients();
        const auto now = Clock::now();
        for (std::size_t i = 0; i < n; ++i) {
            Link &link = *links_[i];
            if ((*ready)[2 * i]) {
                std::uint8_t chunk[512];
                if (const std::size_t got = link.terminal->readClient(chunk); got > 0) {
                    link.lastByteAt = now;
                    take(link, link.framer.feed(std::span(chunk, got)));
                    continue;
                }
            }
            if (link.framer.hasPending() && now >= link.lastByteAt + ClientRequestFramer::kSilence)
                take(link, link.framer.lineFellSilent());
        }
    }
}

void BusShare::take(Link &link, std::vector<ClientFrame> frames) {
    bool queued = false;
    for (ClientFrame &frame : frames) {
        std::unique_lock lock(mutex_);
        Counts &c = link.counts;
        if (frame.verdict == ClientVerdict::Request) {
            switch (link.waiting.add(std::move(frame.bytes), link.lastByteAt,
                                     link.terminal->client())) {
            case ClientRequestQueue::Added::QueuedReplacingOlder:
                ++c.replaced;
                [[fallthrough]];
            case ClientRequestQueue::Added::Queued:
                queued = true;
                break;
            case ClientRequestQueue::Added::Overflow:
                ++c.overflow;
                break;
            }
            continue;
        }
        ++(frame.verdict == ClientVerdict::Damaged       ? c.damaged
           : frame.verdict == ClientVerdict::Unsupported ? c.unsupported
                                                         : c.incomplete);
        const bool warn = !link.dropWarned;
        link.dropWarned = true;
        lock.unlock();
        if (warn)
            PrintWarning(QStringLiteral("--share %1: dropped a request that is %2; it never "
                                        "reaches the bus (further drops are only counted)")
                             .arg(link.path, QLatin1String(DropReason(frame.verdict))));
    }
    if (queued)
        wake_.notify();
}

void BusShare::roundStarts(Clock::time_point nextRoundAt) {
    rounds_.roundStarted(Clock::now(), nextRoundAt);
}

void BusShare::roundEnded(Clock::time_point nextRoundAt) {
    rounds_.roundEnded(Clock::now(), nextRoundAt);
    // What waited for the round goes now, if it still ends before the next.
    std::lock_guard lock(mutex_);
    for (const auto &link : links_)
        if (!link->waiting.empty())
            wake_.notify();
}

void BusShare::serve() {
    wake_.clear();
    // One request of each link, starting after the link served last: no client waits behind
    // another's second request.
    const std::size_t total = links_.size();
    const std::size_t first = nextLink_;
    bool more = false;
    for (std::size_t k = 0; k < total; ++k) {
        Link &link = *links_[(first + k) % total];
        std::optional<ClientRequestQueue::Request> request;
        {
            std::lock_guard lock(mutex_);
            const auto now = Clock::now();
            while (!link.waiting.empty() &&
                   ClientRequestQueue::isStale(link.pacing.dueFor(link.waiting.front().arrivedAt),
                                               now)) {
                link.waiting.takeFront();
                ++link.counts.stale;
            }
            if (link.waiting.empty())
                continue;
            const Clock::time_point dueAt = link.pacing.dueFor(link.waiting.front().arrivedAt);
            if (now < dueAt) {
                link.dueAt = dueAt;
                poke_.notify();
                continue;
            }
            // Held for the logger's round: roundStarts() and roundEnded() bring it back.
            if (!rounds_.clientMayGo(now, LongestTry(link.waiting.front().bytes,
                                                     bus_.options().timeout)))
                continue;
            link.dueAt.reset();
            request = link.waiting.takeFront();
            more = more || !link.waiting.empty();
        }
        nextLink_ = (first + k + 1) % total;
        relay(link, std::move(*request));
    }
    if (more)
        wake_.notify();
}

void BusShare::relay(Link &link, ClientRequestQueue::Request request) {
    // The request still goes when its client has closed the link meanwhile: a client may send a
    // write and leave without waiting for the answer, as on a line of its own. The answer then
    // goes to no one: the next client would take it for the answer to its own request.
    const auto askerGone = [&] { return link.terminal->client() != request.client; };
    const std::vector<std::uint8_t> &frame = request.bytes;
    const bool isWrite = frame[1] == kWriteMultipleRegisters;
    std::optional<AuditHead> sending;
    if (isWrite) {
        try {
            sending = recordWrite(link, frame, QStringLiteral("sending"), std::nullopt);
        } catch (const KalvoraError &error) {
            // A write that would leave no trace is not passed on: the client hears a gateway
            // that cannot reach the chamber.
            if (!askerGone())
                link.terminal->writeReply(
                    ExceptionFrame(frame[0], frame[1], kGatewayPathUnavailable));
            {
                std::lock_guard lock(mutex_);
                ++link.counts.notSent;
            }
            PrintWarning(QStringLiteral("--share %1: %2").arg(link.path, error.message()));
            journal_.write(QStringLiteral("client_write_refused"),
                           {{QStringLiteral("link"), link.path},
                            {QStringLiteral("chamber"), frame[0]},
                            {QStringLiteral("reason"), error.message()}});
            return;
        }
    }
    const auto startedAt = Clock::now();
    if (isWrite)
        link.pacing.wrote(request.arrivedAt, startedAt);
    const RelayedAnswer answer = RelayOnce(bus_, frame);
    const auto endedAt = Clock::now();
    if (!answer.toClient.empty() && !askerGone())
        link.terminal->writeReply(answer.toClient);
    rounds_.clientExchanged(endedAt - startedAt);
    {
        std::lock_guard lock(mutex_);
        Counts &c = link.counts;
        switch (answer.result.outcome) {
        case Outcome::Ok:
            ++c.ok;
            break;
        case Outcome::Exception:
            ++c.exception;
            break;
        case Outcome::Timeout:
            ++c.timeout;
            break;
        case Outcome::BadCrc:
            ++c.damagedReply;
            break;
        default:
            ++c.notSent;
            break;
        }
        c.busSeconds += std::chrono::duration<double>(endedAt - startedAt).count();
        c.waitSeconds += std::chrono::duration<double>(startedAt - request.arrivedAt).count();
    }
    if (isWrite) {
        journal_.write(QStringLiteral("client_write"),
                       ClientWriteMembers(link.path, frame, answer.result));
        // The frame went out: a failure now is told, and the first line stands for the write.
        try {
            recordWrite(link, frame,
                        answer.result.outcome == Outcome::Ok ? QStringLiteral("ok")
                                                             : OutcomeText(answer.result),
                        sending->sequence);
        } catch (const KalvoraError &error) {
            PrintWarning(QStringLiteral("--share %1: %2").arg(link.path, error.message()));
        }
        if (accepted_ && answer.result.outcome == Outcome::Ok) {
            const WrittenRegisters written = RegistersOf(frame);
            accepted_(written.chamber, written.start, written.values);
        }
    }
}

AuditHead BusShare::recordWrite(const Link &link, std::span<const std::uint8_t> frame,
                                const QString &outcome, std::optional<qint64> completes) {
    const Frame bytes(frame.begin(), frame.end());
    QJsonObject who = CurrentProcessWho(QStringLiteral("kalvora-cli log"));
    // Never a guess: only a link made for one user names a person.
    who.insert(QStringLiteral("user"), link.user.isEmpty() ? QStringLiteral("unknown") : link.user);
    who.insert(QStringLiteral("uid"),
               link.uid ? QJsonValue(static_cast<qint64>(*link.uid)) : QJsonValue());
    who.insert(QStringLiteral("link"), link.path);
    QJsonObject what = RelayedWriteWhat(bytes);
    const QJsonValue last = completes ? QJsonValue() : before(bytes[0]);
    if (completes) {
        // The frames and values are on the line it completes.
        QJsonObject named;
        for (const char *key : {"chamber", "command", "words"})
            named.insert(QLatin1String(key), what.value(QLatin1String(key)));
        what = named;
    }
    return AppendAuditRecord(trailFolder_, {QDateTime::currentDateTime(), who, what, last,
                                            outcome, QString(), completes});
}

void BusShare::readingSeen(int chamber, const ReadingValues &values, const QDateTime &at) {
    lastReadings_[chamber] = {values, at};
}

QJsonValue BusShare::before(int chamber) const {
    const auto last = lastReadings_.find(chamber);
    if (last == lastReadings_.end())
        return QJsonValue();
    QJsonObject reading = ReadingJsonObject(chamber, last->second.values);
    reading.remove(QStringLiteral("address"));
    reading.insert(QStringLiteral("read_utc"), last->second.at.toUTC().toString(Qt::ISODateWithMs));
    reading.insert(QStringLiteral("age_s"),
                   last->second.at.msecsTo(QDateTime::currentDateTime()) / 1000.0);
    return reading;
}

std::vector<SharedLinkMetrics> BusShare::metrics() const {
    std::lock_guard lock(mutex_);
    std::vector<SharedLinkMetrics> metrics;
    for (const auto &link : links_) {
        const Counts &c = link->counts;
        metrics.push_back({link->path, c.ok, c.exception, c.timeout, c.damagedReply, c.notSent,
                           c.damaged, c.unsupported, c.incomplete, c.replaced, c.stale,
                           c.overflow, c.busSeconds, c.waitSeconds});
    }
    return metrics;
}

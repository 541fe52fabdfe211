#pragma once
// The logger's bus shared with other masters: each --share path links a pseudo-terminal that a
// client (the window program, kalvora-cli, any Modbus RTU master) opens as if it were the bus.
// A thread reads the clients and frames their requests; the logger's thread sends each valid
// one on the real bus between its own tries (serve()), one try, and hands the reply, or
// silence, back to that client only. What waits on a link, and what a newer request does to it,
// is core/ClientRequestQueue; after a write, the client's next request keeps the pause the
// client kept (core/ClientPacing). The logger's records come first: a client's request goes on
// the bus only while the logger's rounds keep their period (core/LoggerRoundsFirst). Each write
// a client sends goes on record in the audit trail before it goes on the bus, with the link's
// user (docs/audit.md); a write whose line cannot be written is not relayed.
#include "base/Bus.h"
#include "logger/EventJournal.h"
#include "logger/metrics/SharedLinkMetrics.h"

#include "core/AuditTrail.h"
#include "core/ClientPacing.h"
#include "core/ClientRequestFramer.h"
#include "core/ClientRequestQueue.h"
#include "core/LoggerRoundsFirst.h"
#include "core/ReadingValues.h"
#include "core/SharedLinkOption.h"
#include "platform/EventSignal.h"

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <span>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

class SharedTerminal;

class BusShare {
public:
    using Clock = std::chrono::steady_clock;

    // Makes every link (its pty given to the group dialout, mode 0660, or to the link's user
    // alone) and starts reading. The audit trail of the relayed writes goes to `trailFolder`.
    // Throws CliError(kExitFile) when a link cannot be made, naming it; a link that points at a
    // pty another running program holds (another logger's link) is never taken over.
    // A write (function 16) a chamber accepted: its registers from `start` on.
    using Accepted =
        std::function<void(int chamber, int start, std::span<const std::uint16_t> values)>;
    BusShare(const std::vector<SharedLinkOption> &links, Bus &bus, EventJournal &journal,
             const QString &trailFolder, Accepted accepted = {});
    // Stops reading and removes every link that still points at its own pty.
    ~BusShare();
    BusShare(const BusShare &) = delete;
    BusShare &operator=(const BusShare &) = delete;

    // Readable when a request may go; serve() empties it.
    int wakeFd() const { return wake_.fd(); }
    // Sends each link's waiting request once, links in turn, and hands back the replies. From
    // the thread that owns the bus only, as are the two below.
    void serve();
    // The logger's round begins; it must end by nextRoundAt, when the next one is due.
    void roundStarts(Clock::time_point nextRoundAt);
    // The logger's round has ended; the next one is due at nextRoundAt.
    void roundEnded(Clock::time_point nextRoundAt);
    // Each link's requests by result, drops by reason, bus and queue time, for /metrics.
    std::vector<SharedLinkMetrics> metrics() const;
    // The logger's last good reading of a chamber, the "before" of a write's trail line.
    void readingSeen(int chamber, const ReadingValues &values, const QDateTime &at);

private:
    struct Counts {
        unsigned long long ok = 0, exception = 0, timeout = 0, damagedReply = 0, notSent = 0;
        unsigned long long damaged = 0, unsupported = 0, incomplete = 0, replaced = 0, stale = 0,
                           overflow = 0;
        double busSeconds = 0;
        double waitSeconds = 0;
    };
    struct Link {
        QString path;
        QString user;                // empty: the link is not made for one user
        std::optional<unsigned> uid; // of the user
        std::unique_ptr<SharedTerminal> terminal;
        ClientRequestFramer framer; // the reader's thread only
        Clock::time_point lastByteAt;
        ClientRequestQueue waiting;             // under mutex_
        std::optional<Clock::time_point> dueAt; // under mutex_: the first waiting may go then
        Counts counts;                          // under mutex_
        bool dropWarned = false;
        ClientPacing pacing; // the bus's thread only
    };

    void readClients();
    void take(Link &link, std::vector<ClientFrame> frames);
    void relay(Link &link, ClientRequestQueue::Request request);
    // The trail's line of a write from `link`; an answer's line completes `sending`.
    AuditHead recordWrite(const Link &link, std::span<const std::uint8_t> frame,
                          const QString &outcome, std::optional<qint64> completes);
    QJsonValue before(int chamber) const;

    Bus &bus_;
    EventJournal &journal_;
    const QString trailFolder_;
    Accepted accepted_;
    struct LastReading {
        ReadingValues values;
        QDateTime at;
    };
    std::map<int, LastReading> lastReadings_; // the bus's thread only
    std::vector<std::unique_ptr<Link>> links_;
    std::size_t nextLink_ = 0;
    LoggerRoundsFirst rounds_; // the bus's thread only
    EventSignal wake_;
    EventSignal stop_;
    EventSignal poke_; // a link got a time to be due: the reader looks at its timing again
    mutable std::mutex mutex_;
    std::thread reader_;
};

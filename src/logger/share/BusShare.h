#pragma once
// The logger's bus shared with other masters: each --share path links a pseudo-terminal that a
// client (the window program, kalvora-cli, any Modbus RTU master) opens as if it were the bus.
// A thread reads the clients and frames their requests; the logger's thread sends each valid
// one on the real bus between its own tries (serve()), one try, and hands the reply, or
// silence, back to that client only. A newer request replaces a read not yet sent, or the same
// write repeated, as a client that gave up and asked again no longer waits for the old one;
// other writes are never replaced, they queue and go in the order written. After a write, the
// client's next request keeps the pause the client kept (core/ClientPacing).
#include "base/Bus.h"
#include "logger/EventJournal.h"
#include "logger/metrics/SharedLinkMetrics.h"

#include "core/ClientPacing.h"
#include "core/ClientRequestFramer.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PseudoTerminal;

class BusShare {
public:
    using Clock = std::chrono::steady_clock;
    // A request that waited this long for the bus (beyond the pause it keeps) is dropped
    // unsent: every client has given up on it by then, and a write sent that late would
    // surprise whoever asked.
    static constexpr std::chrono::seconds kStaleAfter{2};
    // Requests a link holds; beyond, a new one is dropped. A program is 15 writes.
    static constexpr std::size_t kMaxWaiting = 32;

    // Makes every link (its pty given to the group dialout, mode 0660) and starts reading.
    // Throws CliError(kExitFile) when a link cannot be made, naming it.
    BusShare(const QStringList &paths, Bus &bus, EventJournal &journal);
    // Stops reading and removes every link that still points at its own pty.
    ~BusShare();
    BusShare(const BusShare &) = delete;
    BusShare &operator=(const BusShare &) = delete;

    // Readable when a request waits; serve() empties it.
    int wakeFd() const { return wakeFd_; }
    // Sends each link's waiting request once, links in turn, and hands back the replies. From
    // the thread that owns the bus only.
    void serve();
    // Each link's requests by result, drops by reason, bus and queue time, for /metrics.
    std::vector<SharedLinkMetrics> metrics() const;

private:
    struct Counts {
        unsigned long long ok = 0, exception = 0, timeout = 0, damagedReply = 0, notSent = 0;
        unsigned long long damaged = 0, unsupported = 0, incomplete = 0, replaced = 0, stale = 0,
                           overflow = 0;
        double busSeconds = 0;
        double waitSeconds = 0;
    };
    struct Waiting {
        std::vector<std::uint8_t> bytes;
        Clock::time_point arrivedAt;
    };
    struct Link {
        QString path;
        std::unique_ptr<PseudoTerminal> pty;
        int watch = -1; // inotify watch of the slave's closes
        ClientRequestFramer framer;
        Clock::time_point lastByteAt;
        std::deque<Waiting> waiting;            // under mutex_, oldest first
        std::optional<Clock::time_point> dueAt; // under mutex_: the first waiting may go then
        Counts counts;                          // under mutex_
        bool dropWarned = false;
        ClientPacing pacing; // the bus's thread only
    };

    void readClients();
    void take(Link &link, std::vector<ClientFrame> frames);
    void released();
    void relay(Link &link, Waiting request, Clock::time_point dueAt);
    void wake();
    void poke();

    Bus &bus_;
    EventJournal &journal_;
    std::vector<std::unique_ptr<Link>> links_;
    std::size_t nextLink_ = 0;
    int wakeFd_ = -1;
    int stopFd_ = -1;
    int pokeFd_ = -1; // a link got a time to be due: the reader looks at its timing again
    int inotifyFd_ = -1;
    mutable std::mutex mutex_;
    std::thread reader_;
};

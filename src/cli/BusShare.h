#pragma once
// The logger's bus shared with other masters: each --share path links a pseudo-terminal that a
// client (the window program, kalvora-cli, any Modbus RTU master) opens as if it were the bus.
// A thread reads the clients and frames their requests; the logger's thread sends each valid
// one on the real bus between its own tries (serve()), one try, and hands the reply, or
// silence, back to that client only. Each link holds at most one request: a newer one replaces
// one not yet sent, as a client that gave up and asked again no longer waits for the old one.
// After a write, a client's next request reaches the bus no sooner than the client wrote it
// after the write: the pause it keeps (a chamber's time to store a program step) is never
// shortened by a wait for the bus that held up only the write.
#include "Bus.h"
#include "EventJournal.h"

#include "core/ClientRequestFramer.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PseudoTerminal;

class BusShare {
public:
    using Clock = std::chrono::steady_clock;
    // A request that waited this long is dropped unsent: every client has given up on it by
    // then, and a write sent that late would surprise whoever asked.
    static constexpr std::chrono::seconds kStaleAfter{2};
    // Added to the pause a client kept after a write: a little longer, never shorter.
    static constexpr std::chrono::milliseconds kPauseMargin{50};

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
    // The relay's Prometheus metrics: requests by result, drops by reason, bus and queue time.
    QString metricsText() const;

private:
    struct Counts {
        unsigned long long ok = 0, exception = 0, timeout = 0, damagedReply = 0, notSent = 0;
        unsigned long long damaged = 0, unsupported = 0, incomplete = 0, replaced = 0, stale = 0;
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
        std::optional<Waiting> waiting;         // under mutex_
        std::optional<Clock::time_point> dueAt; // under mutex_: the waiting one may go then
        Counts counts;                          // under mutex_
        bool dropWarned = false;
        // Of the last request sent, when it was a write (the bus's thread only).
        std::optional<Clock::time_point> lastArrivedAt;
        Clock::time_point lastSentAt;
    };

    void readClients();
    void take(Link &link, std::vector<ClientFrame> frames);
    void released();
    void relay(Link &link, Waiting request);
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

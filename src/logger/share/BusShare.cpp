#include "logger/share/BusShare.h"

#include "core/ModbusRtu.h"
#include "platform/PseudoTerminal.h"

#include <QFile>
#include <QJsonArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

using Outcome = ExchangeResult::Outcome;

QString SystemReason(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

// Only those who may use the real port may use the shared one: the group of serial devices.
void RestrictToDialout(const PseudoTerminal &pty, const QString &path) {
    const int fd = pty.slaveFd();
    QString problem;
    if (const group *dialout = ::getgrnam("dialout"); !dialout)
        problem = QStringLiteral("there is no group dialout");
    else if (::fchown(fd, static_cast<uid_t>(-1), dialout->gr_gid) != 0)
        problem =
            QStringLiteral("cannot give it to the group dialout: %1").arg(SystemReason(errno));
    if (problem.isEmpty() && ::fchmod(fd, 0660) == 0)
        return;
    ::fchmod(fd, 0600);
    PrintWarning(QStringLiteral("--share %1: %2; only this program's user may open it")
                     .arg(path, problem.isEmpty() ? SystemReason(errno) : problem));
}

// The client's answer as the journal names it.
QString AnswerText(const ExchangeResult &result) {
    switch (result.outcome) {
    case Outcome::Ok:
        return QStringLiteral("ok");
    case Outcome::Exception:
        return QStringLiteral("exception %1").arg(result.exceptionCode);
    case Outcome::Timeout:
        return QStringLiteral("silence");
    case Outcome::BadCrc:
        return QStringLiteral("damaged");
    case Outcome::LineNeverQuiet:
        return QStringLiteral("line never quiet");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    case Outcome::PortLost:
    case Outcome::WriteFailed:
        return QStringLiteral("port lost");
    }
    return QString();
}

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

void WriteReply(int fd, std::span<const std::uint8_t> bytes) {
    // A client that does not read its replies loses them; the bus never waits for it.
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0)
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

} // namespace

BusShare::BusShare(const QStringList &paths, Bus &bus, EventJournal &journal)
    : bus_(bus), journal_(journal) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    pokeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    inotifyFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    const auto cleanUp = [this] {
        for (const auto &link : links_)
            removeLink(QFile::encodeName(link->path).toStdString(), link->pty->slavePath());
        for (int fd : {wakeFd_, stopFd_, pokeFd_, inotifyFd_})
            if (fd >= 0)
                ::close(fd);
    };
    if (wakeFd_ < 0 || stopFd_ < 0 || pokeFd_ < 0 || inotifyFd_ < 0) {
        const int error = errno;
        cleanUp();
        throw CliError{1, QStringLiteral("--share: %1").arg(SystemReason(error))};
    }
    try {
        for (const QString &path : paths) {
            auto link = std::make_unique<Link>();
            link->path = path;
            try {
                link->pty = std::make_unique<PseudoTerminal>();
            } catch (const std::system_error &error) {
                throw CliError{kExitFile, QStringLiteral("--share %1: %2")
                                              .arg(path, QString::fromLocal8Bit(error.what()))};
            }
            const int master = link->pty->masterFd();
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
            RestrictToDialout(*link->pty, path);
            // A client's TIOCEXCL outlives its close while the pty stays open here: it is
            // lifted when a client closes, so that the next one may open the link (two of our
            // programs still never share it: their lock is on the open file).
            link->watch = ::inotify_add_watch(inotifyFd_, link->pty->slavePath().c_str(),
                                              IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
            std::string error;
            if (!makeLink(QFile::encodeName(path).toStdString(), link->pty->slavePath(), &error))
                throw CliError{
                    kExitFile,
                    QStringLiteral("--share %1: %2").arg(path, QString::fromStdString(error))};
            links_.push_back(std::move(link));
        }
    } catch (...) {
        cleanUp();
        throw;
    }
    reader_ = std::thread([this] { readClients(); });
}

BusShare::~BusShare() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
    reader_.join();
    for (const auto &link : links_)
        removeLink(QFile::encodeName(link->path).toStdString(), link->pty->slavePath());
    ::close(wakeFd_);
    ::close(stopFd_);
    ::close(pokeFd_);
    ::close(inotifyFd_);
}

void BusShare::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void BusShare::poke() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(pokeFd_, &one, sizeof one);
}

// The clients' side: bytes are read as they come, so that a pause between them is seen where it
// happens and a torn request is told from a whole one.
void BusShare::readClients() {
    const std::size_t n = links_.size();
    std::vector<pollfd> fds(n + 3);
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
                wake();
        }
        for (std::size_t i = 0; i < n; ++i) {
            fds[i] = {links_[i]->pty->masterFd(), POLLIN, 0};
            if (links_[i]->framer.hasPending())
                earliest(links_[i]->lastByteAt + ClientRequestFramer::kSilence);
        }
        fds[n] = {inotifyFd_, POLLIN, 0};
        fds[n + 1] = {pokeFd_, POLLIN, 0};
        fds[n + 2] = {stopFd_, POLLIN, 0};
        int timeout = -1;
        if (nextAt)
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(*nextAt - Clock::now()).count()));
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[n + 2].revents != 0)
            return;
        if (fds[n].revents != 0)
            released();
        if (fds[n + 1].revents != 0) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t r = ::read(pokeFd_, &count, sizeof count);
        }
        const auto now = Clock::now();
        for (std::size_t i = 0; i < n; ++i) {
            Link &link = *links_[i];
            if (fds[i].revents & POLLIN) {
                std::uint8_t chunk[512];
                const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    link.lastByteAt = now;
                    take(link, link.framer.feed(std::span(chunk, static_cast<std::size_t>(n))));
                    continue;
                }
            }
            if (link.framer.hasPending() && now >= link.lastByteAt + ClientRequestFramer::kSilence)
                take(link, link.framer.lineFellSilent());
        }
    }
}

// A client closed its link: the next one may open it, and finds no reply meant for another.
void BusShare::released() {
    alignas(inotify_event) char buffer[4096];
    while (true) {
        const ssize_t n = ::read(inotifyFd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (char *at = buffer; at < buffer + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            for (const auto &link : links_)
                if (link->watch == event->wd) {
                    ::ioctl(link->pty->slaveFd(), TIOCNXCL);
                    ::tcflush(link->pty->slaveFd(), TCIFLUSH);
                }
            at += sizeof(inotify_event) + event->len;
        }
    }
}

void BusShare::take(Link &link, std::vector<ClientFrame> frames) {
    bool queued = false;
    for (ClientFrame &frame : frames) {
        std::unique_lock lock(mutex_);
        if (frame.verdict == ClientVerdict::Request) {
            // A client that asks again gave up on its request not yet sent: a read, or the
            // same write repeated. A different write waits its turn: it is the next step.
            if (!link.waiting.empty() && (link.waiting.back().bytes[1] != kWriteMultipleRegisters ||
                                          link.waiting.back().bytes == frame.bytes)) {
                ++link.counts.replaced;
                link.waiting.pop_back();
            }
            if (link.waiting.size() >= kMaxWaiting) {
                ++link.counts.overflow;
                continue;
            }
            link.waiting.push_back(Waiting{std::move(frame.bytes), link.lastByteAt});
            queued = true;
            continue;
        }
        Counts &c = link.counts;
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
        wake();
}

void BusShare::serve() {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    // One request of each link, starting after the link served last: no client waits behind
    // another's second request.
    const std::size_t total = links_.size();
    const std::size_t first = nextLink_;
    bool more = false;
    for (std::size_t k = 0; k < total; ++k) {
        Link &link = *links_[(first + k) % total];
        std::optional<Waiting> request;
        Clock::time_point dueAt;
        {
            std::lock_guard lock(mutex_);
            if (link.waiting.empty())
                continue;
            dueAt = link.pacing.dueFor(link.waiting.front().arrivedAt);
            if (Clock::now() < dueAt) {
                link.dueAt = dueAt;
                poke();
                continue;
            }
            link.dueAt.reset();
            request = std::move(link.waiting.front());
            link.waiting.pop_front();
            more = more || !link.waiting.empty();
        }
        nextLink_ = (first + k + 1) % total;
        relay(link, std::move(*request), dueAt);
    }
    if (more)
        wake();
}

void BusShare::relay(Link &link, Waiting request, Clock::time_point dueAt) {
    const auto startedAt = Clock::now();
    if (startedAt - dueAt > kStaleAfter) {
        std::lock_guard lock(mutex_);
        ++link.counts.stale;
        return;
    }
    if (request.bytes[1] == kWriteMultipleRegisters)
        link.pacing.wrote(request.arrivedAt, startedAt);
    // One try: the client makes its own retries.
    const ExchangeResult result = bus_.exchangeOnce(request.bytes);
    const auto endedAt = Clock::now();
    const std::vector<std::uint8_t> &frame = request.bytes;
    if (result.outcome == Outcome::Ok) {
        WriteReply(link.pty->masterFd(), result.reply);
    } else if (result.outcome == Outcome::Exception) {
        std::vector<std::uint8_t> reply{frame[0], static_cast<std::uint8_t>(frame[1] | 0x80),
                                        result.exceptionCode};
        const std::uint16_t crc = ModbusCrc16(0, 2, reply.data());
        reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        reply.push_back(static_cast<std::uint8_t>(crc >> 8));
        WriteReply(link.pty->masterFd(), reply);
    }
    {
        std::lock_guard lock(mutex_);
        Counts &c = link.counts;
        switch (result.outcome) {
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
    if (frame[1] != kWriteMultipleRegisters)
        return;
    QJsonArray values;
    for (std::size_t i = 7; i + 3 < frame.size(); i += 2)
        values.append(frame[i] << 8 | frame[i + 1]);
    journal_.write(QStringLiteral("client_write"),
                   {{QStringLiteral("link"), link.path},
                    {QStringLiteral("chamber"), frame[0]},
                    {QStringLiteral("start"), frame[2] << 8 | frame[3]},
                    {QStringLiteral("count"), frame[4] << 8 | frame[5]},
                    {QStringLiteral("values"), values},
                    {QStringLiteral("answer"), AnswerText(result)}});
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

#include "platform/SharedTerminal.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

std::string SystemReason(int errorNumber) { return std::strerror(errorNumber); }

// Only those who may use the real port may use the shared one: the group of serial devices.
std::string RestrictToDialout(int slaveFd) {
    std::string problem;
    if (const group *dialout = ::getgrnam("dialout"); !dialout)
        problem = "there is no group dialout";
    else if (::fchown(slaveFd, static_cast<uid_t>(-1), dialout->gr_gid) != 0)
        problem = "cannot give it to the group dialout: " + SystemReason(errno);
    if (problem.empty() && ::fchmod(slaveFd, 0660) == 0)
        return {};
    if (problem.empty())
        problem = SystemReason(errno);
    ::fchmod(slaveFd, 0600);
    return problem + "; only this program's user may open it";
}

// The pty a symlink at `path` points at, when another process still holds it: a pty's slave
// device exists exactly as long as its master side is open.
std::string LivePtyBehind(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    const std::string device(target, static_cast<std::size_t>(n));
    struct stat st {};
    if (device.rfind("/dev/pts/", 0) != 0 || ::stat(device.c_str(), &st) != 0 ||
        !S_ISCHR(st.st_mode))
        return {};
    return device;
}

// The pty for one user alone: the writes through it are that user's.
std::string RestrictToUser(int slaveFd, unsigned owner) {
    // The mode first: once the pty is another's, only its owner may change it.
    if (::fchmod(slaveFd, 0600) != 0 ||
        ::fchown(slaveFd, static_cast<uid_t>(owner), static_cast<gid_t>(-1)) != 0)
        return "cannot give the pseudo-terminal to user " + std::to_string(owner) + ": " +
               SystemReason(errno);
    return {};
}

} // namespace

SharedTerminal::SharedTerminal(const std::string &linkPath, std::string *warning,
                               std::optional<unsigned> owner)
    : linkPath_(linkPath), pty_([&linkPath] {
          try {
              return PseudoTerminal();
          } catch (const std::system_error &error) {
              throw Refused(linkPath + ": " + error.what());
          }
      }()) {
    warning->clear();
    const int master = pty_.masterFd();
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    if (owner) {
        if (const std::string problem = RestrictToUser(pty_.slaveFd(), *owner); !problem.empty())
            throw Refused(linkPath + ": " + problem);
    } else {
        *warning = RestrictToDialout(pty_.slaveFd());
    }
    watchFd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watchFd_ < 0 || ::inotify_add_watch(watchFd_, pty_.slavePath().c_str(),
                                            IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        const int error = errno;
        if (watchFd_ >= 0)
            ::close(watchFd_);
        throw Refused(linkPath + ": cannot watch the pseudo-terminal: " + SystemReason(error));
    }
    std::string refusal;
    if (const std::string live = LivePtyBehind(linkPath); !live.empty())
        refusal = linkPath + ": links to " + live +
                  ", which another running program holds (another logger's shared link?); "
                  "stop it first, or remove the link if it is a leftover";
    else if (std::string error; !makeLink(linkPath, pty_.slavePath(), &error))
        refusal = linkPath + ": " + error;
    if (!refusal.empty()) {
        ::close(watchFd_);
        throw Refused(refusal);
    }
}

SharedTerminal::~SharedTerminal() {
    removeLink(linkPath_, pty_.slavePath());
    ::close(watchFd_);
}

std::size_t SharedTerminal::readClient(std::span<std::uint8_t> into) {
    while (true) {
        const ssize_t n = ::read(pty_.masterFd(), into.data(), into.size());
        if (n > 0)
            return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR)
            continue;
        return 0;
    }
}

void SharedTerminal::writeReply(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(pty_.masterFd(), bytes.data(), bytes.size());
        if (n > 0)
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

std::uint64_t SharedTerminal::client() {
    followClients();
    std::lock_guard lock(mutex_);
    return closings_;
}

bool SharedTerminal::followClients() {
    std::lock_guard lock(mutex_);
    // The whole queue first: a close handled after the next client's opening must not count
    // as the last one.
    bool closed = false;
    alignas(inotify_event) char buffer[4096];
    while (true) {
        const ssize_t n = ::read(watchFd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (char *at = buffer; at < buffer + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            if (event->mask & IN_OPEN)
                ++clientsOpen_;
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                clientsOpen_ = clientsOpen_ > 0 ? clientsOpen_ - 1 : 0;
                ++closings_;
                closed = true;
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (!closed || clientsOpen_ > 0)
        return false;
    ::ioctl(pty_.slaveFd(), TIOCNXCL);
    ::tcflush(pty_.slaveFd(), TCIFLUSH);
    return true;
}

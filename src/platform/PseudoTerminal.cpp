#include "platform/PseudoTerminal.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowSystemError(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void SetCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) != 0)
        ThrowSystemError("cannot set up a pseudo-terminal");
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    // Cooked mode would eat some bytes (0x04 among them) and echo the others.
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B57600);
    raw.c_cflag |= CLOCAL | CREAD;
    if (openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0)
        ThrowSystemError("cannot set up a pseudo-terminal");
    try {
        SetCloseOnExec(master_);
        SetCloseOnExec(slave_);
        char name[PATH_MAX];
        if (ptsname_r(master_, name, sizeof name) != 0)
            ThrowSystemError("cannot name the pseudo-terminal");
        slavePath_ = name;
    } catch (...) {
        ::close(master_);
        ::close(slave_);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
    closeSlave();
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PseudoTerminal::closeSlave() {
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
}

bool makeLink(const std::string &link, const std::string &target, std::string *error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = link + " exists and is not a symlink";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        *error = "cannot create " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void removeLink(const std::string &link, const std::string &target) {
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

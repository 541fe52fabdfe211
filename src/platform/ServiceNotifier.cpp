#include "ServiceNotifier.h"

#include <QtGlobal>
#include <cstddef>
#include <cstring>
#include <unistd.h>

ServiceNotifier::ServiceNotifier()
    : ServiceNotifier(qgetenv("NOTIFY_SOCKET"), qgetenv("WATCHDOG_USEC"), qgetenv("WATCHDOG_PID")) {
}

ServiceNotifier::ServiceNotifier(const QByteArray &notifySocket, const QByteArray &watchdogUsec,
                                 const QByteArray &watchdogPid) {
    bool ok = false;
    const qulonglong usec = watchdogUsec.toULongLong(&ok);
    const qlonglong pid = watchdogPid.toLongLong();
    if (ok && usec > 0 && (watchdogPid.isEmpty() || pid == ::getpid()))
        watchdog_ = std::chrono::microseconds(usec);

    const bool abstract = notifySocket.startsWith('@');
    if (!abstract && !notifySocket.startsWith('/'))
        return; // unset, or a kind of socket this program does not speak
    if (static_cast<std::size_t>(notifySocket.size()) >= sizeof address_.sun_path)
        return;
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path, notifySocket.constData(), notifySocket.size());
    if (abstract)
        address_.sun_path[0] = '\0';
    // An abstract name is exactly its bytes; a path ends at its terminating zero.
    addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + notifySocket.size() +
                                            (abstract ? 0 : 1));
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

ServiceNotifier::~ServiceNotifier() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ServiceNotifier::send(const QByteArray &state) const {
    if (fd_ < 0)
        return false;
    const ssize_t sent = ::sendto(fd_, state.constData(), state.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr *>(&address_), addressLength_);
    return sent == state.size();
}

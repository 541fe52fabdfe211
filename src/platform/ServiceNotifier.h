#pragma once
// Tells the service manager how the service is doing, by datagrams on the socket named in
// NOTIFY_SOCKET ("READY=1", "WATCHDOG=1", "STOPPING=1"). Without that variable, as in a run from
// a shell, every call does nothing. Sending never blocks: a message the socket cannot take at
// once is dropped, and the next watchdog message follows soon enough.
#include <QByteArray>
#include <chrono>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>

class ServiceNotifier {
public:
    // From this process's NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID.
    ServiceNotifier();
    // From the given values of those variables, empty when unset.
    ServiceNotifier(const QByteArray &notifySocket, const QByteArray &watchdogUsec,
                    const QByteArray &watchdogPid);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier &) = delete;
    ServiceNotifier &operator=(const ServiceNotifier &) = delete;

    // A manager listens: NOTIFY_SOCKET names an absolute path or an abstract socket ("@name").
    bool active() const { return fd_ >= 0; }
    // How often the manager wants WATCHDOG=1; empty when it does not watch this process.
    std::optional<std::chrono::microseconds> watchdogInterval() const { return watchdog_; }

    bool ready() const { return send("READY=1"); }
    bool watchdog() const { return send("WATCHDOG=1"); }
    bool stopping() const { return send("STOPPING=1"); }
    // One datagram of "NAME=value" lines. True when the socket took it whole. Thread-safe.
    bool send(const QByteArray &state) const;

private:
    int fd_ = -1;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    std::optional<std::chrono::microseconds> watchdog_;
};

#pragma once
// Whether a request's basic-auth credentials let it in, with the cost of bcrypt bounded. One
// check takes 50-100 ms of a server thread, and a thread serves many connections, so:
// - an outcome is remembered, keyed by a keyed hash of the user and password (a key made at
//   start, so the memory holds no plain hash of a password): a scraper or a page that asks
//   every few seconds costs one check a run. kKeptPasses successes and kKeptFailures failures
//   are kept apart, the oldest going first, so a flood of wrong passwords never pushes a
//   good one out;
// - at most one check runs at a time. A request that needs a check while one runs is told
//   Busy at once (503, Retry-After) rather than holding its thread: a flood takes at most one
//   thread and one core, and the remembered logins keep being served meanwhile.
// The web configuration is fixed for the run, so a remembered outcome never goes stale.
#include "base/WebConfig.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <mutex>
#include <set>

class LoginGate {
public:
    static constexpr std::size_t kKeptPasses = 64;
    static constexpr std::size_t kKeptFailures = 256;

    enum class Verdict { Allowed, Refused, Busy };
    // Whether the password is the user's; CheckWebPassword against the configuration by default.
    using PasswordCheck = std::function<bool(const QString &user, const QByteArray &password)>;

    explicit LoginGate(const WebConfig &config);
    explicit LoginGate(PasswordCheck check);

    // Safe from several threads.
    Verdict check(const QString &user, const QByteArray &password);

private:
    struct Kept {
        std::deque<QByteArray> order; // oldest first
        std::set<QByteArray> keys;
        void add(const QByteArray &key, std::size_t atMost);
    };

    QByteArray keyOf(const QString &user, const QByteArray &password) const;

    PasswordCheck check_;
    QByteArray secret_;
    std::mutex mutex_;
    Kept passes_;
    Kept failures_;
    bool checking_ = false;
};

#include "logger/http/LoginGate.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

LoginGate::LoginGate(const WebConfig &config)
    : LoginGate([config](const QString &user, const QByteArray &password) {
          return CheckWebPassword(config, user, password);
      }) {}

LoginGate::LoginGate(PasswordCheck check) : check_(std::move(check)) {
    secret_.resize(32);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(secret_.data()),
                                         reinterpret_cast<quint32 *>(secret_.data() + 32));
}

void LoginGate::Kept::add(const QByteArray &key, std::size_t atMost) {
    if (!keys.insert(key).second)
        return;
    order.push_back(key);
    while (order.size() > atMost) {
        keys.erase(order.front());
        order.pop_front();
    }
}

QByteArray LoginGate::keyOf(const QString &user, const QByteArray &password) const {
    // The user's name cannot hold a NUL from a header, so the pair reads back one way only.
    return QMessageAuthenticationCode::hash(user.toUtf8() + '\0' + password, secret_,
                                            QCryptographicHash::Sha256);
}

LoginGate::Verdict LoginGate::check(const QString &user, const QByteArray &password) {
    const QByteArray key = keyOf(user, password);
    {
        std::lock_guard lock(mutex_);
        if (passes_.keys.count(key))
            return Verdict::Allowed;
        if (failures_.keys.count(key))
            return Verdict::Refused;
        if (checking_)
            return Verdict::Busy;
        checking_ = true;
    }
    bool allowed = false;
    try {
        allowed = check_(user, password);
    } catch (...) {
        std::lock_guard lock(mutex_);
        checking_ = false;
        throw;
    }
    std::lock_guard lock(mutex_);
    checking_ = false;
    if (allowed)
        passes_.add(key, kKeptPasses);
    else
        failures_.add(key, kKeptFailures);
    return allowed ? Verdict::Allowed : Verdict::Refused;
}

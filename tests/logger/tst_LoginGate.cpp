// The login's gate in front of bcrypt: outcomes remembered, one check at a time.
#include "logger/http/LoginGate.h"

#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using Verdict = LoginGate::Verdict;

class tst_LoginGate : public QObject {
    Q_OBJECT
private slots:
    void remembersEachOutcome();
    void floodOfWrongPasswordsKeepsTheGoodOnes();
    void oneCheckAtATime();
    void realHashes();
};

namespace {

// The password is right when it is "right"; counts the checks.
struct CountingCheck {
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    bool operator()(const QString &user, const QByteArray &password) const {
        ++*calls;
        return user == QLatin1String("anna") && password == "right";
    }
};

} // namespace

void tst_LoginGate::remembersEachOutcome() {
    CountingCheck check;
    LoginGate gate(check);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(gate.check(QStringLiteral("anna"), "right"), Verdict::Allowed);
        QCOMPARE(gate.check(QStringLiteral("anna"), "wrong"), Verdict::Refused);
        QCOMPARE(gate.check(QStringLiteral("bob"), "right"), Verdict::Refused);
    }
    QCOMPARE(check.calls->load(), 3);
    // Neither half of a pair stands for the pair: the name and password are kept apart.
    QCOMPARE(gate.check(QStringLiteral("ann"), "aright"), Verdict::Refused);
    QCOMPARE(gate.check(QStringLiteral("anna"), "righ"), Verdict::Refused);
    QCOMPARE(check.calls->load(), 5);
}

void tst_LoginGate::floodOfWrongPasswordsKeepsTheGoodOnes() {
    CountingCheck check;
    LoginGate gate(check);
    QCOMPARE(gate.check(QStringLiteral("anna"), "right"), Verdict::Allowed);
    for (int i = 0; i < 10 * static_cast<int>(LoginGate::kKeptFailures); ++i)
        QCOMPARE(gate.check(QStringLiteral("anna"), QByteArray::number(i)), Verdict::Refused);
    const int before = check.calls->load();
    QCOMPARE(gate.check(QStringLiteral("anna"), "right"), Verdict::Allowed);
    QCOMPARE(check.calls->load(), before); // still remembered: no new check
    // The failures are kept only up to their number: the oldest is checked again.
    QCOMPARE(gate.check(QStringLiteral("anna"), "0"), Verdict::Refused);
    QCOMPARE(check.calls->load(), before + 1);
}

// While one check runs, another pair is told Busy at once; a remembered one goes on.
void tst_LoginGate::oneCheckAtATime() {
    std::mutex mutex;
    std::condition_variable changed;
    bool checking = false, release = false;
    LoginGate gate([&](const QString &, const QByteArray &password) {
        if (password != "slow")
            return password == "right";
        std::unique_lock lock(mutex);
        checking = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        return true;
    });
    QCOMPARE(gate.check(QStringLiteral("anna"), "right"), Verdict::Allowed);
    QCOMPARE(gate.check(QStringLiteral("anna"), "wrong"), Verdict::Refused);
    Verdict slow = Verdict::Refused;
    std::thread first([&] { slow = gate.check(QStringLiteral("anna"), "slow"); });
    {
        std::unique_lock lock(mutex);
        QVERIFY(changed.wait_for(lock, std::chrono::seconds(30), [&] { return checking; }));
    }
    QCOMPARE(gate.check(QStringLiteral("anna"), "other"), Verdict::Busy);
    QCOMPARE(gate.check(QStringLiteral("bob"), "slow"), Verdict::Busy);
    QCOMPARE(gate.check(QStringLiteral("anna"), "right"), Verdict::Allowed);
    QCOMPARE(gate.check(QStringLiteral("anna"), "wrong"), Verdict::Refused);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    first.join();
    QCOMPARE(slow, Verdict::Allowed);
    QCOMPARE(gate.check(QStringLiteral("anna"), "other"), Verdict::Refused); // free again
}

// Through crypt(3): a hash made by htpasswd -nbBC 4 anna "richtig Pferd".
void tst_LoginGate::realHashes() {
    WebConfig config;
    config.users[QStringLiteral("anna")] =
        "$2y$04$8SVRuSPPekzhMD5g0bK5Ve1kDEonohLqaShEjUO2weAjjQljM49L6";
    LoginGate gate(config);
    QCOMPARE(gate.check(QStringLiteral("anna"), "richtig Pferd"), Verdict::Allowed);
    QCOMPARE(gate.check(QStringLiteral("anna"), "richtig pferd"), Verdict::Refused);
    QCOMPARE(gate.check(QStringLiteral("otto"), "richtig Pferd"), Verdict::Refused);
}

QTEST_APPLESS_MAIN(tst_LoginGate)
#include "tst_LoginGate.moc"

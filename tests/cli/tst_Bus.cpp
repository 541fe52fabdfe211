// The tool's serial line against the simulated chambers: a lost port is named with its device,
// reopened at the configured path looked up anew, and serves again once it is back.
#include "base/Bus.h"
#include "SimulatedLine.h"

#include "core/ModbusRtu.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>

using Outcome = ExchangeResult::Outcome;
using namespace std::chrono_literals;
Q_DECLARE_METATYPE(ExchangeResult::Outcome)

namespace {

QString Reason(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

const auto kRead1 = BuildReadRequest(1, 4, 15);

// Sets an environment variable for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char *name, const QString &value) : name_(name) {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedVariable() { qunsetenv(name_); }
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    const char *name_;
};

} // namespace

class tst_Bus : public QObject {
    Q_OBJECT
private slots:
    void lostPortIsNamedAndReopened_data();
    void lostPortIsNamedAndReopened();
    void reopenLooksThePortUpAgain();
    void noisyLineIsRetriedAndNamed();
};

void tst_Bus::lostPortIsNamedAndReopened_data() {
    QTest::addColumn<bool>("mapped"); // COM1 mapped to the link, or the link given as the port
    QTest::newRow("COM1 mapped to the adapter's link") << true;
    QTest::newRow("the link given as the port") << false;
}

void tst_Bus::lostPortIsNamedAndReopened() {
    QFETCH(bool, mapped);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyADAPTER");
    SimulatedLine line({1}, link);
    const QString port = mapped ? QStringLiteral("COM1") : link;
    ScopedVariable mapping("KALVORA_COM1", link);
    Bus bus(CommonOptions{port, 3, 500ms});
    QCOMPARE(bus.portName(), port);
    QCOMPARE(bus.devicePath(), link);
    QCOMPARE(bus.exchange(kRead1).outcome, Outcome::Ok);

    line.vanish(); // the adapter is unplugged: the line hangs up and its link goes
    ExchangeResult result = bus.exchange(kRead1);
    QCOMPARE(result.outcome, Outcome::PortLost);
    QCOMPARE(result.errorNumber, EIO);
    QCOMPARE(bus.outcomeText(result),
             QStringLiteral("port %1 (%2) lost: %3").arg(port, link, Reason(EIO)));
    QCOMPARE(line.received().size(), std::size_t(1)); // no retries on a lost port

    QString reason;
    int errorNumber = 0;
    QVERIFY(!bus.reopen(&reason, &errorNumber));
    QCOMPARE(errorNumber, ENOENT);
    QCOMPARE(reason, Reason(ENOENT));
    QVERIFY(!bus.isOpen());
    result = bus.exchange(kRead1);
    QCOMPARE(result.outcome, Outcome::PortLost);
    QCOMPARE(bus.outcomeText(result),
             QStringLiteral("port %1 (%2) lost: %3").arg(port, link, Reason(ENOENT)));

    line.reappear(); // plugged in again: a new terminal behind the same link
    QVERIFY2(bus.reopen(&reason), qPrintable(reason));
    QVERIFY(bus.isOpen());
    QCOMPARE(bus.exchange(kRead1).outcome, Outcome::Ok);
}

// The mapping is read again at each reopen, so the port follows a changed mapping as a
// /dev/serial/by-id/ link follows its adapter.
void tst_Bus::reopenLooksThePortUpAgain() {
    SimulatedLine first({1});
    SimulatedLine second({2});
    ScopedVariable toFirst("KALVORA_COM1", first.slavePath());
    Bus bus(CommonOptions{QStringLiteral("COM1"), 1, 300ms});
    QCOMPARE(bus.exchange(kRead1).outcome, Outcome::Ok);

    ScopedVariable toSecond("KALVORA_COM1", second.slavePath());
    QVERIFY(bus.reopen());
    QCOMPARE(bus.devicePath(), second.slavePath());
    QCOMPARE(bus.exchange(BuildReadRequest(2, 4, 15)).outcome, Outcome::Ok);
    QCOMPARE(first.bus().requestCount(1), 1);
}

// A line that never falls quiet is a failed try, retried like silence; nothing is sent. A busy
// machine may leave real gaps in the simulator's noise: see tst_LineExchange.
void tst_Bus::noisyLineIsRetriedAndNamed() {
    SimulatedLine line({1});
    Bus bus(CommonOptions{line.slavePath(), 2, 20ms});
    bool stalled = false;
    for (int round = 0; round < 20; ++round) {
        line.clearReceived();
        line.startNoise();
        QTRY_VERIFY_WITH_TIMEOUT(line.noise().bytes >= 20, 10000);
        const auto started = std::chrono::steady_clock::now();
        const ExchangeResult result = bus.exchange(kRead1);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        stalled = stalled || line.noise().longestGap >= LineExchange::kFrameGap;
        line.stopNoise();
        if (result.outcome != Outcome::LineNeverQuiet)
            continue;
        QCOMPARE(bus.outcomeText(result), QStringLiteral("line never quiet"));
        QCOMPARE_GE(elapsed, LineExchange::giveUpAfter(20ms));
        if (line.received().empty()) // both tries waited in vain for a quiet line
            QCOMPARE_GE(elapsed, 2 * LineExchange::giveUpAfter(20ms));
        return;
    }
    if (stalled)
        QSKIP("the machine held the simulator's noise up in every round");
    QFAIL("a line that never paused was never found never quiet");
}

QTEST_GUILESS_MAIN(tst_Bus)
#include "tst_Bus.moc"

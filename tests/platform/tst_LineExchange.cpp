// The line-rate exchange through a pseudo-terminal with the simulated chambers on the other end.
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include "core/ModbusRtu.h"
#include "platform/LineExchange.h"

#include <QtTest>
#include <cerrno>
#include <optional>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using chambersim::ChamberFaults;
using Outcome = ExchangeResult::Outcome;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
Q_DECLARE_METATYPE(chambersim::ChamberFaults)
Q_DECLARE_METATYPE(ExchangeResult::Outcome)

namespace {

// Noise from `from` until `to` (microseconds from the start), one byte every `spacing`.
struct Burst {
    qint64 from;
    qint64 to;
    qint64 spacing;
};
using Bursts = QList<Burst>;

// A line with a clock of its own: noise bytes arrive on a fixed schedule and time passes only
// as the exchange waits, so a stream without gaps is fed exactly and every try's end is known
// to the microsecond.
class ScriptedLine : public LineIo {
public:
    ScriptedLine(const Bursts &bursts, int lostError, int writeError)
        : bursts_(bursts), lostError_(lostError), writeError_(writeError) {}

    Clock::time_point now() const override { return now_; }

    Wait waitForBytes(Clock::time_point deadline, std::vector<std::uint8_t> &bytes,
                      int *errorNumber) override {
        bytes.clear();
        if (lostError_ != 0) {
            *errorNumber = lostError_;
            return Wait::Lost;
        }
        // An exchange that never gives up ends here instead of holding the test for ever.
        if (++waits_ > 10'000'000)
            return Wait::Stop;
        const auto next = nextByteAfter(heardUntil_);
        if (next && *next <= std::max(now_, deadline)) {
            now_ = std::max(now_, *next);
            heardUntil_ = *next;
            bytes.push_back(0xFF);
            return Wait::Bytes;
        }
        now_ = std::max(now_, deadline);
        return Wait::Silence;
    }

    bool write(std::span<const std::uint8_t> frame, int *errorNumber) override {
        if (writeError_ != 0) {
            *errorNumber = writeError_;
            return false;
        }
        written_.assign(frame.begin(), frame.end());
        return true;
    }

    Clock::duration elapsed() const { return now_ - kStart; }
    bool wrote() const { return !written_.empty(); }

private:
    static constexpr Clock::time_point kStart = Clock::time_point{} + std::chrono::hours(1);

    std::optional<Clock::time_point> nextByteAfter(Clock::time_point t) const {
        std::optional<Clock::time_point> next;
        for (const Burst &b : bursts_) {
            const qint64 after = std::chrono::duration_cast<microseconds>(t - kStart).count();
            const qint64 k = after < b.from ? 0 : (after - b.from) / b.spacing + 1;
            const qint64 at = b.from + k * b.spacing;
            if (at < b.to && (!next || kStart + microseconds(at) < *next))
                next = kStart + microseconds(at);
        }
        return next;
    }

    Bursts bursts_;
    int lostError_;
    int writeError_;
    Clock::time_point now_ = kStart;
    Clock::time_point heardUntil_ = kStart - microseconds(1);
    std::vector<std::uint8_t> written_;
    long waits_ = 0;
};

// Fires the stop descriptor after a while: an exchange that never ends by itself ends Stopped.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds after)
        : fd_(::eventfd(0, EFD_CLOEXEC)), thread_([this, after] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, after, [this] { return finished_; })) {
                  const std::uint64_t one = 1;
                  [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
        ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

Q_DECLARE_METATYPE(Burst)

class tst_LineExchange : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data();
    void outcomes();
    void silenceBoundsTheWaitFromBelow();
    void stopEndsTheWait();
    void scriptedLine_data();
    void scriptedLine();
    void realNoiseEndsTheTryAtItsGiveUpTime();
    void hangUpIsPortLost_data();
    void hangUpIsPortLost();
};

void tst_LineExchange::scriptedLine_data() {
    QTest::addColumn<Bursts>("bursts");
    QTest::addColumn<int>("lostError");  // the line reports itself lost with this error
    QTest::addColumn<int>("writeError"); // the request cannot be written for this error
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("errorNumber");
    QTest::addColumn<bool>("written");
    QTest::addColumn<double>("minMs"); // when the try ended, on the line's own clock
    QTest::addColumn<double>("maxMs");

    // A silence time-out of 200 ms: the give-up time is 500 ms. The request of 8 bytes takes
    // 1.392 ms on the line; a frame gap is 1.75 ms.
    constexpr qint64 kForever = 3'600'000'000;
    QTest::newRow("gapless noise: never quiet, nothing sent")
        << Bursts{{0, kForever, 500}} << 0 << 0 << Outcome::LineNeverQuiet << 0 << false << 500.0
        << 501.75;
    QTest::newRow("bytes 1.5 ms apart: still no frame gap")
        << Bursts{{0, kForever, 1500}} << 0 << 0 << Outcome::LineNeverQuiet << 0 << false << 500.0
        << 501.75;
    QTest::newRow("noise until just past the give-up time")
        << Bursts{{0, 500'500, 500}} << 0 << 0 << Outcome::LineNeverQuiet << 0 << false << 500.0
        << 501.75;
    QTest::newRow("noise that stops in time: sent, then silence")
        << Bursts{{0, 300'000, 500}} << 0 << 0 << Outcome::Timeout << 0 << true
        << 299.5 + 1.75 + 1.392 + 200 << 299.5 + 1.75 + 1.392 + 200 + 0.01;
    QTest::newRow("bytes 2 ms apart: sent in a gap, the reply's wait gives up")
        << Bursts{{0, kForever, 2000}} << 0 << 0 << Outcome::Timeout << 0 << true
        << 1.75 + 1.392 + 500 << 1.75 + 1.392 + 500 + 2;
    QTest::newRow("quiet line: sent after a frame gap")
        << Bursts{} << 0 << 0 << Outcome::Timeout << 0 << true << 1.75 + 1.392 + 200
        << 1.75 + 1.392 + 200 + 0.01;
    QTest::newRow("hung up") << Bursts{} << EIO << 0 << Outcome::PortLost << EIO << false << 0.0
                             << 0.0;
    QTest::newRow("write: no such device")
        << Bursts{} << 0 << ENODEV << Outcome::PortLost << ENODEV << false << 1.75 << 1.75;
    QTest::newRow("write: no such device or address")
        << Bursts{} << 0 << ENXIO << Outcome::PortLost << ENXIO << false << 1.75 << 1.75;
    QTest::newRow("write: input/output error")
        << Bursts{} << 0 << EIO << Outcome::PortLost << EIO << false << 1.75 << 1.75;
    QTest::newRow("write: stalled line is no lost port")
        << Bursts{} << 0 << ETIMEDOUT << Outcome::WriteFailed << ETIMEDOUT << false << 1.75 << 1.75;
}

void tst_LineExchange::scriptedLine() {
    QFETCH(Bursts, bursts);
    QFETCH(int, lostError);
    QFETCH(int, writeError);
    QFETCH(Outcome, outcome);
    QFETCH(int, errorNumber);
    QFETCH(bool, written);
    QFETCH(double, minMs);
    QFETCH(double, maxMs);
    ScriptedLine line(bursts, lostError, writeError);
    LineExchange exchange(line);

    const ExchangeResult result = exchange.exchange(BuildReadRequest(1, 4, 15), 200ms);

    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.errorNumber, errorNumber);
    QCOMPARE(line.wrote(), written);
    QCOMPARE_GE(Milliseconds(line.elapsed()), minMs);
    QCOMPARE_LE(Milliseconds(line.elapsed()), maxMs);
}

// The same through a pseudo-terminal, with the simulator putting a byte on the line every
// 0.5 ms. A busy machine may hold the simulator (or the kernel's hand-over between the two sides
// of the terminal) up long enough to leave a real gap, in which a try rightly sends: a round
// without the outcome is run again, with short tries to make a stall less likely. Only a machine
// that kept the pace in every round and never saw the outcome fails.
void tst_LineExchange::realNoiseEndsTheTryAtItsGiveUpTime() {
    SimulatedLine line({1});
    SerialPort port;
    QString reason;
    QVERIFY2(port.open(line.slavePath(), &reason), qPrintable(reason));
    Watchdog watchdog(30s);
    LineExchange exchange(port, watchdog.fd());
    const auto request = BuildReadRequest(1, 4, 15);
    bool shown = false;
    bool stalled = false;
    for (int round = 0; round < 20 && !shown; ++round) {
        line.clearReceived();
        line.startNoise();
        QTRY_VERIFY_WITH_TIMEOUT(line.noise().bytes >= 20, kEventTimeoutMs);
        const auto started = Clock::now();
        const ExchangeResult result = exchange.exchange(request, 50ms);
        const auto elapsed = Clock::now() - started;
        stalled = stalled || line.noise().longestGap >= LineExchange::kFrameGap;
        line.stopNoise();
        QVERIFY2(result.outcome != Outcome::Stopped, "the try did not end by itself");
        if (result.outcome != Outcome::LineNeverQuiet)
            continue;
        QCOMPARE_GE(elapsed, LineExchange::giveUpAfter(50ms));
        QVERIFY(line.received().empty()); // the request was never sent
        shown = true;
    }
    if (!shown && stalled)
        QSKIP("the machine held the simulator's noise up in every round");
    QVERIFY2(shown, "a line that never paused was never found never quiet");
    // Once the noise ends the line serves again.
    std::this_thread::sleep_for(10ms);
    QCOMPARE(exchange.exchange(request, 2s).outcome, Outcome::Ok);
}

void tst_LineExchange::hangUpIsPortLost_data() {
    QTest::addColumn<bool>("duringReply");
    QTest::newRow("hung up before the request") << false;
    QTest::newRow("hung up while the reply is awaited") << true;
}

// The master side closing is what the program meets when an adapter is unplugged: a hang-up,
// then EIO on every read and write.
void tst_LineExchange::hangUpIsPortLost() {
    QFETCH(bool, duringReply);
    SimulatedLine line({1});
    ChamberFaults slow;
    slow.replyDelayMs = 60'000;
    line.setFaults(1, slow);
    SerialPort port;
    QString reason;
    QVERIFY(port.open(line.slavePath(), &reason));
    Watchdog watchdog(30s);
    LineExchange exchange(port, watchdog.fd());
    if (!duringReply)
        line.closeMaster();
    std::thread unplug([&line, duringReply] {
        if (duringReply && line.waitForReceived(1, kEventTimeout))
            line.closeMaster();
    });
    const ExchangeResult result = exchange.exchange(BuildReadRequest(1, 4, 15), 20s);
    unplug.join();
    QCOMPARE(result.outcome, Outcome::PortLost);
    QCOMPARE(result.errorNumber, EIO);
    // And again at once: a lost port stays lost, without a wait for the time-out.
    QCOMPARE(exchange.exchange(BuildReadRequest(1, 4, 15), 20s).outcome, Outcome::PortLost);
}

void tst_LineExchange::outcomes_data() {
    QTest::addColumn<ChamberFaults>("faults");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<Outcome>("outcome");
    ChamberFaults none;
    QTest::newRow("reply") << none << false << Outcome::Ok;
    QTest::newRow("echo, then reply") << none << true << Outcome::Ok;
    ChamberFaults f = none;
    f.byteByByte = true;
    QTest::newRow("byte by byte") << f << false << Outcome::Ok;
    f = none;
    f.splitGapMs = 30; // a USB adapter's latency between two pieces, well inside the time-out
    QTest::newRow("two pieces") << f << false << Outcome::Ok;
    f = none;
    f.strayByte = true;
    QTest::newRow("stray byte first") << f << false << Outcome::Ok;
    f = none;
    f.breakCrc = true;
    QTest::newRow("bad CRC") << f << false << Outcome::BadCrc;
    f = none;
    f.exceptionReply = true;
    QTest::newRow("exception") << f << false << Outcome::Exception;
}

void tst_LineExchange::outcomes() {
    QFETCH(ChamberFaults, faults);
    QFETCH(bool, echo);
    QFETCH(Outcome, outcome);
    SimulatedLine line({1});
    line.setFaults(1, faults);
    line.setEcho(echo);
    SerialPort port;
    QString reason;
    QVERIFY2(port.open(line.slavePath(), &reason), qPrintable(reason));
    LineExchange exchange(port);
    const auto request = BuildReadRequest(1, 4, 15);
    // Two exchanges in a row: the second must not pick up anything of the first.
    for (int round = 0; round < 2; ++round) {
        const auto started = Clock::now();
        const ExchangeResult result = exchange.exchange(request, 10s);
        QCOMPARE(result.outcome, outcome);
        if (outcome == Outcome::Ok) {
            QCOMPARE(result.reply.size(), std::size_t{35});
            QCOMPARE(FindDecodableReply([&] {
                         ReceiveBuffer b{};
                         std::copy(result.reply.begin(), result.reply.end(), b.begin());
                         return b;
                     }(), 1),
                     0);
            // Ends with its reply, not with the 10 s time-out (a loose bound on purpose).
            QVERIFY(Clock::now() - started < 5s);
        }
        if (outcome == Outcome::Exception)
            QCOMPARE(result.exceptionCode, std::uint8_t{4});
    }
}

void tst_LineExchange::silenceBoundsTheWaitFromBelow() {
    SimulatedLine line({1});
    SerialPort port;
    QString reason;
    QVERIFY(port.open(line.slavePath(), &reason));
    LineExchange exchange(port);
    const auto request = BuildReadRequest(7, 4, 15); // nobody at 7
    const auto started = Clock::now();
    QCOMPARE(exchange.exchange(request, 200ms).outcome, Outcome::Timeout);
    QVERIFY(Clock::now() - started >= 200ms);
    // A late reply (after the time-out) is dropped before the next request goes out.
    ChamberFaults slow;
    slow.replyDelayMs = 150;
    line.setFaults(1, slow);
    const auto read1 = BuildReadRequest(1, 4, 15);
    QCOMPARE(exchange.exchange(read1, 50ms).outcome, Outcome::Timeout);
    line.setFaults(1, ChamberFaults{});
    std::this_thread::sleep_for(50ms);
    const ExchangeResult next = exchange.exchange(BuildReadRequest(1, 4, 3), 500ms);
    QCOMPARE(next.outcome, Outcome::Ok);
    QCOMPARE(next.reply.size(), std::size_t{11});
}

void tst_LineExchange::stopEndsTheWait() {
    SimulatedLine line({1});
    SerialPort port;
    QString reason;
    QVERIFY(port.open(line.slavePath(), &reason));
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    LineExchange exchange(port, stop);
    std::thread stopper([stop] {
        std::this_thread::sleep_for(100ms);
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop, &one, sizeof one);
    });
    const auto request = BuildReadRequest(9, 4, 15);
    QCOMPARE(exchange.exchange(request, 60s).outcome, Outcome::Stopped);
    stopper.join();
    ::close(stop);
}

QTEST_GUILESS_MAIN(tst_LineExchange)
#include "tst_LineExchange.moc"

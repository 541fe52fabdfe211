// The line-rate exchange through a pseudo-terminal with the simulated chambers on the other end.
#include "SimulatedLine.h"

#include "core/ModbusRtu.h"
#include "platform/LineExchange.h"

#include <QtTest>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using chambersim::ChamberFaults;
using Outcome = ExchangeResult::Outcome;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
Q_DECLARE_METATYPE(chambersim::ChamberFaults)
Q_DECLARE_METATYPE(ExchangeResult::Outcome)

class tst_LineExchange : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data();
    void outcomes();
    void silenceBoundsTheWaitFromBelow();
    void stopEndsTheWait();
};

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

// What a newer request of a shared link's client does to the ones still waiting for the bus.
#include "core/ClientRequestQueue.h"

#include <QtTest>

using Clock = ClientRequestQueue::Clock;
using Added = ClientRequestQueue::Added;

namespace {

// "R1" is a read, "W1" a write; the number tells requests of one kind apart.
std::vector<std::uint8_t> Frame(const QString &name) {
    const auto id = static_cast<std::uint8_t>(name.mid(1).toInt());
    if (name.startsWith(QLatin1Char('R')))
        return {2, 4, 0, 0, 0, id};
    return {2, 16, 0, 13, 0, 1, 2, 0, id};
}

QString Name(const std::vector<std::uint8_t> &frame) {
    return QStringLiteral("%1%2").arg(frame[1] == 4 ? 'R' : 'W').arg(frame.back());
}

QString AddedText(Added added) {
    switch (added) {
    case Added::Queued:
        return QStringLiteral("queued");
    case Added::QueuedReplacingOlder:
        return QStringLiteral("replaced");
    case Added::Overflow:
        return QStringLiteral("overflow");
    }
    return {};
}

} // namespace

class tst_ClientRequestQueue : public QObject {
    Q_OBJECT
private slots:
    void newerRequest_data();
    void newerRequest();
    void stale_data();
    void stale();
};

// Requests added in turn, after `full` distinct writes already waiting: what each addition
// was, and what waits afterwards (the last few, oldest first).
void tst_ClientRequestQueue::newerRequest_data() {
    QTest::addColumn<int>("full");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<QStringList>("waitingTail");
    QTest::newRow("a read, then another read") << 0 << QStringList{"R1", "R2"}
                                               << QStringList{"queued", "replaced"}
                                               << QStringList{"R2"};
    QTest::newRow("a read, then a write") << 0 << QStringList{"R1", "W1"}
                                          << QStringList{"queued", "replaced"}
                                          << QStringList{"W1"};
    QTest::newRow("a write, then the same write") << 0 << QStringList{"W1", "W1"}
                                                  << QStringList{"queued", "replaced"}
                                                  << QStringList{"W1"};
    QTest::newRow("program steps keep their order")
        << 0 << QStringList{"W1", "W2", "W3"} << QStringList{"queued", "queued", "queued"}
        << QStringList{"W1", "W2", "W3"};
    QTest::newRow("a read after a write waits behind it")
        << 0 << QStringList{"W1", "R1", "R2"} << QStringList{"queued", "queued", "replaced"}
        << QStringList{"W1", "R2"};
    QTest::newRow("full: another write is dropped")
        << 32 << QStringList{"W99"} << QStringList{"overflow"} << QStringList{"W31", "W32"};
    QTest::newRow("full: the last write repeated still replaces it")
        << 32 << QStringList{"W32"} << QStringList{"replaced"} << QStringList{"W31", "W32"};
    QTest::newRow("one short of full: one more fits")
        << 31 << QStringList{"W98", "W99"} << QStringList{"queued", "overflow"}
        << QStringList{"W31", "W98"};
}

void tst_ClientRequestQueue::newerRequest() {
    QFETCH(int, full);
    QFETCH(QStringList, added);
    QFETCH(QStringList, verdicts);
    QFETCH(QStringList, waitingTail);
    ClientRequestQueue queue;
    Clock::time_point at{};
    for (int i = 1; i <= full; ++i)
        QCOMPARE(queue.add(Frame(QStringLiteral("W%1").arg(i)), at), Added::Queued);
    QStringList got;
    for (const QString &name : added)
        got << AddedText(queue.add(Frame(name), at += std::chrono::milliseconds(10)));
    QCOMPARE(got, verdicts);
    QVERIFY(queue.size() <= ClientRequestQueue::kMaxWaiting);
    QStringList waiting;
    while (!queue.empty())
        waiting << Name(queue.takeFront().bytes);
    QCOMPARE(waiting.mid(waiting.size() - waitingTail.size()), waitingTail);
}

void tst_ClientRequestQueue::stale_data() {
    QTest::addColumn<int>("dueMs");
    QTest::addColumn<int>("nowMs");
    QTest::addColumn<bool>("stale");
    QTest::newRow("not yet due") << 500 << 0 << false;
    QTest::newRow("due now") << 0 << 0 << false;
    QTest::newRow("waited exactly 2 s") << 0 << 2000 << false;
    QTest::newRow("waited longer") << 0 << 2001 << true;
    QTest::newRow("kept back by a pause, then waited 2 s") << 600 << 2600 << false;
}

void tst_ClientRequestQueue::stale() {
    QFETCH(int, dueMs);
    QFETCH(int, nowMs);
    QFETCH(bool, stale);
    const Clock::time_point start{};
    QCOMPARE(ClientRequestQueue::isStale(start + std::chrono::milliseconds(dueMs),
                                         start + std::chrono::milliseconds(nowMs)),
             stale);
}

QTEST_APPLESS_MAIN(tst_ClientRequestQueue)
#include "tst_ClientRequestQueue.moc"

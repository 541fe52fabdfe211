// When a shared link's request may go on the bus after the client's write.
#include "core/ClientPacing.h"

#include <QtTest>

using namespace std::chrono_literals;
using Clock = ClientPacing::Clock;

namespace {

const Clock::time_point kStart{};

Clock::time_point At(qint64 ms) { return kStart + std::chrono::milliseconds(ms); }

qint64 Ms(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t - kStart).count();
}

} // namespace

class tst_ClientPacing : public QObject {
    Q_OBJECT
private slots:
    void dueAfterOneWrite_data();
    void dueAfterOneWrite();
    void clientWritingAtItsOwnPaceKeepsEveryPauseAndStaysClose();
};

// One write (written, sent) and the next request: when it may go.
void tst_ClientPacing::dueAfterOneWrite_data() {
    QTest::addColumn<qint64>("writtenAt");
    QTest::addColumn<qint64>("sentAt");
    QTest::addColumn<qint64>("nextAt");
    QTest::addColumn<qint64>("due");
    QTest::newRow("write sent at once: the pause and the margin") << 0LL << 0LL << 500LL << 550LL;
    QTest::newRow("write held 120 ms: the pause kept from its start")
        << 0LL << 120LL << 500LL << 670LL;
    QTest::newRow("held 180 ms: the margin up to a lag of 200 ms")
        << 0LL << 180LL << 500LL << 700LL;
    QTest::newRow("held 198 ms: never less than the least margin")
        << 0LL << 198LL << 500LL << 703LL;
    QTest::newRow("held 300 ms: the pause, the least margin") << 0LL << 300LL << 500LL << 805LL;
    QTest::newRow("a long pause already kept: at once") << 0LL << 100LL << 10000LL << 10000LL;
    QTest::newRow("long pause, longer wait: at most 2 s kept") << 0LL << 3000LL << 2500LL << 5005LL;
}

void tst_ClientPacing::dueAfterOneWrite() {
    QFETCH(qint64, writtenAt);
    QFETCH(qint64, sentAt);
    QFETCH(qint64, nextAt);
    QFETCH(qint64, due);
    ClientPacing pacing;
    QCOMPARE(Ms(pacing.dueFor(At(writtenAt))), writtenAt); // nothing to keep before a write
    pacing.wrote(At(writtenAt), At(sentAt));
    QCOMPARE(Ms(pacing.dueFor(At(nextAt))), due);
}

// The window's program: fifteen steps written 500 ms apart, no reply awaited. The first waits
// 300 ms for the bus (a silent chamber's try), a later one 100 ms more. Every step keeps its
// pause on the bus, and none is still waiting when the client writes the next.
void tst_ClientPacing::clientWritingAtItsOwnPaceKeepsEveryPauseAndStaysClose() {
    ClientPacing pacing;
    qint64 lastSent = -1;
    for (int step = 0; step < 15; ++step) {
        const qint64 written = 500LL * step;
        qint64 sent = Ms(pacing.dueFor(At(written)));
        if (step == 0)
            sent += 300;
        if (step == 7)
            sent += 100;
        if (lastSent >= 0)
            QVERIFY2(sent - lastSent >= 500, qPrintable(QString::number(step)));
        QVERIFY2(sent < written + 500,
                 qPrintable(QStringLiteral("step %1 sent at %2").arg(step + 1).arg(sent)));
        pacing.wrote(At(written), At(sent));
        lastSent = sent;
    }
}

QTEST_APPLESS_MAIN(tst_ClientPacing)
#include "tst_ClientPacing.moc"

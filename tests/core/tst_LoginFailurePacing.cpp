// Which failed logins get a line in the events journal.
#include "core/LoginFailurePacing.h"

#include <QtTest>

using Clock = LoginFailurePacing::Clock;

namespace {

Clock::time_point At(qint64 seconds) { return Clock::time_point{} + std::chrono::seconds(seconds); }

} // namespace

class tst_LoginFailurePacing : public QObject {
    Q_OBJECT
private slots:
    void onePeer_data();
    void onePeer();
    void peersAreApart();
    void manyPeersAtOnceAreBounded();
    void forgottenPeersAreCountedOverall();
};

// Failures of one peer at the given seconds: which are journaled, and with how many left out.
void tst_LoginFailurePacing::onePeer_data() {
    QTest::addColumn<QList<qint64>>("seconds");
    QTest::addColumn<QList<int>>("journaled"); // -1: left out; otherwise the left-out count
    QTest::newRow("the first at once") << QList<qint64>{5} << QList<int>{0};
    QTest::newRow("a flood within the minute: one line")
        << QList<qint64>{0, 0, 1, 30, 59} << QList<int>{0, -1, -1, -1, -1};
    QTest::newRow("after the minute: a line with the count left out")
        << QList<qint64>{0, 1, 2, 60, 61} << QList<int>{0, -1, -1, 2, -1};
    QTest::newRow("the minute counts from the last line, not the last failure")
        << QList<qint64>{0, 50, 100, 119, 159, 160} << QList<int>{0, -1, 1, -1, -1, 2};
    QTest::newRow("hours apart: each journaled, nothing left out")
        << QList<qint64>{0, 3600, 7200} << QList<int>{0, 0, 0};
}

void tst_LoginFailurePacing::onePeer() {
    QFETCH(QList<qint64>, seconds);
    QFETCH(QList<int>, journaled);
    LoginFailurePacing pacing;
    for (qsizetype i = 0; i < seconds.size(); ++i) {
        const auto verdict = pacing.failed("192.0.2.7", At(seconds[i]));
        QCOMPARE(verdict.journal, journaled[i] >= 0);
        if (verdict.journal)
            QCOMPARE(verdict.leftOut, static_cast<std::uint64_t>(journaled[i]));
    }
}

void tst_LoginFailurePacing::peersAreApart() {
    LoginFailurePacing pacing;
    QVERIFY(pacing.failed("192.0.2.1", At(0)).journal);
    QVERIFY(pacing.failed("192.0.2.2", At(1)).journal); // another peer is not held back
    QVERIFY(!pacing.failed("192.0.2.1", At(2)).journal);
    const auto second = pacing.failed("192.0.2.2", At(61));
    QVERIFY(second.journal);
    QCOMPARE(second.leftOut, 0u); // the first peer's failure is its own
    QCOMPARE(pacing.failed("192.0.2.1", At(62)).leftOut, 1u);
}

// Thousands of addresses in a minute, as a flood from a network would be: at most the overall
// number of lines in any minute, and every failure counted in a later line.
void tst_LoginFailurePacing::manyPeersAtOnceAreBounded() {
    LoginFailurePacing pacing;
    int lines = 0;
    for (int i = 0; i < 5000; ++i)
        lines += pacing.failed("2001:db8::" + std::to_string(i), At(i / 100)).journal;
    QCOMPARE(lines, LoginFailurePacing::kLinesPerQuietTime);
    std::uint64_t counted = 0;
    int later = 0;
    for (int i = 0; i < 5000; ++i) {
        const auto verdict = pacing.failed("2001:db8::" + std::to_string(i), At(200 + i / 100));
        later += verdict.journal;
        counted += verdict.leftOut;
    }
    QVERIFY(later <= 2 * LoginFailurePacing::kLinesPerQuietTime);
    QVERIFY2(counted >= 5000 - LoginFailurePacing::kLinesPerQuietTime,
             qPrintable(QString::number(counted)));
}

// Past kPeersKept, quiet peers are forgotten; what they left out goes with a later line, once.
void tst_LoginFailurePacing::forgottenPeersAreCountedOverall() {
    LoginFailurePacing pacing;
    QVERIFY(pacing.failed("a", At(0)).journal);
    QVERIFY(!pacing.failed("a", At(1)).journal); // one left out, held with "a"
    std::uint64_t counted = 0;
    for (std::size_t i = 0; i < 2 * LoginFailurePacing::kPeersKept; ++i) {
        // Twenty new peers a minute: each one journaled, none left out of its own.
        const auto minute = static_cast<qint64>(i) / LoginFailurePacing::kLinesPerQuietTime;
        const auto verdict = pacing.failed("p" + std::to_string(i), At(61 * (1 + minute)));
        QVERIFY(verdict.journal);
        counted += verdict.leftOut;
    }
    QCOMPARE(counted, 1u);
}

QTEST_APPLESS_MAIN(tst_LoginFailurePacing)
#include "tst_LoginFailurePacing.moc"

// When a shared link's client may have the bus without the logger's round missing its period.
#include "core/LoggerRoundsFirst.h"

#include <QtTest>

using Clock = LoggerRoundsFirst::Clock;
using std::chrono::milliseconds;

namespace {

const Clock::time_point kStart{};

Clock::time_point At(qint64 ms) { return kStart + milliseconds(ms); }

} // namespace

class tst_LoggerRoundsFirst : public QObject {
    Q_OBJECT
private slots:
    void clientMayGo_data();
    void clientMayGo();
    void expectedRoundIsTheLongestOfTheLastMinute();
};

// Rounds of the logger a second apart, each taking its own time (no client in them). Then,
// in the round under way or after the last one: may a client's exchange of `longest` start
// `atMs` after that round's start?
void tst_LoggerRoundsFirst::clientMayGo_data() {
    QTest::addColumn<QList<int>>("rounds");
    QTest::addColumn<bool>("inRound");
    QTest::addColumn<int>("clientsMs"); // clients' time in the round under way
    QTest::addColumn<int>("atMs");
    QTest::addColumn<int>("longestMs");
    QTest::addColumn<bool>("mayGo");
    const QList<int> quick{60, 50, 60};
    QTest::newRow("before the first round") << QList<int>{} << false << 0 << 0 << 300 << false;
    QTest::newRow("in the first round: nothing known of it yet")
        << QList<int>{} << true << 0 << 10 << 300 << false;
    QTest::newRow("between rounds, ends in time") << quick << false << 0 << 500 << 300 << true;
    QTest::newRow("between rounds, ends as the next is due")
        << quick << false << 0 << 700 << 300 << true;
    QTest::newRow("between rounds, would delay the next")
        << quick << false << 0 << 701 << 300 << false;
    QTest::newRow("in a round, room for it and the rest")
        << quick << true << 0 << 20 << 300 << true;
    QTest::newRow("in a round, the rest just fits after it")
        << quick << true << 600 << 640 << 300 << true; // 640 + 300 + (60 - 40) = 960
    QTest::newRow("in a round, the rest would miss the period")
        << quick << true << 600 << 650 << 345 << false; // 650 + 345 + (60 - 50) = 1005
    QTest::newRow("a round with a silent chamber leaves less room")
        << QList<int>{60, 950, 60} << true << 0 << 20 << 100 << false;
    QTest::newRow("a round longer than expected: only the exchange must fit")
        << quick << true << 0 << 200 << 300 << true;
    QTest::newRow("a short request fits where a long one does not")
        << quick << true << 0 << 900 << 30 << true;
}

void tst_LoggerRoundsFirst::clientMayGo() {
    QFETCH(QList<int>, rounds);
    QFETCH(bool, inRound);
    QFETCH(int, clientsMs);
    QFETCH(int, atMs);
    QFETCH(int, longestMs);
    QFETCH(bool, mayGo);
    LoggerRoundsFirst rule;
    qint64 period = 0; // the start of the round under way, or of the last one
    for (int i = 0; i < rounds.size(); ++i) {
        period = 1000LL * i;
        rule.roundStarted(At(period), At(period + 1000));
        rule.roundEnded(At(period + rounds[i]), At(period + 1000));
    }
    if (inRound) {
        period = 1000LL * rounds.size();
        rule.roundStarted(At(period), At(period + 1000));
        rule.clientExchanged(milliseconds(clientsMs));
    }
    QCOMPARE(rule.clientMayGo(At(period + atMs), milliseconds(longestMs)), mayGo);
}

// A silent chamber is asked once a minute or so: its round is remembered that long.
void tst_LoggerRoundsFirst::expectedRoundIsTheLongestOfTheLastMinute() {
    LoggerRoundsFirst rule;
    QVERIFY(!rule.expectedRound());
    const auto round = [&rule](qint64 second, qint64 ownMs, qint64 clientsMs) {
        rule.roundStarted(At(second * 1000), At(second * 1000 + 1000));
        rule.clientExchanged(milliseconds(clientsMs));
        rule.roundEnded(At(second * 1000 + ownMs + clientsMs), At(second * 1000 + 1000));
    };
    round(0, 700, 0);
    for (qint64 s = 1; s <= 60; ++s)
        round(s, 40, 300); // the clients' time is not the logger's
    QCOMPARE(*rule.expectedRound(), Clock::duration(milliseconds(700)));
    round(61, 40, 0);
    QCOMPARE(*rule.expectedRound(), Clock::duration(milliseconds(40)));
}

QTEST_APPLESS_MAIN(tst_LoggerRoundsFirst)
#include "tst_LoggerRoundsFirst.moc"

// The rounds in which the logger asks a chamber that stopped answering.
#include "core/SilentChamberBackoff.h"

#include <QtTest>

class tst_SilentChamberBackoff : public QObject {
    Q_OBJECT
private slots:
    void askedRounds_data();
    void askedRounds();
};

void tst_SilentChamberBackoff::askedRounds_data() {
    QTest::addColumn<long>("maxInterval");
    QTest::addColumn<long>("answersFrom"); // the round from which it answers; -1: never
    QTest::addColumn<QList<long>>("asked"); // the rounds 0..40 in which it was asked
    QTest::newRow("answering: every round")
        << 15L << 0L << QList<long>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                    14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                                    28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40};
    QTest::newRow("silent: three rounds, then every 2nd, 4th, 8th, at most 15th")
        << 15L << -1L << QList<long>{0, 1, 2, 4, 8, 16, 31};
    QTest::newRow("a minute of rounds is one round: asked every round")
        << 1L << -1L << QList<long>{0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                    14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27,
                                    28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40};
    QTest::newRow("back at round 10: asked at 16, then every round again")
        << 15L << 10L << QList<long>{0,  1,  2,  4,  8,  16, 17, 18, 19, 20, 21, 22, 23, 24,
                                     25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,
                                     39, 40};
}

void tst_SilentChamberBackoff::askedRounds() {
    QFETCH(long, maxInterval);
    QFETCH(long, answersFrom);
    QFETCH(QList<long>, asked);
    SilentChamberBackoff backoff(maxInterval);
    QList<long> rounds;
    for (long round = 0; round <= 40; ++round) {
        if (!backoff.due(round))
            continue;
        rounds << round;
        if (answersFrom >= 0 && round >= answersFrom)
            backoff.answered(round);
        else
            backoff.missed(round);
    }
    QCOMPARE(rounds, asked);
}

QTEST_GUILESS_MAIN(tst_SilentChamberBackoff)
#include "tst_SilentChamberBackoff.moc"

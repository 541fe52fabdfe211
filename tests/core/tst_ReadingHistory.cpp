// The overview's history: full resolution for an hour, a point a minute for the day before,
// outages as single empty points, its bounds, and its filling from readings CSV rows.
#include "core/ReadingHistory.h"

#include <QtTest>
#include <set>

namespace {

constexpr qint64 kStart = 1'796'900'400'000; // a whole hour, ms since the epoch
constexpr qint64 kSecond = 1000;
constexpr qint64 kHour = 3600 * kSecond;

HistoryPoint At(qint64 t, double temperature) {
    HistoryPoint p;
    p.t = t;
    p.currentTemperature = temperature;
    p.setTemperature = 80;
    p.program = 3;
    p.step = 2;
    p.cycle = 1;
    return p;
}

// "R12" a reading at second 12 (its temperature the second), "G15" an outage's start.
void Play(ReadingHistory &history, const QString &events) {
    for (const QString &e : events.split(' ', Qt::SkipEmptyParts)) {
        const qint64 t = kStart + e.mid(1).toLongLong() * kSecond;
        if (e.startsWith('R'))
            history.addReading(1, At(t, e.mid(1).toDouble()));
        else
            history.addGap(1, t);
    }
}

QString Shown(const std::vector<HistoryPoint> &points) {
    QStringList out;
    for (const HistoryPoint &p : points) {
        const QString second = QString::number((p.t - kStart) / kSecond);
        if (p.gap) {
            out << 'G' + second;
            if (p.currentTemperature || p.program)
                out << "<gap with values>";
        } else {
            out << 'R' + second;
            if (p.currentTemperature != (p.t - kStart) / kSecond)
                out << "<wrong temperature>";
        }
    }
    return out.join(' ');
}

Reading Row(qint64 t, std::optional<double> temperature) {
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(t, Qt::OffsetFromUTC, 3600);
    Reading r;
    r.date = moment.date();
    r.time = moment.time();
    r.utcOffsetSeconds = 3600;
    r.temperature = temperature;
    r.setTemperature = 40;
    r.program = 2;
    r.step = 1;
    r.cycle = 4;
    return r;
}

} // namespace

class tst_ReadingHistory : public QObject {
    Q_OBJECT
private slots:
    void outages_data();
    void outages();
    void resolutionChangesAfterAnHour_data();
    void resolutionChangesAfterAnHour();
    void keepsADayAndNoMore();
    void clockSetBackLosesNoPoint();
    void boundedWhateverTheRate();
    void fillsFromCsvRows();
};

void tst_ReadingHistory::outages_data() {
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("kept");
    QTest::newRow("readings") << "R1 R2 R3"
                              << "R1 R2 R3";
    QTest::newRow("one point an outage") << "R1 G2 G3 G4 R5"
                                         << "R1 G2 R5";
    QTest::newRow("nothing to break before the first reading") << "G1 R2"
                                                               << "R2";
    QTest::newRow("outage at the end") << "R1 G2"
                                       << "R1 G2";
    // An hour and more ago: a point a minute, the outage's start beside the minute's reading.
    QTest::newRow("an old minute's last reading") << "R0 R10 R59 R61 R7200"
                                                  << "R59 R61 R7200";
    QTest::newRow("an old outage stays") << "R0 R10 G20 R70 R7200"
                                         << "R10 G20 R70 R7200";
    QTest::newRow("a flapping old minute keeps two points") << "R0 G5 R10 G15 R20 G25 R30 R7200"
                                                            << "G25 R30 R7200";
}

void tst_ReadingHistory::outages() {
    QFETCH(QString, events);
    QFETCH(QString, kept);
    ReadingHistory history;
    Play(history, events);
    QCOMPARE(Shown(history.points(1, kStart + 7200 * kSecond, 3 * kHour)), kept);
}

// The wall clock steps back 20 s between the readings at 30 s and 35 s (now reading 15 s).
void tst_ReadingHistory::clockSetBackLosesNoPoint() {
    ReadingHistory history;
    for (const int second : {10, 20, 30}) {
        history.addReading(1, At(kStart + second * kSecond, second));
        history.addReading(2, At(kStart + second * kSecond + 500, second));
    }
    history.addReading(1, At(kStart + 15 * kSecond, 35));
    history.addReading(2, At(kStart + 15 * kSecond + 500, 35));
    history.addGap(2, kStart + 16 * kSecond);
    for (const int address : {1, 2}) {
        const std::vector<HistoryPoint> points =
            history.points(address, kStart + 16 * kSecond, kHour);
        QList<double> temperatures;
        QList<qint64> spacing;
        for (std::size_t i = 0; i < points.size(); ++i) {
            temperatures << points[i].currentTemperature.value_or(-1);
            if (i > 0)
                spacing << points[i].t - points[i - 1].t;
        }
        QCOMPARE(points.back().t, kStart + 16 * kSecond - (address == 1 ? kSecond : 0));
        if (address == 1) {
            QCOMPARE(temperatures, (QList<double>{10, 20, 30, 35}));
            QCOMPARE(spacing, (QList<qint64>{10 * kSecond, 10 * kSecond, 0}));
        } else {
            QCOMPARE(temperatures, (QList<double>{10, 20, 30, 35, -1}));
            QCOMPARE(spacing, (QList<qint64>{10 * kSecond, 10 * kSecond, 0, 500}));
        }
    }
}

void tst_ReadingHistory::resolutionChangesAfterAnHour_data() {
    QTest::addColumn<int>("period"); // seconds
    QTest::newRow("1 s") << 1;
    QTest::newRow("4 s") << 4;
    QTest::newRow("7 s") << 7;
    QTest::newRow("2 min") << 120;
}

void tst_ReadingHistory::resolutionChangesAfterAnHour() {
    QFETCH(int, period);
    ReadingHistory history;
    const qint64 step = period * kSecond;
    const qint64 end = kStart + 3 * kHour / step * step; // the last reading
    for (qint64 t = kStart; t <= end; t += step)
        history.addReading(1, At(t, double((t - kStart) / kSecond)));
    const std::vector<HistoryPoint> points = history.points(1, end, 3 * kHour);
    qint64 previousMinute = -1;
    int recent = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const HistoryPoint &p = points[i];
        QVERIFY(!p.gap);
        QVERIFY(i == 0 || p.t > points[i - 1].t);
        if (p.t >= end - kHour) {
            ++recent;
            continue;
        }
        // The minute's last reading: the next reading falls in a later minute.
        const qint64 minute = p.t / 60000;
        QVERIFY(minute > previousMinute);
        previousMinute = minute;
        const qint64 next = p.t + period * kSecond;
        QVERIFY(next >= end - kHour || next / 60000 > minute);
    }
    QCOMPARE(recent, int(kHour / (period * kSecond)) + 1);
    std::set<qint64> minutes;
    for (qint64 t = kStart; t < end - kHour; t += period * kSecond)
        minutes.insert(t / 60000);
    QCOMPARE(points.size() - recent, minutes.size());
    // A shorter span gives the newest points only.
    QCOMPARE(history.points(1, end, 10 * 60 * kSecond).size(), std::size_t(10 * 60 / period + 1));
    QVERIFY(history.points(2, end, kHour).empty());
}

void tst_ReadingHistory::keepsADayAndNoMore() {
    ReadingHistory history;
    const qint64 end = kStart + 30 * kHour;
    for (qint64 t = kStart; t <= end; t += 10 * kSecond)
        history.addReading(1, At(t, 1));
    const std::vector<HistoryPoint> points = history.points(1, end, 48 * kHour);
    QVERIFY(points.front().t >= end - 24 * kHour);
    QVERIFY(points.front().t < end - 24 * kHour + 60 * kSecond);
    QCOMPARE(history.pointCount(), points.size());
    // Time alone expires the points of a chamber that stopped answering.
    history.expire(end + 25 * kHour);
    QCOMPARE(history.pointCount(), std::size_t(0));
}

// A day of 32 chambers read every second: what the overview keeps in memory.
void tst_ReadingHistory::boundedWhateverTheRate() {
    ReadingHistory history(100);
    for (qint64 t = kStart; t < kStart + 10 * 60 * kSecond; t += 100) // ten a second
        history.addReading(1, At(t, 1));
    QVERIFY(history.pointCount() <= 100 + 2 * 10);

    ReadingHistory day;
    const qint64 end = kStart + 24 * kHour;
    for (qint64 t = kStart; t < end; t += kSecond)
        for (int chamber = 1; chamber <= 32; ++chamber)
            day.addReading(chamber, At(t, 1));
    // An hour of every reading and a point a minute for the other 23 hours.
    QVERIFY2(day.pointCount() <= 32 * (3600 + 23 * 60 + 2),
             QByteArray::number(qulonglong(day.pointCount())).constData());
}

void tst_ReadingHistory::fillsFromCsvRows() {
    QList<Reading> rows;
    const qint64 now = kStart + 2 * kHour;
    rows << Row(kStart - 25 * kHour, 5); // older than a day
    for (qint64 t = now - 30 * 60 * kSecond; t < now - 20 * 60 * kSecond; t += 4 * kSecond)
        rows << Row(t, 20);                                           // every 4 s ...
    rows << Row(now - 20 * 60 * kSecond + 4 * kSecond, std::nullopt); // implausible
    rows << Row(now - 10 * 60 * kSecond, 21);                         // ... after a pause
    std::reverse(rows.begin(), rows.end());                           // files come in any order
    ReadingHistory history;
    FillHistory(history, 7, rows, now - 24 * kHour, now, 12 * kSecond);
    const std::vector<HistoryPoint> points = history.points(7, now, 24 * kHour);
    QCOMPARE(points.size(), std::size_t(150 + 3));
    QCOMPARE(points.front().t, now - 30 * 60 * kSecond);
    QCOMPARE(points.front().currentTemperature, 20.0);
    QCOMPARE(points.front().setTemperature, 40.0);
    QCOMPARE(points.front().program, 2u);
    QCOMPARE(points.front().cycle, 4u);
    QVERIFY(points[150].gap); // the implausible row
    QCOMPARE(points[150].t, now - 20 * 60 * kSecond + 4 * kSecond);
    QCOMPARE(points[151].currentTemperature, 21.0);
    QVERIFY(points[152].gap); // nothing since: the logger was not running
    QCOMPARE(points[152].t, now - 10 * 60 * kSecond + 12 * kSecond);
}

QTEST_GUILESS_MAIN(tst_ReadingHistory)
#include "tst_ReadingHistory.moc"

#include "ChartModel.h"
#include "LogFixture.h"

#include <QtTest>

namespace {

// Readings one minute apart from 10:00 on, as "minute:temperature" with "-" for empty.
QList<Reading> Minutes(const QStringList &items) {
    QList<Reading> readings;
    for (const QString &item : items) {
        const QStringList parts = item.split(QLatin1Char(':'));
        Reading reading =
            ReadingAt(QDate(2026, 12, 10), QTime(10, 0).addSecs(60 * parts[0].toInt()));
        if (parts[1] != QStringLiteral("-"))
            reading.temperature = parts[1].toDouble();
        readings.append(reading);
    }
    return readings;
}

QList<qreal> InstantsOf(const QList<Reading> &readings) {
    QList<qreal> instants;
    for (const Reading &reading : readings)
        instants.append(LocalSeconds(reading) * 1000.0);
    return instants;
}

// "0,1,2|10,11": the minutes of each piece.
QString PiecesText(const QList<QList<QPointF>> &pieces, const QList<Reading> &readings) {
    const qreal start = LocalSeconds(readings.first()) * 1000.0;
    QStringList texts;
    for (const auto &piece : pieces) {
        QStringList minutes;
        for (const QPointF &point : piece)
            minutes.append(QString::number((point.x() - start) / 60000));
        texts.append(minutes.join(QLatin1Char(',')));
    }
    return texts.join(QLatin1Char('|'));
}

} // namespace

class tst_ChartModel : public QObject {
    Q_OBJECT

private slots:
    void pieces_data() {
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<QString>("pieces");
        QTest::newRow("one run") << QStringList{"0:20", "1:21", "2:22"} << "0,1,2";
        QTest::newRow("two periods apart still joined")
            << QStringList{"0:20", "1:21", "2:22", "4:22", "5:22"} << "0,1,2,4,5";
        QTest::newRow("silent chamber: gap of three periods")
            << QStringList{"0:20", "1:21", "2:22", "5:22", "6:22"} << "0,1,2|5,6";
        QTest::newRow("empty figure breaks the line")
            << QStringList{"0:20", "1:21", "2:-", "3:22", "4:22"} << "0,1|3,4";
        QTest::newRow("lone reading between gaps")
            << QStringList{"0:20", "1:20", "9:20", "20:20", "21:20"} << "0,1|9|20,21";
        QTest::newRow("nothing to draw") << QStringList{"0:-", "1:-"} << "";
    }
    void pieces() {
        QFETCH(QStringList, readings);
        QFETCH(QString, pieces);
        const QList<Reading> parsed = Minutes(readings);
        QCOMPARE(PiecesText(LinePieces(parsed, InstantsOf(parsed), &Reading::temperature,
                                       GapSeconds(parsed)),
                            parsed),
                 pieces);
    }

    // Through BuildChartModel, whose clock takes the offsets the readings carry: a clock change
    // is no gap, a silent weekend is.
    void clockChangesAreNoGaps_data() {
        QTest::addColumn<QStringList>("moments"); // "2026-03-29T01:59:00+01:00"
        QTest::addColumn<QString>("pieces");      // minutes after the first reading
        QTest::newRow("spring forward")
            << QStringList{"2026-03-29T01:58:00+01:00", "2026-03-29T01:59:00+01:00",
                           "2026-03-29T03:00:00+02:00", "2026-03-29T03:01:00+02:00"}
            << "0,1,2,3";
        QTest::newRow("autumn back")
            << QStringList{"2026-10-25T02:58:00+02:00", "2026-10-25T02:59:00+02:00",
                           "2026-10-25T02:00:00+01:00", "2026-10-25T02:01:00+01:00"}
            << "0,1,2,3";
        QTest::newRow("weekend outage")
            << QStringList{"2026-12-11T17:59:00+01:00", "2026-12-11T18:00:00+01:00",
                           "2026-12-14T08:00:00+01:00", "2026-12-14T08:01:00+01:00"}
            << "0,1|3721,3722";
    }
    void clockChangesAreNoGaps() {
        QFETCH(QStringList, moments);
        QFETCH(QString, pieces);
        QList<Reading> readings;
        for (const QString &moment : moments) {
            const QDateTime parsed = QDateTime::fromString(moment, Qt::ISODate);
            Reading reading = ReadingAt(parsed.date(), parsed.time());
            reading.utcOffsetSeconds = parsed.offsetFromUtc();
            reading.temperature = 20;
            readings.append(reading);
        }
        LocalClock clock;
        const ChartModel model =
            BuildChartModel({{3, ChamberLabel(3), readings, false}}, QStringLiteral("t"), clock);
        QStringList texts;
        for (const auto &piece : model.chambers.first().current.pieces) {
            QStringList minutes;
            for (const QPointF &point : piece)
                minutes.append(QString::number((point.x() - model.xMin) / 60000));
            texts.append(minutes.join(QLatin1Char(',')));
        }
        QCOMPARE(texts.join(QLatin1Char('|')), pieces);
    }

    // The readings CSV of the command-line tool comes every 4 s: its gaps are its own.
    void gapFollowsTheFilesPeriod() {
        QList<Reading> readings;
        for (const int second : {0, 4, 8, 12, 40, 44})
            readings.append(ReadingAt(QDate(2026, 12, 10), QTime(10, 0).addSecs(second)));
        QCOMPARE(GapSeconds(readings), 8);
        QCOMPARE(GapSeconds(readings.mid(0, 1)), 120);
    }

    void marksWhereProgramStepOrCycleChange() {
        QList<Reading> readings = Minutes({"0:20", "1:20", "2:20", "3:20", "4:20", "5:20"});
        const int states[6][5] = {{2, 1, 12, 1, 5}, {2, 1, 12, 1, 5}, {2, 2, 12, 1, 5},
                                  {2, 1, 12, 2, 5}, {3, 1, 4, 1, 1},  {3, 1, 4, 1, 1}};
        for (int i = 0; i < 6; ++i) {
            readings[i].program = states[i][0];
            readings[i].step = states[i][1];
            readings[i].steps = states[i][2];
            readings[i].cycle = states[i][3];
            readings[i].cycles = states[i][4];
        }
        QStringList texts;
        for (const ChangeMark &mark : ChangeMarks(readings, InstantsOf(readings)))
            texts.append(QString::number((mark.x - InstantsOf(readings).first()) / 60000) +
                         QLatin1Char(' ') + mark.text);
        QCOMPARE(texts,
                 (QStringList{"0 программа 2, шаг 1(12), цикл 1(5)", "2 шаг 2(12)",
                              "3 шаг 1(12), цикл 2(5)", "4 программа 3, шаг 1(4), цикл 1(1)"}));
    }

    void titleAndPointerText() {
        ChamberReadings chamber{3, ChamberLabel(3), Minutes({"0:23.5", "90:-40"}), false};
        chamber.readings[0].step = 3;
        chamber.readings[0].steps = 12;
        const RegionalSettings settings; // day.month.year, comma
        QCOMPARE(DefaultTitle({chamber}, settings),
                 QStringLiteral("Камера №3, 10.12.2026 10:00:00 – 10.12.2026 11:30:00"));
        QCOMPARE(ReadingText(chamber.readings[0], settings),
                 QStringLiteral("10.12.2026 10:00:00  23,5 °C  шаг 3(12)"));
    }

    void chambersTakeTheirOwnColours() {
        LocalClock clock;
        const QList<ChamberReadings> chambers = {
            {1, ChamberLabel(1), Minutes({"0:20", "1:21"}), true},
            {2, ChamberLabel(2), Minutes({"0:30", "1:31"}), false}};
        const ChartModel model = BuildChartModel(chambers, QStringLiteral("t"), clock);
        QCOMPARE(model.chambers.size(), 2);
        QCOMPARE(model.chambers[0].current.colour, kCurrentTemperatureColour);
        QVERIFY(model.chambers[0].set);
        QCOMPARE(model.chambers[0].set->colour, kSetTemperatureColour);
        QCOMPARE(model.chambers[0].set->label, QStringLiteral("Камера №1: заданная температура"));
        QVERIFY(model.chambers[1].current.colour != kCurrentTemperatureColour);
        QVERIFY(!model.chambers[1].set);
        QCOMPARE(model.yMin, 20.0);
        QCOMPARE(model.yMax, 31.0);
    }
};

QTEST_GUILESS_MAIN(tst_ChartModel)
#include "tst_ChartModel.moc"

#include "AxisFormat.h"
#include "ChartBuilder.h"
#include "ChartExport.h"
#include "LogFixture.h"

#include <QtTest>

Q_DECLARE_METATYPE(ChamberReadings)

namespace {

// Two hours of readings a minute apart at a steady temperature; the set temperature (when
// given) lies 20 °C above, so each colour's line is flat and its core pixels exact.
ChamberReadings Steady(bool withSetTemperature) {
    ChamberReadings chamber{3, ChamberLabel(3), {}, withSetTemperature};
    for (int minute = 0; minute < 120; ++minute) {
        Reading reading = ReadingAt(QDate(2026, 12, 10), QTime(10, 0).addSecs(60 * minute));
        reading.temperature = minute < 60 ? 20.0 : 25.0;
        if (withSetTemperature)
            reading.setTemperature = 45.0;
        reading.program = 1;
        reading.step = minute / 30 + 1;
        reading.steps = 4;
        reading.cycle = 1;
        reading.cycles = 1;
        chamber.readings.append(reading);
    }
    return chamber;
}

int PixelsOf(const QImage &image, const QColor &colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == colour.rgb();
    return count;
}

QString Render(const ChamberReadings &chamber, const QString &path, const QSize &size) {
    LocalClock clock;
    const ChartModel model = BuildChartModel({chamber}, QStringLiteral("Испытание"), clock);
    std::unique_ptr<QChart> chart(BuildChart(model, RegionalSettings{}, size));
    return ExportChart(chart.get(), path, size);
}

// Readings every `step` seconds over `seconds` from 10.12.2026 at `start`.
ChamberReadings Span(const QTime &start, int seconds, int step) {
    ChamberReadings chamber{1, ChamberLabel(1), {}, false};
    const QDateTime first(QDate(2026, 12, 10), start);
    for (int at = 0; at <= seconds; at += step) {
        const QDateTime moment = first.addSecs(at);
        Reading reading = ReadingAt(moment.date(), moment.time());
        reading.temperature = 20.0 + at % 7;
        chamber.readings.append(reading);
    }
    return chamber;
}

// The labels of the time axis as the SVG draws them: texts that read as a time.
QStringList TimeLabels(const QString &svg) {
    static const QRegularExpression text(QStringLiteral(">([^<>]*)</text>"));
    static const QRegularExpression time(
        QStringLiteral("^(\\d\\d\\.\\d\\d\\.\\d{4} )?\\d\\d:\\d\\d(:\\d\\d(\\.\\d{3})?)?$"));
    QStringList labels;
    for (auto it = text.globalMatch(svg); it.hasNext();) {
        const QString label = it.next().captured(1).trimmed();
        if (time.match(label).hasMatch())
            labels.append(label);
    }
    return labels;
}

} // namespace

class tst_ChartExport : public QObject {
    Q_OBJECT

private slots:
    void pngHasTheSizeAndTheSeriesColours_data() {
        QTest::addColumn<bool>("withSetTemperature");
        QTest::addColumn<QSize>("size");
        QTest::newRow("log: current temperature only") << false << QSize(800, 500);
        QTest::newRow("readings CSV: set temperature too") << true << QSize(1600, 900);
    }
    void pngHasTheSizeAndTheSeriesColours() {
        QFETCH(bool, withSetTemperature);
        QFETCH(QSize, size);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("chart.png"));
        QCOMPARE(Render(Steady(withSetTemperature), path, size), QString());
        const QImage image(path);
        QCOMPARE(image.size(), size);
        // Two flat stretches across most of the plot width, two pixels thick.
        QVERIFY2(PixelsOf(image, kCurrentTemperatureColour) > size.width() / 2,
                 qPrintable(QString::number(PixelsOf(image, kCurrentTemperatureColour))));
        const int red = PixelsOf(image, kSetTemperatureColour);
        if (withSetTemperature)
            QVERIFY2(red > size.width() / 2, qPrintable(QString::number(red)));
        else
            QCOMPARE(red, 0);
    }

    void svgHoldsTheSeries() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("chart.svg"));
        QCOMPARE(Render(Steady(true), path, QSize(1000, 600)), QString());
        const QString svg = QString::fromUtf8(ReadAll(path));
        QVERIFY(svg.startsWith(QStringLiteral("<?xml")));
        QVERIFY(svg.contains(QStringLiteral("stroke=\"#008000\"")));
        QVERIFY(svg.contains(QStringLiteral("stroke=\"#ff0000\"")));
        for (const QString &text :
             {QStringLiteral("Камера №3"), QStringLiteral("Испытание"),
              QStringLiteral("Системное время"), QStringLiteral("Текущая температура"),
              QStringLiteral("шаг 2(4)")})
            QVERIFY2(svg.contains(text), qPrintable(text));
    }

    // No two labels of the time axis read alike, over spans short and long, at the report's
    // chart width and at the command's default; the time alone is kept where it suffices.
    void timeAxisLabelsDiffer_data() {
        QTest::addColumn<ChamberReadings>("chamber");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("sample"); // how the labels read
        QTest::newRow("3 minutes, the report's width")
            << Span(QTime(14, 5, 33), 150, 10) << 960 << "^\\d\\d:\\d\\d$";
        QTest::newRow("3 minutes, wide")
            << Span(QTime(14, 5, 33), 150, 10) << 1600 << "^\\d\\d:\\d\\d(:\\d\\d)?$";
        QTest::newRow("40 seconds")
            << Span(QTime(14, 5, 33), 40, 2) << 960 << "^\\d\\d:\\d\\d:\\d\\d$";
        QTest::newRow("two hours") << Span(QTime(10, 0), 7200, 60) << 960 << "^\\d\\d:\\d\\d$";
        QTest::newRow("a day, midnight to midnight")
            << Span(QTime(0, 0), 86400, 600) << 960 << "^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d$";
        QTest::newRow("three days") << Span(QTime(9, 0), 3 * 86400, 1800) << 960
                                    << "^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d$";
    }
    void timeAxisLabelsDiffer() {
        QFETCH(ChamberReadings, chamber);
        QFETCH(int, width);
        QFETCH(QString, sample);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("chart.svg"));
        QCOMPARE(Render(chamber, path, QSize(width, 500)), QString());
        const QStringList labels = TimeLabels(QString::fromUtf8(ReadAll(path)));
        QVERIFY2(labels.size() >= 3, qPrintable(labels.join(QLatin1Char(' '))));
        QCOMPARE(QSet<QString>(labels.begin(), labels.end()).size(), labels.size());
        const QRegularExpression pattern(sample);
        for (const QString &label : labels)
            QVERIFY2(pattern.match(label).hasMatch(), qPrintable(labels.join(QLatin1Char(' '))));
    }

    // The rule itself, on labels of a fixed clock: the time alone while it tells the ticks
    // apart with at least half of them, then the date, then the seconds.
    void timeAxisLayout_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("mostTicks");
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("ticks");
        QTest::newRow("2 h 30 min, 6 ticks") << 9000 << 6 << "HH:mm" << 6;
        QTest::newRow("150 s: fewer ticks") << 150 << 6 << "HH:mm" << 4;
        QTest::newRow("60 s: seconds") << 60 << 6 << "HH:mm:ss" << 6;
        QTest::newRow("24 h: the date") << 86400 << 6 << "dd.MM.yyyy HH:mm" << 6;
        QTest::newRow("3 days") << 3 * 86400 << 9 << "dd.MM.yyyy HH:mm" << 9;
        QTest::newRow("2 s") << 2 << 6 << "HH:mm:ss" << 3;
        QTest::newRow("50 ms") << 0 << 6 << "HH:mm:ss.zzz" << 6;
    }
    void timeAxisLayout() {
        QFETCH(int, seconds);
        QFETCH(int, mostTicks);
        const qreal from =
            QDateTime(QDate(2026, 12, 10), QTime(14, 5, 33), Qt::UTC).toMSecsSinceEpoch();
        const qreal to = seconds > 0 ? from + seconds * 1000.0 : from + 50;
        const auto utc = [](qint64 msecs, const QString &format) {
            return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(format);
        };
        const TimeAxisLayout layout = FitTimeAxis(from, to, mostTicks, QStringLiteral("%d.%m.%Y"),
                                                  QStringLiteral("%H:%M:%S"), utc);
        QTEST(QString(layout.format).remove(QLatin1Char('\'')), "format"); // unquoted literals
        QTEST(layout.ticks, "ticks");
    }

    void pdfIsWritten() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("chart.pdf"));
        QCOMPARE(Render(Steady(false), path, QSize(800, 500)), QString());
        QVERIFY(ReadAll(path).startsWith("%PDF"));
    }

    void unwritableFolderIsReported() {
        const QString error =
            Render(Steady(false), QStringLiteral("/nonexistent-folder/chart.png"), QSize(800, 500));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_MAIN(tst_ChartExport)
#include "tst_ChartExport.moc"

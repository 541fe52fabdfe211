#include "ChartBuilder.h"
#include "ChartExport.h"
#include "LogFixture.h"

#include <QtTest>

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

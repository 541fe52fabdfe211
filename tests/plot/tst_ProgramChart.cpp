// The profile chart of a program, checked by its pixels, and `kalvora-plot program` as a process.
#include "ChartExport.h"
#include "LogFixture.h"
#include "ProgramTables.h"
#include "ProgramChart.h"

#include "core/ProgramFile.h"

#include <QProcess>
#include <QtTest>

namespace {

// Pixels of the colour in each column (x) of the picture.
QList<int> ColumnsOf(const QImage &image, const QColor &colour) {
    QList<int> columns(image.width(), 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            columns[x] += image.pixelColor(x, y).rgb() == colour.rgb();
    return columns;
}

// Topmost row of the colour in column x; -1 when none.
int TopOf(const QImage &image, int x, const QColor &colour) {
    for (int y = 0; y < image.height(); ++y)
        if (image.pixelColor(x, y).rgb() == colour.rgb())
            return y;
    return -1;
}

QImage Render(const ProgramInput &program, const QSize &size) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("profile.png"));
    std::unique_ptr<QChart> chart(
        BuildProgramChart(program, QStringLiteral("Испытание"), 2, QDateTime::currentDateTime()));
    if (!ExportChart(chart.get(), path, size).isEmpty())
        return {};
    return QImage(path);
}

struct PlotRun {
    int exitCode;
    QString out, err;
};

PlotRun RunPlot(const QStringList &arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KALVORA_PLOT_PATH), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class tst_ProgramChart : public QObject {
    Q_OBJECT

private slots:
    // Two cycles of a cold hold and a warm hold: the line sits high in the warm holds, low in
    // the cold ones, and one cycle boundary stands in the middle.
    void holdsAndBoundariesAreWhereTheTableSays() {
        // Cycle: ramp 60 min to -40, hold 60; jump to 80, hold 120: 240 min, twice.
        const ProgramInput program =
            Program(2, {StepValues{-40, 1, 0, 1, 0}, StepValues{80, 2, 0, 0, 0}});
        const QImage image = Render(program, QSize(1200, 700));
        QCOMPARE(image.size(), QSize(1200, 700));
        const QList<int> profile = ColumnsOf(image, kProfileColour);
        QList<int> profileColumns;
        for (int x = 0; x < image.width(); ++x)
            if (profile[x] > 0)
                profileColumns << x;
        QVERIFY(profileColumns.size() > 600);
        const int left = profileColumns.first(), right = profileColumns.last();
        const auto at = [&](double minute) { return left + int((right - left) * minute / 480); };
        const int cold = TopOf(image, at(90), kProfileColour);    // cycle 1, hold at -40
        const int warm = TopOf(image, at(180), kProfileColour);   // cycle 1, hold at 80
        const int warm2 = TopOf(image, at(420), kProfileColour);  // cycle 2, hold at 80
        const int rampMiddle = TopOf(image, at(270), kProfileColour); // cycle 2, ramp 80 -> -40
        QVERIFY2(warm < cold - 200, qPrintable(QStringLiteral("%1 %2").arg(warm).arg(cold)));
        QVERIFY(qAbs(warm - warm2) <= 1);
        QVERIFY2(rampMiddle > warm + 50 && rampMiddle < cold - 50,
                 qPrintable(QString::number(rampMiddle)));
        // The jump at minute 120 is a vertical stretch of the profile's colour.
        QVERIFY2(profile[at(120)] + profile[at(120) + 1] + profile[at(120) - 1] > 200,
                 qPrintable(QString::number(profile[at(120)])));
        // The cycle boundary at minute 240, across the plot's height.
        const QList<int> boundary = ColumnsOf(image, kCycleBoundaryColour);
        int tallest = 0, where = 0;
        for (int x = left + 5; x < right - 5; ++x)
            if (boundary[x] > tallest)
                tallest = boundary[x], where = x;
        QVERIFY2(tallest > 300, qPrintable(QString::number(tallest)));
        QVERIFY2(qAbs(where - at(240)) <= 3,
                 qPrintable(QStringLiteral("%1 %2").arg(where).arg(at(240))));
    }

    void oneCycleHasNoCycleBoundary() {
        const QImage image = Render(Program(1, {StepValues{25, 0, 30, 0, 30}}), QSize(800, 500));
        int boundary = 0;
        for (const int pixels : ColumnsOf(image, kCycleBoundaryColour))
            boundary = std::max(boundary, pixels);
        QVERIFY2(boundary < 20, qPrintable(QString::number(boundary)));
    }

    void commandWritesPictureAndSummary_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("png") << "profile.png";
        QTest::newRow("svg") << "profile.svg";
        QTest::newRow("pdf") << "profile.pdf";
    }
    void commandWritesPictureAndSummary() {
        QFETCH(QString, name);
        QTemporaryDir folder;
        ProgramTexts texts;
        texts.programNumber = "2";
        texts.steps = "2";
        texts.cycles = "999";
        texts.name = "Долгий";
        texts.cells[0] = {"-85", "99", "59", "0", "0"};
        texts.cells[1] = {"180", "0", "1", "99", "59"};
        const QString program = folder.filePath("p.csv");
        QVERIFY(WriteFile(program, WriteProgramFile(texts, false)));
        const QString out = folder.filePath(name);
        const PlotRun run = RunPlot({"program", program, "-o", out, "--size", "1000x600"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        // 999 × (5999 + 5999 + 1) min = 11 987 001 min.
        QVERIFY2(run.out.contains("Длительность: 8324 сут 07 ч 21 мин"), qPrintable(run.out));
        QVERIFY2(run.out.contains("Время выхода 0 (шаг 1): скорость задаёт сама камера"),
                 qPrintable(run.out));
        const QByteArray bytes = ReadAll(out);
        if (name.endsWith(".png")) {
            QCOMPARE(QImage(out).size(), QSize(1000, 600));
        } else if (name.endsWith(".svg")) {
            const QString svg = QString::fromUtf8(bytes);
            for (const QString &text : {QStringLiteral("Долгий"), QStringLiteral("Длительность"),
                                        QStringLiteral("Время от запуска, сут")})
                QVERIFY2(svg.contains(text), qPrintable(text));
        } else {
            QVERIFY(bytes.startsWith("%PDF"));
        }
    }

    void commandRefusesFailingFile() {
        QTemporaryDir folder;
        ProgramTexts texts;
        texts.steps = "1";
        texts.cycles = "0";
        texts.cells[0] = {"20", "0", "0", "0", "0"};
        const QString program = folder.filePath("p.csv");
        QVERIFY(WriteFile(program, WriteProgramFile(texts, true)));
        const PlotRun run = RunPlot({"program", program, "-o", folder.filePath("x.png")});
        QCOMPARE(run.exitCode, 5);
        QVERIFY2(run.err.contains(program + ":4: Число циклов: 0 is outside 1..999"),
                 qPrintable(run.err));
        QVERIFY(!QFile::exists(folder.filePath("x.png")));
        QCOMPARE(RunPlot({"program", "--help"}).exitCode, 0);
    }
};

QTEST_MAIN(tst_ProgramChart)
#include "tst_ProgramChart.moc"

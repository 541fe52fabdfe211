// The tool's pure pieces: option files, program CSV, reading reports, metrics.
#include "base/ConfigFile.h"
#include "base/ReadingReport.h"
#include "base/CommandLine.h"
#include "cli/ProgramCsv.h"
#include "logger/LogCommand.h"
#include "logger/metrics/MetricsText.h"

#include "core/ReadingsCsv.h"

#include <QtTest>

Q_DECLARE_METATYPE(ReadingValues)

class tst_CliFormats : public QObject {
    Q_OBJECT
private slots:
    void configText_data();
    void configText();
    void programCsv();
    void reports();
    void csvRowsReadBack_data();
    void csvRowsReadBack();
    void metricsOmitStaleValues();
    void exampleConfigurationIsValid();
};

void tst_CliFormats::configText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::newRow("forms") << "# bus 1\n\nperiod=4\n--record-every 60\n  csv  \nchambers = 1,3,5-8\n"
                              "metrics=127.0.0.1:9100\n"
                           << QStringList{"--period", "4", "--record-every", "60", "--csv",
                                          "--chambers", "1,3,5-8", "--metrics", "127.0.0.1:9100"}
                           << true;
    QTest::newRow("path with spaces") << "dir=/var/log/kalvora/bus 1\r\n"
                                      << QStringList{"--dir", "/var/log/kalvora/bus 1"} << true;
    QTest::newRow("garbage") << "period=4\n= 5\n" << QStringList{} << false;
    // A flag's value is a yes or a no; it is never taken for the next option's value.
    QTest::newRow("csv=1 beside chambers")
        << "csv=1\nchambers=1-3\n" << QStringList{"--csv", "--chambers", "1-3"} << true;
    QTest::newRow("csv=0") << "csv=0\nchambers=1\n" << QStringList{"--chambers", "1"} << true;
    QTest::newRow("yes, true, no, false") << "csv=yes\ncsv=true\ncsv = no\ncsv=FALSE\n"
                                          << QStringList{"--csv", "--csv"} << true;
    QTest::newRow("flag with another value") << "csv\ncsv=maybe\n" << QStringList{} << false;
    QTest::newRow("unknown option") << "csv\nperod=4\n" << QStringList{} << false;
    QTest::newRow("value option without value") << "csv\nperiod\n" << QStringList{} << false;
}

void tst_CliFormats::configText() {
    QFETCH(QString, text);
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    const ConfigArguments result =
        ParseConfigText(text,
                        {"period", "record-every", "chambers", "metrics", "dir"}, {"csv"});
    QCOMPARE(result.arguments, arguments);
    QCOMPARE(result.error.isEmpty(), valid);
    if (!valid)
        QVERIFY(result.error.startsWith(QStringLiteral("line 2:")));
}

void tst_CliFormats::programCsv() {
    const ProgramCsv good = ParseProgramCsv(QStringLiteral("T,sh,sm,mh,mm\n-85,0,0,0,0\n180,99,59,99,59\n"));
    QVERIFY2(good.error.isEmpty(), qPrintable(good.error));
    QCOMPARE(good.steps, 2);
    QCOMPARE(good.cells[1][0], QStringLiteral("180"));
    // A first row with numbers is a step, not titles.
    QCOMPARE(ParseProgramCsv(QStringLiteral("1,x,0,0,0\n")).error,
             QStringLiteral("row 1, column 2 (stabilisation hours): 'x' is not a valid integer value"));
    QCOMPARE(ParseProgramCsv(QStringLiteral("1,0,0,0,0,7\n")).error.left(36),
             QStringLiteral("row 1, column 6: a step has 5 column"));
    QCOMPARE(ParseProgramCsv(QStringLiteral("# nothing\n")).error,
             QStringLiteral("no steps (one step per row)"));
}

void tst_CliFormats::reports() {
    ReadingValues v;
    v.currentTemperature = -99.9;
    v.timeToMode = HoursMinutes{123, 5};
    v.program = 0;
    v.step = 3;
    v.steps = 12;
    QCOMPARE(CsvRow(QStringLiteral("2026-12-10T14:03:04+03:00"), v),
             QStringLiteral("2026-12-10T14:03:04+03:00,-99.9,,123:05,,,,0,3,12,,\n"));
    QCOMPARE(ReadingJson(7, v),
             QStringLiteral(R"({"address": 7, "current_temperature": -99.9, "set_temperature": null, "time_to_mode": "123:05", "stabilisation_time": null, "time_to_mode_set_point": null, "stabilisation_set_point": null, "program": 0, "step": 3, "steps": 12, "cycle": null, "cycles": null})"));
    QCOMPARE(ReadingText(v),
             QStringLiteral("Current temperature, °C: -99.9\nSet temperature, °C: -\n"
                            "Time to mode, hh:mm: 123:05\nStabilisation time, hh:mm: -\n"
                            "Time-to-mode set-point, hh:mm: -\nStabilisation set-point, hh:mm: -\n"
                            "Program: 0\nStep: 3(12)\nCycle: -\n"));
}

// The logger writes the readings files and the chart tool reads them: every column a row
// carries must come back in its place.
void tst_CliFormats::csvRowsReadBack_data() {
    QTest::addColumn<ReadingValues>("values");
    ReadingValues full;
    full.currentTemperature = -23.5;
    full.setTemperature = 60;
    full.timeToMode = HoursMinutes{1, 5};
    full.stabilisationTime = HoursMinutes{0, 30};
    full.program = 2;
    full.step = 3;
    full.steps = 12;
    full.cycle = 4;
    full.cycles = 5;
    QTest::newRow("every figure") << full;
    ReadingValues gaps = full;
    gaps.currentTemperature.reset();
    gaps.step.reset();
    gaps.steps.reset();
    QTest::newRow("figures that failed their bounds") << gaps;
    QTest::newRow("nothing but the time") << ReadingValues{};
}

void tst_CliFormats::csvRowsReadBack() {
    QFETCH(ReadingValues, values);
    const QString time = QStringLiteral("2026-10-25T02:30:00+01:00");
    const QByteArray bytes = (CsvHeader() + CsvRow(time, values) + CsvRow(time, values)).toUtf8();
    const std::optional<ReadingsFile> file = ReadReadingsCsv(bytes);
    QVERIFY(file);
    QCOMPARE(file->damagedLines, 0);
    QCOMPARE(file->readings.size(), 2);
    const Reading &read = file->readings.first();
    QCOMPARE(read.date, QDate(2026, 10, 25));
    QCOMPARE(read.time, QTime(2, 30));
    QCOMPARE(read.utcOffsetSeconds, std::optional<int>(3600));
    QCOMPARE(read.temperature, values.currentTemperature);
    QCOMPARE(read.setTemperature, values.setTemperature);
    const auto asInt = [](const std::optional<unsigned> &v) {
        return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
    };
    QCOMPARE(read.program, asInt(values.program));
    QCOMPARE(read.step, asInt(values.step));
    QCOMPARE(read.steps, asInt(values.steps));
    QCOMPARE(read.cycle, asInt(values.cycle));
    QCOMPARE(read.cycles, asInt(values.cycles));
}

void tst_CliFormats::metricsOmitStaleValues() {
    ChamberMetrics up;
    up.address = 1;
    up.up = true;
    up.values = ReadingValues{};
    up.values->currentTemperature = 23.5;
    up.lastGoodReadingAt = 1765000000.25;
    up.exchanges.ok = 3;
    ChamberMetrics down = up;
    down.address = 2;
    down.up = false; // its last values must not show as current
    down.exchanges.timeout = 2;
    BusMetrics bus;
    bus.chambers = {up, down};
    const QString text = PrometheusText(bus);
    QVERIFY(text.contains(QStringLiteral("kalvora_chamber_up{chamber=\"1\"} 1\nkalvora_chamber_up{chamber=\"2\"} 0\n")));
    QVERIFY(text.contains(QStringLiteral("kalvora_chamber_temperature_celsius{chamber=\"1\"} 23.5\n")));
    QVERIFY(!text.contains(QStringLiteral("kalvora_chamber_temperature_celsius{chamber=\"2\"}")));
    QVERIFY(!text.contains(QStringLiteral("kalvora_chamber_program{")));
    QVERIFY(text.contains(QStringLiteral("kalvora_chamber_last_reading_timestamp_seconds{chamber=\"2\"} 1765000000.25\n")));
    QVERIFY(text.contains(QStringLiteral("kalvora_chamber_exchanges_total{chamber=\"2\",result=\"timeout\"} 2\n")));
    QVERIFY(text.contains(QStringLiteral("# TYPE kalvora_chamber_exchanges_total counter\n")));
    QCOMPARE(text.count(QStringLiteral("# HELP")), 11);
    QVERIFY(text.endsWith(QLatin1Char('\n')));
}

// The shipped example names only options the logger takes: as it stands, and with every
// commented option line switched on.
void tst_CliFormats::exampleConfigurationIsValid() {
    QFile file(QStringLiteral(PROJECT_SOURCE_DIR "/packaging/example.conf"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    CommandLine log(QStringLiteral("log"), QString(), QString(), ExchangeDefaults{2, 300});
    AddLogOptions(log);
    const ConfigArguments asShipped = ParseConfigText(text, log.valueOptions(), log.flags());
    QVERIFY2(asShipped.error.isEmpty(), qPrintable(asShipped.error));
    QVERIFY(asShipped.arguments.contains(QStringLiteral("--port")));
    QVERIFY(asShipped.arguments.contains(QStringLiteral("--chambers")));
    QString everything;
    int switchedOn = 0;
    static const QRegularExpression option(QStringLiteral("^#([a-z][a-z-]*)(=.*)?$"));
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const auto match = option.match(line);
        if (match.hasMatch()) {
            everything += line.mid(1) + QLatin1Char('\n');
            ++switchedOn;
        } else {
            everything += line + QLatin1Char('\n');
        }
    }
    QVERIFY(switchedOn > 10);
    const ConfigArguments all = ParseConfigText(everything, log.valueOptions(), log.flags());
    QVERIFY2(all.error.isEmpty(), qPrintable(all.error));
}

QTEST_GUILESS_MAIN(tst_CliFormats)
#include "tst_CliFormats.moc"

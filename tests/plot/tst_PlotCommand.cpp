// The executable as an operator runs it: exit codes, one-line messages, files written.
#include "LogFixture.h"
#include "core/ReadingsCsv.h"

#include <QImage>
#include <QTimeZone>
#include <QtTest>

namespace {

const QString kLogName = QStringLiteral("ЖЫМ№3 09.12.2017 14_05_33.txt");
const QStringList kRussianFormats = {QStringLiteral("--date-format"), QStringLiteral("%d.%m.%Y"),
                                     QStringLiteral("--time-format"), QStringLiteral("%H:%M:%S")};

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class tst_PlotCommand : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QTemporaryDir runtime_;

    QString Path(const QString &name) const { return folder_.filePath(name); }

    Outcome Run(const QStringList &arguments, const QString &zone = QStringLiteral("UTC0")) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TZ"), zone);
        // Qt warns on stderr about a missing runtime folder (root in a container).
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder_.path());
        process.start(QStringLiteral(KALVORA_PLOT_PATH), arguments);
        if (!process.waitForFinished(120000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private slots:
    void initTestCase() {
        QVERIFY(folder_.isValid() && runtime_.isValid());
        QFile::setPermissions(runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
        QVERIFY(WriteFile(Path(kLogName), LogBytes({{"14:05:40", "23,5", "2", "3(12)", "2(5)"},
                                                    {"14:06:40", "24", "2", "3(12)", "2(5)"}})));
        QVERIFY(WriteFile(Path("ЖЫМ№4 09.12.2017 14_05_33.txt"),
                          LogBytes({{"14:05:40", "30", "", "", ""}})));
        QVERIFY(WriteFile(Path("ЖЫМ№5 09.12.2017 14_05_33.txt"), LogBytes({})));
        QVERIFY(WriteFile(Path("ЖЫМ№6 09.12.2017 14_05_33.txt"),
                          LogBytes({{"14:05:40", "23,5", "", "", ""}}) + "    14:0"));
        QVERIFY(WriteFile(Path("renamed.txt"), LogBytes({{"14:05:40", "23,5", "", "", ""}})));
        QVERIFY(WriteFile(Path("notes.txt"), "not a log\r\n"));
    }

    void helpAndVersion() {
        const Outcome help = Run({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        for (const char *option : {"--output", "--size", "--title", "--follow", "--csv",
                                   "--date-format", "--time-format", "--date", "--version"})
            QVERIFY2(help.out.contains(QLatin1String(option)), option);
        // Qt's own options are none of the tool's; --help-all is one more name of --help.
        QVERIFY(!help.out.contains(QStringLiteral("help-all")));
        // The tool by its name, not by the path it was started with.
        QVERIFY2(help.out.startsWith(QStringLiteral("Usage: kalvora-plot [options] [FILE...]\n")),
                 qPrintable(help.out));
        const Outcome helpAll = Run({QStringLiteral("--help-all")});
        QCOMPARE(helpAll.exitCode, 0);
        QCOMPARE(helpAll.out, help.out);
        const Outcome version = Run({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.startsWith(QStringLiteral("kalvora-plot ")), qPrintable(version.out));
    }

    void errors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // the first line on stderr
        const QString missing = QStringLiteral("ЖЫМ№3 01.01.2017 00_00_00.txt");
        QTest::newRow("no files") << QStringList{"-o", "out.png"} << 2
                                  << "kalvora-plot: no log files given";
        QTest::newRow("unknown option")
            << QStringList{"--colour", kLogName} << 2 << "kalvora-plot: Unknown option 'colour'.";
        QTest::newRow("picture type") << QStringList{kLogName, "-o", "out.gif"} << 2
                                      << "kalvora-plot: the picture's name must end in .png, "
                                         ".svg or .pdf: out.gif";
        QTest::newRow("size") << QStringList{kLogName, "-o", "out.png", "--size", "1600*900"} << 2
                              << "kalvora-plot: --size takes WIDTHxHEIGHT in pixels, from "
                                 "200x150 to 20000x20000: 1600*900";
        QTest::newRow("date") << QStringList{kLogName, "--csv", "out.csv", "--date", "9.12.2017"}
                              << 2 << "kalvora-plot: --date takes YYYY-MM-DD: 9.12.2017";
        QTest::newRow("follow with a file")
            << QStringList{kLogName, "-o", "out.png", "--follow"} << 2
            << "kalvora-plot: --follow is for the window; it cannot go with -o or --csv";
        QTest::newRow("CSV of two chambers")
            << QStringList{kLogName, "ЖЫМ№4 09.12.2017 14_05_33.txt", "--csv", "out.csv"} +
                   kRussianFormats
            << 2 << "kalvora-plot: --csv takes the files of one chamber; these hold 2";
        QTest::newRow("missing file")
            << QStringList{missing, "-o", "out.png"} << 6
            << "kalvora-plot: " + missing + ": cannot read: No such file or directory";
        QTest::newRow("folder") << QStringList{".", "-o", "out.png"} << 6
                                << "kalvora-plot: .: is a folder, not a file";
        QTest::newRow("not a log") << QStringList{"notes.txt", "-o", "out.png"} << 6
                                   << "kalvora-plot: notes.txt: not a Kalvora log (the first "
                                      "line is not the log header)";
        QTest::newRow("no records")
            << QStringList{"ЖЫМ№5 09.12.2017 14_05_33.txt", "-o", "out.png"} + kRussianFormats << 6
            << "kalvora-plot: ЖЫМ№5 09.12.2017 14_05_33.txt: no records";
        QTest::newRow("records of another time format")
            << QStringList{kLogName,        "-o",          "out.png", "--date-format", "%d.%m.%Y",
                           "--time-format", "%I:%M:%S %p", "--date",  "2017-12-09"}
            << 6
            << "kalvora-plot: " + kLogName +
                   ": no records (2 damaged lines; do the regional "
                   "settings or --time-format match the machine that "
                   "wrote it?)";
        QTest::newRow("date not in the name") << QStringList{"renamed.txt", "-o", "out.png"} << 6
                                              << "kalvora-plot: renamed.txt: the date cannot be "
                                                 "read from the file name; give it with --date "
                                                 "YYYY-MM-DD or name its format with "
                                                 "--date-format";
        QTest::newRow("cannot write")
            << QStringList{kLogName, "-o", "/nonexistent-folder/out.png"} + kRussianFormats << 6
            << "kalvora-plot: /nonexistent-folder/out.png: cannot write: No such file or "
               "directory";
        QTest::newRow("damaged lines are counted, the rest drawn")
            << QStringList{"ЖЫМ№6 09.12.2017 14_05_33.txt", "-o", "out.png"} + kRussianFormats << 0
            << "kalvora-plot: ЖЫМ№6 09.12.2017 14_05_33.txt: 1 damaged line skipped (line 5)";
    }
    void errors() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Outcome outcome = Run(arguments);
        QCOMPARE(outcome.exitCode, exitCode);
        const QStringList lines = outcome.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(!lines.isEmpty(), "nothing on stderr");
        QCOMPARE(lines.first(), message);
        // Usage errors add where to look; file errors stand alone.
        QCOMPARE(lines.size(), exitCode == 2 ? 2 : 1);
    }

    void csvOfALog() {
        const Outcome outcome = Run(QStringList{kLogName, "--csv", "out.csv"} + kRussianFormats);
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.err, QString());
        QCOMPARE(ReadAll(Path("out.csv")),
                 QByteArray("time,temperature,program,step,steps,cycle,cycles\n"
                            "2017-12-09T14:05:40+00:00,23.5,2,3,12,2,5\n"
                            "2017-12-09T14:06:40+00:00,24,2,3,12,2,5\n"));
    }

    // A renamed log with the date given, and a chart written beside the CSV.
    void dateGivenForARenamedLog() {
        const Outcome outcome = Run({"renamed.txt", "--date", "2017-12-09", "--csv", "r.csv", "-o",
                                     "r.png", "--size", "640x480"});
        QCOMPARE(outcome.exitCode, 0);
        QVERIFY(ReadAll(Path("r.csv")).contains("2017-12-09T14:05:40+00:00,23.5,,,,,\n"));
        QCOMPARE(QImage(Path("r.png")).size(), QSize(640, 480));
    }

    // Day-by-day logs as the logger writes them in Europe/Berlin: a new file, and a readings CSV
    // beside it, whenever a record's local date or offset differs from its file's, named by that
    // record's moment. kalvora-plot reads the logs alone and gives each record the time the
    // logger's own CSV row of the same reading carries.
    void seriesAsTheLoggerWroteIt_data() {
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("files"); // of each chamber
        QTest::newRow("midnight") << QDateTime(QDate(2026, 12, 10), QTime(22, 50, 4), Qt::UTC) << 20
                                  << 2;
        // 23:50 CEST to 03:10 CET: a midnight, then 02:00 to 02:59 twice.
        QTest::newRow("autumn clock change")
            << QDateTime(QDate(2026, 10, 24), QTime(21, 50, 4), Qt::UTC) << 260 << 3;
        QTest::newRow("spring clock change")
            << QDateTime(QDate(2026, 3, 29), QTime(0, 30, 4), Qt::UTC) << 60 << 2;
    }
    void seriesAsTheLoggerWroteIt() {
        QFETCH(QDateTime, start);
        QFETCH(int, minutes);
        QFETCH(int, files);
        const QString folder = Path(QString::fromLatin1(QTest::currentDataTag())) + "/";
        QVERIFY(QDir().mkpath(folder));
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());

        struct Chamber {
            QStringList logs; // in the order written
            QDate date;
            int offset = 0;
            QByteArray csvRows; // the logger's CSV rows, all files in turn
        };
        QMap<int, Chamber> chambers;
        for (int minute = 0; minute <= minutes; ++minute) {
            const QDateTime now = start.addSecs(60 * minute).toTimeZone(berlin);
            const QString time = now.toString("HH:mm:ss");
            for (const int address : {3, 4}) {
                Chamber &chamber = chambers[address];
                if (chamber.logs.isEmpty() || chamber.date != now.date() ||
                    chamber.offset != now.offsetFromUtc()) {
                    chamber.logs.append(WithChamberNumber(
                        NewLogFileName(folder, FileTimeStamp(now.toString("dd.MM.yyyy"), time)),
                        address));
                    chamber.date = now.date();
                    chamber.offset = now.offsetFromUtc();
                    QVERIFY(WriteFile(chamber.logs.last(), LogHeaderBytes()));
                    QVERIFY(WriteFile(chamber.logs.last().chopped(4) + ".csv",
                                      ReadingsCsvHeader() + "\n"));
                }
                const QString temperature = QString::number(address * 1000 + minute);
                QFile log(chamber.logs.last());
                QFile csv(chamber.logs.last().chopped(4) + ".csv");
                QVERIFY(log.open(QIODevice::Append) && csv.open(QIODevice::Append));
                log.write(LogRecordBytes(time, temperature, "1", "2(3)", "1(1)"));
                const QByteArray row =
                    IsoLocalTime(now.date(), now.time(), now.offsetFromUtc()).toUtf8() + "," +
                    temperature.toUtf8();
                csv.write(row + ",20,,,,,1,2,3,1,1\n");
                chamber.csvRows += row + "\n";
            }
        }
        QCOMPARE(chambers[3].logs.size(), files);

        for (const int address : {3, 4}) {
            // Given newest first: the order comes from the records, not the arguments.
            QStringList logs = chambers[address].logs;
            std::reverse(logs.begin(), logs.end());
            const QString out = folder + QString::number(address) + ".csv";
            const Outcome outcome =
                Run(logs + QStringList{"--csv", out} + kRussianFormats, "Europe/Berlin");
            QCOMPARE(outcome.err, QString());
            QCOMPARE(outcome.exitCode, 0);
            QList<QByteArray> times;
            for (const QByteArray &row : ReadAll(out).split('\n').mid(1))
                if (!row.isEmpty())
                    times.append(row.left(row.indexOf(',', row.indexOf(',') + 1)));
            QCOMPARE(times, chambers[address].csvRows.trimmed().split('\n'));
        }
        // Both chambers in one chart.
        const Outcome chart = Run(chambers[3].logs + chambers[4].logs +
                                      QStringList{"-o", folder + "both.png"} + kRussianFormats,
                                  "Europe/Berlin");
        QCOMPARE(chart.exitCode, 0);
        QCOMPARE(chart.err, QString());
    }

    // The command-line tool's readings file beside the log adds the set temperature in red.
    void readingsCsvBesideTheLog() {
        QByteArray csv = ReadingsCsvHeader() + "\n";
        for (int minute = 0; minute < 60; ++minute)
            csv += QStringLiteral("2017-12-09T14:%1:40+00:00,23.5,60,,,,,2,3,12,2,5\n")
                       .arg(minute + 6, 2, 10, QLatin1Char('0'))
                       .toUtf8()
                       .replace("14:60", "15:00")
                       .replace("14:61", "15:01")
                       .replace("14:62", "15:02")
                       .replace("14:63", "15:03")
                       .replace("14:64", "15:04")
                       .replace("14:65", "15:05");
        QVERIFY(WriteFile(Path("ЖЫМ№3 09.12.2017 14_05_33.csv"), csv));
        const Outcome outcome = Run(QStringList{kLogName, "ЖЫМ№3 09.12.2017 14_05_33.csv", "-o",
                                                "both.png", "--size", "800x500"} +
                                    kRussianFormats);
        QCOMPARE(outcome.exitCode, 0);
        const QImage image(Path("both.png"));
        QCOMPARE(image.size(), QSize(800, 500));
        int red = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                red += image.pixelColor(x, y).rgb() == QColor(255, 0, 0).rgb();
        QVERIFY2(red > 300, qPrintable(QString::number(red)));
    }
};

QTEST_GUILESS_MAIN(tst_PlotCommand)
#include "tst_PlotCommand.moc"

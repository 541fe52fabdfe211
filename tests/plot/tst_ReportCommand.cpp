// `kalvora-plot report` as an operator runs it on bad input: a clear message, an exit code and
// no report, not even half of one; the writes of an audit trail in its events; and the report
// made by the window's "Отчёт…" action.
#include "FileBytes.h"
#include "LogFixture.h"
#include "PlotWindow.h"
#include "ReportCommand.h"
#include "core/AuditCommands.h"
#include "core/AuditTrail.h"
#include "core/ControlFrames.h"
#include "core/ReadingsCsv.h"

#include <QAction>
#include <QDir>
#include <QJsonObject>
#include <QTimeZone>
#include <QtTest>
#include <unistd.h>

namespace {

const QStringList kRussianFormats = {QStringLiteral("--date-format"), QStringLiteral("%d.%m.%Y"),
                                     QStringLiteral("--time-format"), QStringLiteral("%H:%M:%S")};
const QByteArray kOldReport("an earlier report, to be kept");

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

QList<Record> Minutes(int count, const QString &temperature) {
    QList<Record> records;
    for (int minute = 0; minute < count; ++minute)
        records.append({QTime(14, 6).addSecs(60 * minute).toString(QStringLiteral("HH:mm:ss")),
                        temperature, "2", "1(3)", "1(2)"});
    return records;
}

} // namespace

class tst_ReportCommand : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    QTemporaryDir runtime_;

    QString Path(const QString &name) const { return folder_.filePath(name); }

    Outcome Run(const QStringList &arguments) { return RunTool(QStringList{"report"} + arguments); }

    Outcome RunTool(const QStringList &arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // the tool needs no display
        environment.remove(QStringLiteral("DISPLAY"));
        environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC0"));
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
        QVERIFY(WriteFile(Path("ЖЫМ№1 09.12.2017 14_05_33.txt"), LogBytes(Minutes(30, "25"))));
        QVERIFY(WriteFile(Path("ЖЫМ№2 09.12.2017 14_05_33.txt"), LogBytes(Minutes(30, "-40"))));
        QVERIFY(WriteFile(Path("ЖЫМ№3 09.12.2017 14_05_33.txt"), LogBytes({})));
        QVERIFY(WriteFile(Path("ЖЫМ№4 09.12.2017 14_05_33.txt"),
                          LogBytes({{"14:05:40", "x", "", "", ""}})));
        const QByteArray event =
            "{\"time\":\"2017-12-09T14:10:00+00:00\",\"event\":\"chamber_lost\",\"chamber\":1,"
            "\"reason\":\"silence\"}\n";
        QVERIFY(WriteFile(Path("events.jsonl"), event));
        QVERIFY(WriteFile(Path("torn.jsonl"), event + event + "{\"time\":\"2017-12-09T14:1"));
        QVERIFY(WriteFile(Path("notes.txt"), "chamber 1 was opened at noon\n"));
    }

    void help() {
        const Outcome help = Run({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        for (const char *option : {"--output", "--html", "--from", "--to", "--title", "--customer",
                                   "--chamber", "--band", "--date-format"})
            QVERIFY2(help.out.contains(QLatin1String(option)), option);
        // Only the command's own options, the command named in the usage line and not listed
        // as an argument, the tool by its name whatever path started it.
        QVERIFY2(
            help.out.startsWith(QStringLiteral("Usage: kalvora-plot [options] report FILE...\n")),
            qPrintable(help.out));
        QVERIFY(!help.out.contains(QStringLiteral("help-all")));
        QVERIFY(!help.out.contains(QStringLiteral("The command.")));
        const Outcome helpAll = Run({QStringLiteral("--help-all")});
        QCOMPARE(helpAll.exitCode, 0);
        QCOMPARE(helpAll.out, help.out);
    }

    void badInput_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // a line on stderr
        const QString one = QStringLiteral("ЖЫМ№1 09.12.2017 14_05_33.txt");
        const QString two = QStringLiteral("ЖЫМ№2 09.12.2017 14_05_33.txt");
        QTest::newRow("no output named") << QStringList{one} << 2
                                         << "kalvora-plot: name the report with -o FILE.pdf or "
                                            "--html FILE.html";
        QTest::newRow("band") << QStringList{one, "-o", "report.pdf", "--band", "0"} << 2
                              << "kalvora-plot: --band takes degrees above 0 and up to 100: 0";
        QTest::newRow("from") << QStringList{one, "-o", "report.pdf", "--from", "9.12.2017"} << 2
                              << "kalvora-plot: --from takes YYYY-MM-DD or \"YYYY-MM-DD "
                                 "HH:MM[:SS]\": 9.12.2017";
        QTest::newRow("two chambers without --chamber")
            << QStringList{one, two, "-o", "report.pdf"} + kRussianFormats << 2
            << "kalvora-plot: the files hold several chambers (Камера №1, Камера №2); name the "
               "ones to report with --chamber, e.g. --chamber 1,3 or --chamber all";
        QTest::newRow("a chamber of none of the files")
            << QStringList{one, "--chamber", "5", "-o", "report.pdf"} + kRussianFormats << 2
            << "kalvora-plot: --chamber 5: no file of that chamber among the files (Камера №1)";
        QTest::newRow("no readable records") << QStringList{"ЖЫМ№3 09.12.2017 14_05_33.txt",
                                                            "ЖЫМ№4 09.12.2017 14_05_33.txt",
                                                            "--chamber",
                                                            "all",
                                                            "-o",
                                                            "report.pdf"} +
                                                    kRussianFormats
                                             << 6 << "kalvora-plot: Камера №3: no readable records";
        QTest::newRow("only a journal") << QStringList{"events.jsonl", "-o", "report.pdf"} << 6
                                        << "kalvora-plot: no readable records in the files "
                                           "(only events journals?)";
        QTest::newRow("nothing in the period")
            << QStringList{one, "--from", "2018-01-01", "-o", "report.pdf"} + kRussianFormats << 6
            << "kalvora-plot: Камера №1: no records between 2018-01-01T00:00:00 and the last "
               "record";
        QTest::newRow("not a log") << QStringList{"notes.txt", one, "-o", "report.pdf"} << 6
                                   << "kalvora-plot: notes.txt: not a Kalvora log (the first "
                                      "line is not the log header)";
        QTest::newRow("cannot write")
            << QStringList{one, "-o", "/nonexistent-folder/report.pdf"} + kRussianFormats << 6
            << "kalvora-plot: /nonexistent-folder/report.pdf: cannot write: No such file or "
               "directory";
    }
    void badInput() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QVERIFY(WriteFile(Path("report.pdf"), kOldReport));
        const Outcome outcome = Run(arguments);
        QCOMPARE(outcome.exitCode, exitCode);
        const QStringList lines = outcome.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.contains(message), qPrintable(outcome.err));
        // The earlier report stands, and no temporary file is left beside it.
        QCOMPARE(ReadAll(Path("report.pdf")), kOldReport);
        QCOMPARE(QDir(folder_.path()).entryList({"*report*"}, QDir::Files | QDir::Hidden),
                 QStringList{"report.pdf"});
    }

    // An output that is one of the inputs, by any name that leads to it, or that is another
    // output, is refused before anything is read or written.
    void outputIsAnInput_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString log = QStringLiteral("ЖЫМ№1 09.12.2017 14_05_33.txt");
        const QString nothing = QStringLiteral("; nothing written, name another file");
        QTest::newRow("report -o the log")
            << QStringList{"report", log, "-o", log}
            << "kalvora-plot: -o " + log + ": that is the input file " + log + nothing;
        QTest::newRow("report --html the journal by another name")
            << QStringList{"report", log, "events.jsonl", "--html", "./events.jsonl"}
            << "kalvora-plot: --html ./events.jsonl: that is the input file events.jsonl" + nothing;
        QTest::newRow("report -o a hard link to the log")
            << QStringList{"report", log, "-o", "hard.txt"}
            << "kalvora-plot: -o hard.txt: that is the input file " + log + nothing;
        QTest::newRow("report -o a symbolic link to the log")
            << QStringList{"report", log, "-o", "soft.pdf"}
            << "kalvora-plot: -o soft.pdf: that is the input file " + log + nothing;
        QTest::newRow("report of a symbolic link, -o its file")
            << QStringList{"report", "soft.pdf", "-o", log}
            << "kalvora-plot: -o " + log + ": that is the input file soft.pdf" + nothing;
        QTest::newRow("report -o and --html one new file")
            << QStringList{"report", log, "-o", "same.out", "--html", "same.out"}
            << "kalvora-plot: --html same.out: that is the file of -o" + nothing;
        QTest::newRow("chart -o a symbolic link to the log")
            << QStringList{log, "-o", "soft.pdf"}
            << "kalvora-plot: -o soft.pdf: that is the input file " + log + nothing;
        QTest::newRow("chart --csv the log")
            << QStringList{log, "--csv", log}
            << "kalvora-plot: --csv " + log + ": that is the input file " + log + nothing;
        QTest::newRow("chart --csv a hard link to the log")
            << QStringList{log, "--csv", "hard.txt"}
            << "kalvora-plot: --csv hard.txt: that is the input file " + log + nothing;
    }
    void outputIsAnInput() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString log = Path("ЖЫМ№1 09.12.2017 14_05_33.txt");
        QFile::remove(Path("hard.txt"));
        QFile::remove(Path("soft.pdf"));
        QCOMPARE(::link(QFile::encodeName(log).constData(),
                        QFile::encodeName(Path("hard.txt")).constData()),
                 0);
        QVERIFY(QFile::link(log, Path("soft.pdf")));
        const QByteArray logBytes = ReadAll(log);
        const QByteArray journalBytes = ReadAll(Path("events.jsonl"));
        const QStringList before = QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden);

        const Outcome outcome = RunTool(arguments);
        QCOMPARE(outcome.exitCode, 2);
        const QStringList lines = outcome.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.value(0) == message, qPrintable(outcome.err));
        QCOMPARE(ReadAll(log), logBytes);
        QCOMPARE(ReadAll(Path("events.jsonl")), journalBytes);
        QCOMPARE(QDir(folder_.path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    // A torn line of the journal is skipped and counted: the report is made and says so.
    void damagedJournalLine() {
        const Outcome outcome =
            Run(QStringList{"ЖЫМ№1 09.12.2017 14_05_33.txt", "torn.jsonl", "--html", "torn.html"} +
                kRussianFormats);
        QCOMPARE(outcome.exitCode, 0);
        QCOMPARE(outcome.err, QStringLiteral("kalvora-plot: torn.jsonl: 1 damaged line skipped "
                                             "(line 3)\n"));
        const QString html = QString::fromUtf8(ReadAll(Path("torn.html")));
        QVERIFY(html.contains(QStringLiteral("Пропущено повреждённых строк</b></td><td>1<")));
        QVERIFY(html.contains(QStringLiteral("data:image/svg+xml;base64,")));
        QVERIFY(html.contains(QStringLiteral("нет ответа")));
    }

    // Two chambers: a first page with a line each, then each chamber on pages of its own.
    void severalChambers() {
        const QStringList files = {"ЖЫМ№1 09.12.2017 14_05_33.txt", "ЖЫМ№2 09.12.2017 14_05_33.txt",
                                   "events.jsonl"};
        const Outcome outcome = Run(
            files + QStringList{"--chamber", "all", "-o", "several.pdf", "--html", "several.html"} +
            kRussianFormats);
        QCOMPARE(outcome.exitCode, 0);
        const QString html = QString::fromUtf8(ReadAll(Path("several.html")));
        const QString overview = html.section(QStringLiteral("Сводка по камерам"), 1)
                                     .section(QStringLiteral("</table>"), 0, 0);
        QCOMPARE(overview.count(QStringLiteral("<tr>")), 3); // titles and one line a chamber
        QVERIFY(overview.contains(QStringLiteral("<td>Камера №1</td>")));
        QVERIFY(overview.contains(QStringLiteral("<td>Камера №2</td>")));
        QVERIFY(overview.contains(QStringLiteral("<td>-40 °C</td>")));
        // Chamber 1's outage of the journal is not chamber 2's.
        QCOMPARE(html.count(QStringLiteral("нет ответа")), 1);
        static const QRegularExpression page(QStringLiteral("/Type /Page[^s]"));
        QVERIFY(QString::fromLatin1(ReadAll(Path("several.pdf"))).count(page) >= 3);
    }

    // The writes of a trail to the reported chamber, in the period, go into the events; the
    // header fixes the trail by its head.
    void auditTrailWritesAndHead() {
        QVERIFY(QDir(folder_.path()).mkpath(QStringLiteral("trail")));
        const auto moment = [](int hour, int minute) {
            return QDateTime(QDate(2017, 12, 9), QTime(hour, minute), QTimeZone::utc());
        };
        const QJsonObject anna{{"user", "anna"}, {"uid", 1000}, {"host", "lab-pc"},
                               {"program", "kalvora"}, {"pid", 41}};
        const QList<AuditRecord> records = {
            {moment(14, 10), anna, SetPointWhat(1, -20, BuildSetPointFrame(1, -20)),
             QJsonValue(), "sending", "калибровка датчика", std::nullopt},
            {moment(14, 10), anna, SetPointWhat(1, -20, {}), QJsonValue(), "ok", {}, 1},
            // Another chamber's, and one before the records began: neither is chamber 1's.
            {moment(14, 12), anna, ManualModeWhat(2, true, BuildManualModeFrame(2, true)),
             QJsonValue(), "sent", {}, std::nullopt},
            {moment(13, 0), anna, ProgramStopWhat(1, BuildProgramStopFrame(1)), QJsonValue(),
             "sent", {}, std::nullopt},
        };
        QByteArray trail;
        AuditHead head;
        for (const AuditRecord &record : records) {
            const QByteArray line = AuditLine(head, record);
            trail += line + '\n';
            head = {head.sequence + 1, AuditLineHash(line)};
        }
        QVERIFY(WriteFile(Path("trail/audit-2017-12.jsonl"), trail));

        const Outcome outcome =
            Run(QStringList{"ЖЫМ№1 09.12.2017 14_05_33.txt", "--audit",
                            "trail/audit-2017-12.jsonl", "--html", "audit.html"} +
                kRussianFormats);
        QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.err));
        const QString html = QString::fromUtf8(ReadAll(Path("audit.html")));
        QCOMPARE(html.count(QStringLiteral("Запись в камеру")), 1);
        QVERIFY(html.contains(QStringLiteral("Уставка ручного задания: −20 °C; anna (1000)@lab-pc; "
                                             "итог: принято; причина: калибровка датчика")));
        QVERIFY(!html.contains(QStringLiteral("Запуск камеры")));
        QVERIFY(!html.contains(QStringLiteral("Останов камеры")));
        QVERIFY(html.contains(QStringLiteral("audit-2017-12.jsonl")));
        QVERIFY(html.contains(QStringLiteral("строк 4, последняя № 4, SHA-256 ") +
                              QString::fromLatin1(head.hash)));

        // A trail that was changed is said to be so, in the header and on stderr.
        trail.replace("−20", "−25");
        QVERIFY(WriteFile(Path("trail/audit-2017-12.jsonl"), trail));
        const Outcome changed =
            Run(QStringList{"ЖЫМ№1 09.12.2017 14_05_33.txt", "--audit",
                            "trail/audit-2017-12.jsonl", "--html", "audit.html"} +
                kRussianFormats);
        QCOMPARE(changed.exitCode, 0);
        QVERIFY(changed.err.contains(QStringLiteral("audit trail broken")));
        QVERIFY(ReadAll(Path("audit.html")).contains("ЦЕПОЧКА НАРУШЕНА"));
    }

    // The window's "Отчёт…" writes the report of the files it shows.
    void reportFromTheWindow() {
        InputSettings input; // day.month.year, 24-hour, comma
        const QStringList files = {Path("ЖЫМ№1 09.12.2017 14_05_33.txt"), Path("events.jsonl")};
        PlotWindow window(files, input, std::nullopt, false, LoadInput(files, input));
        QCOMPARE(window.reportAction()->text(), QStringLiteral("Отчёт…"));
        QCOMPARE(window.WriteReport(Path("window.pdf")), QString());
        QVERIFY(ReadAll(Path("window.pdf")).startsWith("%PDF-"));
        QCOMPARE(window.WriteReport(Path("window.html")), QString());
        QVERIFY(ReadAll(Path("window.html")).contains("Камера №1"));
    }
};

QTEST_MAIN(tst_ReportCommand)
#include "tst_ReportCommand.moc"

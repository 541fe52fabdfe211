// The audit trail: kalvora-cli audit verify against tampered copies, and the tool's writes on
// the record before they go out.
#include "AuditTrailFiles.h"
#include "CliProcess.h"
#include "HexBytes.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include "core/AuditCommands.h"
#include "platform/AuditFile.h"

#include <QJsonArray>

using namespace std::chrono_literals;

namespace {

const QString kNovember = QStringLiteral("audit-2026-11.jsonl");
const QString kDecember = QStringLiteral("audit-2026-12.jsonl");

AuditRecord SetPointRecord(const QDateTime &moment, int temperature) {
    return {moment,
            CurrentProcessWho(QStringLiteral("kalvora")),
            SetPointWhat(1, temperature, BuildSetPointFrame(1, temperature)),
            QJsonValue(QJsonValue::Null),
            QStringLiteral("sent"),
            QStringLiteral("calibration"),
            std::nullopt};
}

QList<QByteArray> Lines(const QByteArray &bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // after the last line end
    return lines;
}

QByteArray Joined(const QList<QByteArray> &lines) { return lines.join('\n') + '\n'; }

} // namespace

class tst_CliAudit : public QObject {
    Q_OBJECT
private slots:
    // Four writes in November, three in December, written as the window writes them; then each
    // row's change to the copies, and what verify says of them.
    void verifyNamesTheFirstBadLine_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("alsoSaid");
        QTest::newRow("untouched") << "" << 0 << "intact: 7 lines\nhead: seq 7 sha256 "
                                   << "";
        QTest::newRow("a changed value")
            << "value" << 8 << kNovember + ":3: the hash of the line before does not match ("
            << kNovember + ":2 was changed";
        QTest::newRow("a removed line")
            << "remove" << 8 << kNovember + ":2: sequence number 3 where 2 was due"
            << "";
        QTest::newRow("two lines swapped")
            << "swap" << 8 << kNovember + ":2: sequence number 3 where 2 was due"
            << "";
        QTest::newRow("a line added with a wrong hash")
            << "append" << 8 << kDecember + ":4: the hash of the line before does not match"
            << "";
        QTest::newRow("the later file's first line changed")
            << "later first" << 8 << kDecember + ":2: the hash of the line before does not match ("
            << kDecember + ":1 was changed";
        QTest::newRow("the later file's first line names another file")
            << "later prev" << 8 << kDecember + ":1: the hash of the line before does not match"
            << "";
        QTest::newRow("a damaged line")
            << "damage" << 8 << kNovember + ":2: not a line of the trail"
            << "";
        QTest::newRow("a torn last line")
            << "torn" << 0 << kDecember + ":4: torn last line (a write cut short"
            << "";
        QTest::newRow("a torn line, then the next write")
            << "torn, write" << 0 << kDecember + ":4: torn line (a write cut short"
            << "";
    }
    void verifyNamesTheFirstBadLine() {
        QFETCH(QString, change);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(QString, alsoSaid);
        QTemporaryDir dir;
        const QTimeZone moscow(3 * 3600);
        AuditHead head;
        for (int day = 1; day <= 4; ++day)
            head = AppendAuditRecord(
                dir.path(),
                SetPointRecord(QDateTime({2026, 11, day * 7}, {9, 0}, moscow), -20 + day));
        for (int day = 1; day <= 3; ++day)
            head = AppendAuditRecord(
                dir.path(), SetPointRecord(QDateTime({2026, 12, day}, {9, 0}, moscow), 30 + day));
        const QString november = dir.filePath(kNovember);
        const QString december = dir.filePath(kDecember);
        QList<QByteArray> nov = Lines(ReadAll(november));
        QList<QByteArray> dec = Lines(ReadAll(december));
        QCOMPARE(nov.size(), 4);
        QCOMPARE(dec.size(), 3);
        QByteArray decBytes = Joined(dec);
        if (change == QLatin1String("value"))
            nov[1].replace("\"temperature_c\":-18", "\"temperature_c\":-28");
        else if (change == QLatin1String("remove"))
            nov.removeAt(1);
        else if (change == QLatin1String("swap"))
            nov.swapItemsAt(1, 2);
        else if (change == QLatin1String("damage"))
            nov[1].truncate(40);
        else if (change == QLatin1String("append"))
            decBytes +=
                "{\"seq\":8,\"prev\":\"" + QByteArray(64, '0') + "\",\"outcome\":\"sent\"}\n";
        else if (change == QLatin1String("later first"))
            decBytes = Joined(dec).replace("\"temperature_c\":31", "\"temperature_c\":35");
        else if (change == QLatin1String("later prev"))
            decBytes = Joined(dec).replace(AuditLineHash(nov[3]), QByteArray(64, 'a'));
        else if (change.startsWith(QLatin1String("torn")))
            decBytes += dec[2].left(50);
        QVERIFY(WriteFile(november, Joined(nov)));
        QVERIFY(WriteFile(december, decBytes));
        if (change == QLatin1String("torn, write")) // the next writer ends the torn line first
            AppendAuditRecord(dir.path(),
                              SetPointRecord(QDateTime({2026, 12, 9}, {9, 0}, moscow), 40));

        const CliRun run =
            RunCli({QStringLiteral("audit"), QStringLiteral("verify"), november, december});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
        QVERIFY2((run.out + run.err).contains(alsoSaid), qPrintable(run.out + run.err));
        if (change.isEmpty())
            QVERIFY(run.out.contains(QString::fromLatin1(head.hash)));
        if (change == QLatin1String("torn, write"))
            QVERIFY2(run.out.contains(QStringLiteral("intact: 8 lines")), qPrintable(run.out));
        // A later file alone: its first line names what came before, which is said.
        if (change.isEmpty()) {
            const CliRun alone =
                RunCli({QStringLiteral("audit"), QStringLiteral("verify"), december});
            QCOMPARE(alone.exitCode, 0);
            QVERIFY(alone.out.contains(QStringLiteral("starts after: seq 4 sha256 ") +
                                       QString::fromLatin1(AuditLineHash(nov[3]))));
        }
    }

    void showPrintsTheWritesOfAChamberInAPeriod() {
        QTemporaryDir dir;
        const QTimeZone moscow(3 * 3600);
        AppendAuditRecord(dir.path(),
                          SetPointRecord(QDateTime({2026, 12, 1}, {9, 0}, moscow), -20));
        AuditRecord other = SetPointRecord(QDateTime({2026, 12, 2}, {9, 0}, moscow), 25);
        other.what = ManualModeWhat(2, true, BuildManualModeFrame(2, true));
        AppendAuditRecord(dir.path(), other);
        AppendAuditRecord(dir.path(), SetPointRecord(QDateTime({2026, 12, 3}, {9, 0}, moscow), 30));
        const QString file = dir.filePath(kDecember);
        const CliRun all = RunCli({QStringLiteral("audit"), QStringLiteral("show"), file});
        QCOMPARE(all.exitCode, 0);
        QVERIFY2(all.out.contains(QStringLiteral("Уставка ручного задания: −20 °C")),
                 qPrintable(all.out));
        QVERIFY(all.out.contains(QStringLiteral("Запуск камеры (ручной режим)")));
        QVERIFY(all.out.contains(QStringLiteral("2026-12-01 09:00:00")));
        QVERIFY(all.out.contains(QStringLiteral("calibration")));
        const CliRun some =
            RunCli({QStringLiteral("audit"), QStringLiteral("show"), file,
                    QStringLiteral("--chamber"), QStringLiteral("1"), QStringLiteral("--from"),
                    QStringLiteral("2026-12-02"), QStringLiteral("--json")});
        QCOMPARE(some.exitCode, 0);
        const QStringList lines = some.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].contains(QStringLiteral("\"seq\":3")));
    }

    // The line goes to disk before the frame, holds the frame the chamber got, and a second line
    // holds the chamber's answer.
    void writeIsRecordedWithItsFramesAndAnswer() {
        AuditConfig config(QStringLiteral("audit=on\naudit-dir=%DIR%\n"));
        SimulatedLine line({1});
        line.setTemperatures(1, 215, 250);
        const CliRun run = RunCli({QStringLiteral("set-point"), QStringLiteral("--port"),
                                   line.slavePath(), QStringLiteral("1"), QStringLiteral("-20"),
                                   QStringLiteral("--reason"), QStringLiteral("door seal test")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(line.waitForReceived(2, kEventTimeout));
        const QList<QJsonObject> lines = config.lines();
        QCOMPARE(lines.size(), 2);
        const QJsonObject what = lines[0].value(QLatin1String("what")).toObject();
        QCOMPARE(what.value(QLatin1String("frames")).toArray().size(), 1);
        QCOMPARE(what.value(QLatin1String("frames")).toArray().at(0).toString(),
                 HexText(line.received().at(1).bytes));
        // The chamber was read first: the line keeps the set-point the write replaced.
        QCOMPARE(line.received().at(0).bytes.at(1), std::uint8_t(4));
        const QJsonObject before = lines[0].value(QLatin1String("before")).toObject();
        QCOMPARE(before.value(QLatin1String("set_temperature")).toDouble(), 25.0);
        QCOMPARE(what.value(QLatin1String("values"))
                     .toObject()
                     .value(QLatin1String("temperature_c"))
                     .toInt(),
                 -20);
        QCOMPARE(lines[0].value(QLatin1String("outcome")).toString(), QStringLiteral("sending"));
        QCOMPARE(lines[0].value(QLatin1String("reason")).toString(),
                 QStringLiteral("door seal test"));
        const QJsonObject who = lines[0].value(QLatin1String("who")).toObject();
        QCOMPARE(who.value(QLatin1String("program")).toString(), QStringLiteral("kalvora-cli"));
        QCOMPARE(who.value(QLatin1String("uid")).toInteger(), qint64(::getuid()));
        QCOMPARE(lines[1].value(QLatin1String("completes")).toInteger(), qint64(1));
        QCOMPARE(lines[1].value(QLatin1String("outcome")).toString(), QStringLiteral("ok"));
        QVERIFY(VerifyAuditFiles(config.files()).intact);
    }

    void nothingIsSentWithoutARecord_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("reason required, none given")
            << "audit-reason=required\naudit-dir=%DIR%\n"
            << QStringList() << 5 << "a reason is required for every write";
        QTest::newRow("trail cannot be written")
            << "audit=on\naudit-dir=%UNWRITABLE%\n"
            << QStringList{"--reason", "x"} << 6 << "The audit trail cannot be written";
        QTest::newRow("a setting not understood")
            << "audit=yes please\n"
            << QStringList() << 2 << "is not a value of audit";
    }
    void nothingIsSentWithoutARecord() {
        QFETCH(QString, settings);
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        AuditConfig probe(QString{});
        settings.replace(QStringLiteral("%UNWRITABLE%"), probe.unwritableFolder());
        AuditConfig config(settings);
        SimulatedLine line({1});
        const CliRun run = RunCli(QStringList{QStringLiteral("start"), QStringLiteral("--port"),
                                              line.slavePath(), QStringLiteral("1")} +
                                  extra);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QTest::qWait(300);
        // The chamber may have been read for the line's "before"; it was not written to.
        for (const ReceivedFrame &frame : line.received())
            QVERIFY(frame.bytes.size() < 2 || frame.bytes[1] != 0x10);
        QVERIFY(config.files().isEmpty());
    }
};

QTEST_MAIN(tst_CliAudit)
#include "tst_CliAudit.moc"

// The control window's audit trail, offscreen on a simulated line: each command's line holds the
// frames the chamber got; a command whose line cannot be written is not sent; the reason box;
// the window and kalvora-cli writing one trail at once.
#include "AuditTrailFiles.h"
#include "ChamberSelection.h"
#include "CliProcess.h"
#include "ControlLine.h"
#include "HexBytes.h"
#include "WindowAudit.h"

#include <QApplication>
#include <QInputDialog>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

using namespace PortUnit;

namespace {

QStringList FramesOf(const QJsonObject &line) {
    QStringList frames;
    for (const QJsonValue &frame :
         line.value(QLatin1String("what")).toObject().value(QLatin1String("frames")).toArray())
        frames << frame.toString();
    return frames;
}

// Answers the reason box once it is open: with a reason, or by cancelling (nullopt). What the
// box asked goes to *asked.
void AnswerReasonBox(const std::optional<QString> &reason, QString *asked) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, reason, asked] {
        auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        *asked = box->labelText();
        if (reason) {
            box->setTextValue(*reason);
            box->accept();
        } else {
            box->reject();
        }
    });
    poll->start(10);
}

} // namespace

class tst_ControlAudit : public QObject {
    Q_OBJECT

private slots:
    void eachCommandLeavesOneLineWithItsFrames_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("frameCount");
        QTest::newRow("program written") << "Button1"
                                         << "program_written" << 3;
        QTest::newRow("manual start") << "Button2"
                                      << "manual_start" << 1;
        QTest::newRow("manual stop") << "Button3"
                                     << "manual_stop" << 1;
        QTest::newRow("set-point") << "Button4"
                                   << "set_point" << 1;
        QTest::newRow("program start") << "Button5"
                                       << "program_start" << 1;
        QTest::newRow("program stop") << "Button6"
                                      << "program_stop" << 1;
    }
    void eachCommandLeavesOneLineWithItsFrames() {
        QFETCH(QString, button);
        QFETCH(QString, command);
        QFETCH(int, frameCount);
        AuditConfig config(QStringLiteral("audit=on\naudit-dir=%DIR%\n"));
        ControlLine control;
        control.line.setTemperatures(1, 215, 250);
        Form1->Button6Click(); // one reading: the line's "before"
        control.line.clearReceived();
        Form3->ComboBox1->setCurrentIndex(1);
        Form3->Edit1->setText(QStringLiteral("3"));
        Form3->Edit2->setText(QStringLiteral("125"));
        for (int row = 1; row <= 3; ++row)
            for (int column = 1; column <= 5; ++column)
                Form3->setCellText(row, column, QString::number(row * 10 + column));
        Form3->Edit3->setText(QStringLiteral("-20"));
        Form3->ComboBox2->setCurrentIndex(2);
        QTest::mouseClick(Form3->findChild<QPushButton *>(button), Qt::LeftButton);

        const auto frames = control.frames(static_cast<std::size_t>(frameCount));
        QCOMPARE(frames.size(), std::size_t(frameCount));
        const QList<QJsonObject> lines = config.lines();
        QCOMPARE(lines.size(), 1);
        const QJsonObject &line = lines[0];
        QCOMPARE(FramesOf(line), HexTexts(frames));
        const QJsonObject what = line.value(QLatin1String("what")).toObject();
        QCOMPARE(what.value(QLatin1String("command")).toString(), command);
        QCOMPARE(what.value(QLatin1String("chamber")).toInt(), 1);
        QCOMPARE(line.value(QLatin1String("outcome")).toString(), QStringLiteral("sent"));
        QCOMPARE(
            line.value(QLatin1String("who")).toObject().value(QLatin1String("program")).toString(),
            QStringLiteral("kalvora"));
        const QJsonObject before = line.value(QLatin1String("before")).toObject();
        QCOMPARE(before.value(QLatin1String("set_temperature")).toString(), QStringLiteral("25"));
        QVERIFY(before.value(QLatin1String("age_s")).toDouble() >= 0);
        QVERIFY(control.app.errorBoxes.isEmpty());
    }

    void unwritableTrailSendsNothingAndSaysWhy() {
        AuditConfig probe(QString{});
        AuditConfig config(QStringLiteral("audit=on\naudit-dir=") + probe.unwritableFolder());
        ControlLine control;
        control.line.clearReceived();
        Form3->ComboBox2->setCurrentIndex(0);
        for (QPushButton *button : {Form3->Button2, Form3->Button5})
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(control.app.errorBoxes.size(), 2);
        QVERIFY2(control.app.errorBoxes[0].startsWith(
                     QStringLiteral("The audit trail cannot be written (")),
                 qPrintable(control.app.errorBoxes[0]));
        QVERIFY(control.app.errorBoxes[0].contains(QStringLiteral("nothing was sent")));
        QTest::qWait(200);
        QVERIFY(control.line.received().empty());
    }

    void requiredReasonIsAskedAndCancelSendsNothing() {
        AuditConfig config(QStringLiteral("audit-reason=required\naudit-dir=%DIR%\n"));
        ControlLine control;
        control.line.clearReceived();
        QString asked;
        AnswerReasonBox(std::nullopt, &asked);
        QTest::mouseClick(Form3->Button6, Qt::LeftButton);
        QVERIFY2(asked.contains(QStringLiteral("Останов камеры (программы)")), qPrintable(asked));
        QTest::qWait(200);
        QVERIFY(control.line.received().empty());
        QVERIFY(config.files().isEmpty());

        AnswerReasonBox(QStringLiteral("калибровка датчика"), &asked);
        QTest::mouseClick(Form3->Button6, Qt::LeftButton);
        QCOMPARE(control.frames(1).size(), std::size_t(1));
        const QList<QJsonObject> lines = config.lines();
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].value(QLatin1String("reason")).toString(),
                 QStringLiteral("калибровка датчика"));
        QVERIFY(control.app.errorBoxes.isEmpty());
    }

    // The window's clicks and kalvora-cli's writes land in one trail at the same time.
    void windowAndCliWritingAtOnceKeepTheChainWhole() {
        AuditConfig config(QStringLiteral("audit=on\naudit-dir=%DIR%\n"));
        ControlLine control;
        SimulatedLine cliLine({1});
        constexpr int kWrites = 8;
        QProcess cli;
        StopOnExit stop{cli};
        cli.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"),
             QStringLiteral("for i in $(seq %1); do \"$0\" stop 1 --port \"$1\" || exit 1; done")
                 .arg(kWrites),
             QStringLiteral(CLI_BINARY), cliLine.slavePath()});
        QVERIFY(cli.waitForStarted());
        for (int i = 0; i < kWrites; ++i)
            QTest::mouseClick(Form3->Button2, Qt::LeftButton);
        QVERIFY(cli.waitForFinished(120000));
        QCOMPARE(cli.exitCode(), 0);

        const QList<AuditFileBytes> files = config.files();
        for (const AuditFileBytes &file : files)
            QVERIFY(file.bytes.endsWith('\n'));
        const AuditVerification verified = VerifyAuditFiles(files);
        QVERIFY2(verified.intact, qPrintable(verified.failure));
        QVERIFY(verified.notes.isEmpty());
        QCOMPARE(verified.lines, qint64(kWrites * 3)); // the tool writes its answer too
        int window = 0;
        for (const QJsonObject &line : config.lines())
            window += line.value(QLatin1String("who")).toObject().value(QLatin1String("program")) ==
                      QLatin1String("kalvora");
        QCOMPARE(window, kWrites);
    }
};

QTEST_MAIN(tst_ControlAudit)
#include "tst_ControlAudit.moc"

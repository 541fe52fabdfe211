// What the audit trail says of a write relayed through a shared link, read from its frame alone:
// each control command the window and kalvora-cli send is named in words and numbers, any other
// write is kept as its registers; and how a --share value names its link and its user.
#include "core/AuditCommands.h"
#include "core/ControlFrames.h"
#include "core/ModbusRtu.h"
#include "core/SharedLinkOption.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

Q_DECLARE_METATYPE(Frame)

class tst_RelayedWrite : public QObject {
    Q_OBJECT

private slots:
    void namesTheCommandOfItsFrame_data() {
        QTest::addColumn<Frame>("frame");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("values");
        QTest::newRow("set-point below zero") << BuildSetPointFrame(3, -20) << "set_point"
                                              << "Уставка ручного задания: −20 °C"
                                              << R"({"temperature_c":-20})";
        QTest::newRow("set-point") << BuildSetPointFrame(3, 85) << "set_point"
                                   << "Уставка ручного задания: 85 °C"
                                   << R"({"temperature_c":85})";
        QTest::newRow("manual start") << BuildManualModeFrame(3, true) << "manual_start"
                                      << "Запуск камеры (ручной режим)"
                                      << "{}";
        QTest::newRow("manual stop") << BuildManualModeFrame(3, false) << "manual_stop"
                                     << "Останов камеры (ручной режим)"
                                     << "{}";
        QTest::newRow("program start") << BuildProgramStartFrame(3, 7) << "program_start"
                                       << "Запуск камеры (программы) с программы №7"
                                       << R"({"from_program":7})";
        QTest::newRow("program stop") << BuildProgramStopFrame(3) << "program_stop"
                                      << "Останов камеры (программы)"
                                      << "{}";
        QTest::newRow("a step of a program, below zero")
            << BuildStepFrame(3, 4, 2, StepValues{-40, 1, 30, 0, 45}, 5, 123)
            << "program_step_written"
            << "Запись шага 2 программы №4: −40 °C, выдержка 1 ч 30 мин, выход на режим 0 ч "
               "45 мин (шагов 5, циклов 123)"
            << R"({"cycles":123,"program":4,"stabilisation_h":1,"stabilisation_min":30,)"
               R"("step":2,"steps":5,"temperature_c":-40,"to_mode_h":0,"to_mode_min":45})";
        // Registers no command of the program writes: kept as they are, never guessed at.
        QTest::newRow("other registers")
            << BuildWriteFrame(3, 40, {1, 65535}) << "registers_written"
            << "Запись регистров 40–41: 1, 65535"
            << R"({"start":40,"values":[1,65535]})";
        QTest::newRow("set-point with a sign code no chamber knows")
            << BuildWriteFrame(3, 13, {20, 0, 7}) << "registers_written"
            << "Запись регистров 13–15: 20, 0, 7"
            << R"({"start":13,"values":[20,0,7]})";
    }
    void namesTheCommandOfItsFrame() {
        QFETCH(Frame, frame);
        QFETCH(QString, command);
        QFETCH(QString, words);
        QFETCH(QString, values);
        const QJsonObject what = RelayedWriteWhat(frame);
        QCOMPARE(what.value(QStringLiteral("chamber")).toInt(), 3);
        QCOMPARE(what.value(QStringLiteral("command")).toString(), command);
        QCOMPARE(what.value(QStringLiteral("words")).toString(), words);
        QCOMPARE(QString::fromUtf8(QJsonDocument(what.value(QStringLiteral("values")).toObject())
                                       .toJson(QJsonDocument::Compact)),
                 values);
        QCOMPARE(AuditFrames(what), std::vector<Frame>{frame});
    }

    void readsTheLinkAndItsUser_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("valid");
        QTest::newRow("a path") << "/run/kalvora/COM2"
                                << "/run/kalvora/COM2"
                                << "" << true;
        QTest::newRow("a path for a user") << "/run/kalvora/COM2:anna"
                                           << "/run/kalvora/COM2"
                                           << "anna" << true;
        QTest::newRow("a colon in a folder's name") << "/run/a:b/COM2"
                                                    << "/run/a:b/COM2"
                                                    << "" << true;
        QTest::newRow("a user with dots and a dash") << "COM2:j.doe-2"
                                                     << "COM2"
                                                     << "j.doe-2" << true;
        QTest::newRow("an empty user") << "/run/kalvora/COM2:"
                                       << ""
                                       << "" << false;
        QTest::newRow("a blank in the user") << "/run/COM2:an na"
                                             << ""
                                             << "" << false;
        QTest::newRow("no path") << ":anna"
                                 << ""
                                 << "" << false;
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "" << false;
    }
    void readsTheLinkAndItsUser() {
        QFETCH(QString, text);
        QFETCH(QString, path);
        QFETCH(QString, user);
        QFETCH(bool, valid);
        QString error;
        const std::optional<SharedLinkOption> link = ParseSharedLinkOption(text, &error);
        QCOMPARE(link.has_value(), valid);
        if (!valid) {
            QVERIFY(error.contains(text));
            return;
        }
        QCOMPARE(link->path, path);
        QCOMPARE(link->user, user);
    }
};

QTEST_APPLESS_MAIN(tst_RelayedWrite)
#include "tst_RelayedWrite.moc"

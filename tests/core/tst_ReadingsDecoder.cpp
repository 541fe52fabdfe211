#include "core/ReadingsDecoder.h"

#include <QtTest>
#include <array>

using Registers = std::array<unsigned, 15>;

namespace {

const QChar kComma = QLatin1Char(',');

std::array<std::uint8_t, 35> Reply(const Registers &registers) {
    std::array<std::uint8_t, 35> reply{1, 4, 30};
    for (int k = 0; k < 15; ++k) {
        reply[3 + 2 * k] = static_cast<std::uint8_t>(registers[k] >> 8);
        reply[4 + 2 * k] = static_cast<std::uint8_t>(registers[k] & 0xFF);
    }
    return reply;
}

// Every hours value fails its bound, so the time labels keep their texts.
Registers TimesFailing() {
    Registers registers{};
    registers.fill(0xFFFF);
    return registers;
}

enum class TimeLabel { Stabilisation, TimeToMode, TimeToModeSetPoint, StabilisationSetPoint };

QString &TimeText(FigureTexts &figures, TimeLabel label) {
    switch (label) {
    case TimeLabel::Stabilisation:
        return figures.stabilisationTime;
    case TimeLabel::TimeToMode:
        return figures.timeToMode;
    case TimeLabel::TimeToModeSetPoint:
        return figures.timeToModeSetPoint;
    case TimeLabel::StabilisationSetPoint:
        break;
    }
    return figures.stabilisationSetPoint;
}

QStringList TimeTexts(const FigureTexts &figures) {
    return {figures.stabilisationTime, figures.timeToMode, figures.timeToModeSetPoint,
            figures.stabilisationSetPoint};
}

} // namespace

class tst_ReadingsDecoder : public QObject {
    Q_OBJECT

private slots:
    void startTexts() {
        const FigureTexts start = StartFigureTexts();
        QCOMPARE(QStringList({start.currentTemperature, start.program, start.setTemperature}),
                 QStringList({"0", "0", "0"}));
        QCOMPARE(TimeTexts(start), QStringList({"00:00", "00:00", "00:00", "00:00"}));
        QCOMPARE(QStringList({start.step, start.cycle}), QStringList({"0(0)", "0(0)"}));
    }

    void temperature_data() {
        QTest::addColumn<unsigned>("value");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<QString>("kept");
        QTest::newRow("235 is 23,5") << 235u << ""
                                     << "23,5";
        QTest::newRow("0 is 0") << 0u << "5"
                                << "0";
        QTest::newRow("2499 is 249,9") << 2499u << ""
                                       << "249,9";
        QTest::newRow("200 is 20") << 200u << ""
                                   << "20";
        QTest::newRow("65136 is -40") << 65136u << ""
                                      << "-40";
        QTest::newRow("64537 is -99,9") << 64537u << ""
                                        << "-99,9";
        QTest::newRow("65535 is -0,1") << 65535u << ""
                                       << "-0,1";
        QTest::newRow("64536 (-100) rejected") << 64536u << "23,5"
                                               << "23,5";
        QTest::newRow("2500 (250) rejected") << 2500u << "23,5"
                                             << "23,5";
        QTest::newRow("50000 (+5000) rejected") << 50000u << "23,5"
                                                << "23,5";
        QTest::newRow("50001 (-1553,5) rejected") << 50001u << "23,5"
                                                  << "23,5";
        QTest::newRow("first value implausible leaves empty") << 2500u << ""
                                                              << "";
    }
    void temperature() {
        QFETCH(unsigned, value);
        QFETCH(QString, previous);
        QFETCH(QString, kept);
        for (const int reg : {0, 2}) {
            Registers registers = TimesFailing();
            registers[0] = registers[2] = 2500; // the other temperature is rejected
            registers[reg] = value;
            FigureTexts figures = StartFigureTexts();
            KeptTexts texts;
            (reg == 0 ? texts.currentTemperature : texts.setTemperature) = previous;
            DecodeCurrentValues(Reply(registers).data(), figures, texts, kComma);
            const QString &label = reg == 0 ? figures.currentTemperature : figures.setTemperature;
            const QString &keptText = reg == 0 ? texts.currentTemperature : texts.setTemperature;
            QCOMPARE(keptText, kept);
            QCOMPARE(label, kept); // the label shows the kept text, also when rejected
        }
    }

    void time_data() {
        QTest::addColumn<TimeLabel>("label");
        QTest::addColumn<int>("hoursRegister");
        QTest::addColumn<unsigned>("hours");
        QTest::addColumn<unsigned>("minutes");
        QTest::addColumn<QString>("expected");
        const auto stab = TimeLabel::Stabilisation;
        const auto mode = TimeLabel::TimeToMode;
        const auto stabSet = TimeLabel::StabilisationSetPoint;
        QTest::newRow("9 h 0 min") << stab << 4 << 9u << 0u << "09:00";
        QTest::newRow("0 h 59 min") << stab << 4 << 0u << 59u << "00:59";
        QTest::newRow("5 h 7 min") << stab << 4 << 5u << 7u << "05:07";
        QTest::newRow("199 h within 200") << stab << 4 << 199u << 59u << "199:59";
        QTest::newRow("minutes 60 leave the hours alone") << stab << 4 << 5u << 60u << "05";
        QTest::newRow("hours 200 leave the previous text") << stab << 4 << 200u << 30u << "12:34";
        QTest::newRow("hours and minutes failing") << stab << 4 << 200u << 60u << "12:34";
        QTest::newRow("time to mode 123 h 45 min") << mode << 6 << 123u << 45u << "123:45";
        QTest::newRow("time to mode 999 h within 1000") << mode << 6 << 999u << 0u << "999:00";
        QTest::newRow("time to mode 1000 h") << mode << 6 << 1000u << 0u << "12:34";
        QTest::newRow("stabilisation set-point") << stabSet << 8 << 12u << 30u << "12:30";
        QTest::newRow("stabilisation set-point 200 h") << stabSet << 8 << 200u << 0u << "12:34";
    }
    void time() {
        QFETCH(TimeLabel, label);
        QFETCH(int, hoursRegister);
        QFETCH(unsigned, hours);
        QFETCH(unsigned, minutes);
        QFETCH(QString, expected);
        Registers registers = TimesFailing();
        registers[hoursRegister] = hours;
        registers[hoursRegister + 1] = minutes;
        FigureTexts figures = StartFigureTexts();
        TimeText(figures, label) = QStringLiteral("12:34");
        FigureTexts wanted = figures;
        TimeText(wanted, label) = expected;
        KeptTexts kept;
        DecodeCurrentValues(Reply(registers).data(), figures, kept, kComma);
        QCOMPARE(TimeTexts(figures), TimeTexts(wanted));
    }

    void timeToModeSetPoint_data() {
        QTest::addColumn<unsigned>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0u << "00:00";
        QTest::newRow("59") << 59u << "00:59";
        QTest::newRow("605") << 605u << "10:05";
        QTest::newRow("11999") << 11999u << "199:59";
        QTest::newRow("12000 fails the hours bound") << 12000u << "12:34";
        QTest::newRow("65535") << 65535u << "12:34";
    }
    void timeToModeSetPoint() {
        QFETCH(unsigned, value);
        QFETCH(QString, expected);
        Registers registers = TimesFailing();
        registers[14] = value;
        FigureTexts figures = StartFigureTexts();
        figures.timeToModeSetPoint = QStringLiteral("12:34");
        FigureTexts wanted = figures;
        wanted.timeToModeSetPoint = expected;
        KeptTexts kept;
        DecodeCurrentValues(Reply(registers).data(), figures, kept, kComma);
        QCOMPARE(TimeTexts(figures), TimeTexts(wanted));
    }

    void counters_data() {
        QTest::addColumn<Registers>("registers");  // registers 1, 10, 11, 12, 13 matter here
        QTest::addColumn<QStringList>("expected"); // program, step, cycle
        const auto regs = [](unsigned program, unsigned step, unsigned steps, unsigned cycle,
                             unsigned cycles) {
            Registers r = TimesFailing();
            r[1] = program;
            r[10] = step;
            r[11] = steps;
            r[12] = cycle;
            r[13] = cycles;
            return r;
        };
        const QStringList previous{"7", "1(2)", "3(4)"};
        QTest::newRow("step 3 of 12")
            << regs(20, 3, 12, 1000, 0) << QStringList{"7", "3(12)", "3(4)"};
        QTest::newRow("step 19 of 19")
            << regs(20, 19, 19, 1000, 0) << QStringList{"7", "19(19)", "3(4)"};
        QTest::newRow("20 steps rejected with a plausible step")
            << regs(20, 3, 20, 1000, 0) << previous;
        QTest::newRow("step 20 rejected") << regs(20, 20, 3, 1000, 0) << previous;
        QTest::newRow("cycle 2 of 65535")
            << regs(20, 20, 0, 2, 65535) << QStringList{"7", "1(2)", "2(65535)"};
        QTest::newRow("cycle 999") << regs(20, 20, 0, 999, 0) << QStringList{"7", "1(2)", "999(0)"};
        QTest::newRow("cycle 1000 rejected") << regs(20, 20, 0, 1000, 5) << previous;
        QTest::newRow("program 19")
            << regs(19, 20, 0, 1000, 0) << QStringList{"19", "1(2)", "3(4)"};
        QTest::newRow("program 0") << regs(0, 20, 0, 1000, 0) << QStringList{"0", "1(2)", "3(4)"};
        QTest::newRow("program 20 rejected") << regs(20, 20, 0, 1000, 0) << previous;
    }
    void counters() {
        QFETCH(Registers, registers);
        QFETCH(QStringList, expected);
        FigureTexts figures = StartFigureTexts();
        figures.program = QStringLiteral("7");
        figures.step = QStringLiteral("1(2)");
        figures.cycle = QStringLiteral("3(4)");
        KeptTexts kept{{}, {}, figures.program, figures.step, figures.cycle};
        DecodeCurrentValues(Reply(registers).data(), figures, kept, kComma);
        QCOMPARE(QStringList({kept.program, kept.step, kept.cycle}), expected);
        QCOMPARE(QStringList({figures.program, figures.step, figures.cycle}), expected);
    }

    // A full reply: every quantity lands in its own figure; register 3 has no effect.
    void wholeReply_data() {
        QTest::addColumn<unsigned>("register3");
        QTest::newRow("register 3 zero") << 0u;
        QTest::newRow("register 3 all ones") << 0xFFFFu;
    }
    void wholeReply() {
        QFETCH(unsigned, register3);
        const Registers registers{235, 2, 65136, register3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 605};
        FigureTexts figures = StartFigureTexts();
        KeptTexts kept;
        DecodeCurrentValues(Reply(registers).data(), figures, kept, QLatin1Char('.'));
        QCOMPARE(
            QStringList({figures.currentTemperature, figures.program, figures.setTemperature,
                         figures.stabilisationTime, figures.timeToMode, figures.timeToModeSetPoint,
                         figures.stabilisationSetPoint, figures.step, figures.cycle}),
            QStringList({"23.5", "2", "-40", "01:02", "03:04", "10:05", "05:06", "7(8)", "9(10)"}));
        QCOMPARE(QStringList({kept.currentTemperature, kept.setTemperature, kept.program, kept.step,
                              kept.cycle}),
                 QStringList({"23.5", "-40", "2", "7(8)", "9(10)"}));
    }
};

QTEST_APPLESS_MAIN(tst_ReadingsDecoder)
#include "tst_ReadingsDecoder.moc"

// The numeric decoding agrees with the window's texts over one table of register values.
#include "core/NumberText.h"
#include "core/ReadingValues.h"
#include "core/ReadingsDecoder.h"

#include <QtTest>
#include <array>

using Registers = std::array<std::uint16_t, 15>;
Q_DECLARE_METATYPE(Registers)

class tst_ReadingValues : public QObject {
    Q_OBJECT
private slots:
    void agreesWithWindow_data();
    void agreesWithWindow();
};

void tst_ReadingValues::agreesWithWindow_data() {
    QTest::addColumn<Registers>("registers");
    QTest::newRow("plausible") << Registers{235, 2, 65336, 7, 1, 30, 123, 45, 9, 0, 3, 12, 2, 65535, 605};
    QTest::newRow("bounds fail") << Registers{2500, 20, 64536, 0, 200, 1, 1000, 5, 1, 60, 3, 20, 1000, 4, 12000};
    QTest::newRow("edges pass") << Registers{64537, 19, 2499, 0, 199, 59, 999, 0, 0, 59, 19, 19, 999, 0, 11999};
    QTest::newRow("50000 and 50001") << Registers{50000, 0, 50001, 0, 0, 60, 0, 0, 0, 0, 20, 0, 0, 0, 59};
}

void tst_ReadingValues::agreesWithWindow() {
    QFETCH(Registers, registers);
    std::array<std::uint8_t, 35> reply{};
    reply[0] = 1;
    reply[1] = 4;
    reply[2] = 30;
    for (int k = 0; k < 15; ++k) {
        reply[3 + 2 * k] = registers[k] >> 8;
        reply[4 + 2 * k] = registers[k] & 0xFF;
    }
    const QString before = QStringLiteral("?");
    FigureTexts figures{before, before, before, before, before, before, before, before, before};
    KeptTexts kept{before, before, before, before, before};
    DecodeCurrentValues(reply.data(), figures, kept, QLatin1Char('.'));
    const ReadingValues v = DecodeReadingValues(reply.data());

    const auto temperature = [&](const std::optional<double> &t, const QString &text) {
        QCOMPARE(text, t ? FloatToText(*t, QLatin1Char('.')) : before);
    };
    temperature(v.currentTemperature, figures.currentTemperature);
    temperature(v.setTemperature, figures.setTemperature);
    // A time is a value only when hours and minutes both pass; the window then shows the same
    // text, and with failing minutes it shows the hours alone.
    const auto time = [&](const std::optional<HoursMinutes> &t, const QString &text) {
        if (t)
            QCOMPARE(text, HoursMinutesText(*t));
        else
            QVERIFY2(text == before || !text.contains(QLatin1Char(':')), qPrintable(text));
    };
    time(v.stabilisationTime, figures.stabilisationTime);
    time(v.timeToMode, figures.timeToMode);
    time(v.timeToModeSetPoint, figures.timeToModeSetPoint);
    time(v.stabilisationSetPoint, figures.stabilisationSetPoint);
    QCOMPARE(figures.program, v.program ? QString::number(*v.program) : before);
    QCOMPARE(figures.step, v.step ? QStringLiteral("%1(%2)").arg(*v.step).arg(*v.steps) : before);
    QCOMPARE(figures.cycle, v.cycle ? QStringLiteral("%1(%2)").arg(*v.cycle).arg(*v.cycles) : before);
}

QTEST_GUILESS_MAIN(tst_ReadingValues)
#include "tst_ReadingValues.moc"

#include "ReadingsDecoder.h"

#include "InputRegisterMap.h"
#include "IntegerText.h"
#include "NumberText.h"

namespace {

using namespace input_registers;

void DecodeTemperature(unsigned value, QString &label, QString &kept, QChar decimalSeparator) {
    const double t = TemperatureOf(value);
    if (IsPlausibleTemperature(t))
        kept = FloatToText(t, decimalSeparator);
    label = kept;
}

// A failing hours value leaves the label as it was: appending minutes to the previous text
// would make it grow with every such reply.
void DecodeTime(unsigned hours, unsigned hoursBound, unsigned minutes, QString &label) {
    if (hours >= hoursBound)
        return;
    label = TwoDigitText(hours);
    if (minutes < kMinutesBound)
        label += QLatin1Char(':') + TwoDigitText(minutes);
}

QString PairText(unsigned current, unsigned total) {
    return IntToText(current) + QLatin1Char('(') + IntToText(total) + QLatin1Char(')');
}

} // namespace

FigureTexts StartFigureTexts() {
    const QString zero = QStringLiteral("0");
    const QString noTime = QStringLiteral("00:00");
    const QString noPair = QStringLiteral("0(0)");
    FigureTexts texts;
    texts.currentTemperature = zero;
    texts.program = zero;
    texts.setTemperature = zero;
    texts.stabilisationTime = noTime;
    texts.timeToMode = noTime;
    texts.timeToModeSetPoint = noTime;
    texts.stabilisationSetPoint = noTime;
    texts.step = noPair;
    texts.cycle = noPair;
    return texts;
}

void DecodeCurrentValues(const std::uint8_t *reply, FigureTexts &figures, KeptTexts &kept,
                         QChar decimalSeparator) {
    const auto reg = [reply](int index) { return Register(reply, index); };

    DecodeTemperature(reg(0), figures.currentTemperature, kept.currentTemperature,
                      decimalSeparator);
    DecodeTemperature(reg(2), figures.setTemperature, kept.setTemperature, decimalSeparator);
    DecodeTime(reg(4), kHoursBound, reg(5), figures.stabilisationTime);
    DecodeTime(reg(6), kTimeToModeHoursBound, reg(7), figures.timeToMode);
    DecodeTime(reg(14) / 60, kHoursBound, reg(14) % 60, figures.timeToModeSetPoint);
    DecodeTime(reg(8), kHoursBound, reg(9), figures.stabilisationSetPoint);

    if (reg(10) < kStepBound && reg(11) < kStepBound) {
        kept.step = PairText(reg(10), reg(11));
        figures.step = kept.step;
    }
    if (reg(12) < kCycleBound) {
        kept.cycle = PairText(reg(12), reg(13));
        figures.cycle = kept.cycle;
    }
    if (reg(1) < kProgramBound) {
        kept.program = IntToText(reg(1));
        figures.program = kept.program;
    }
}

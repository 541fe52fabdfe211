#include "AuditCommands.h"

#include <QJsonArray>
#include <QStringList>

namespace {

QJsonObject What(int chamber, const char *command, const QString &words, const QJsonObject &values,
                 const std::vector<Frame> &frames) {
    QJsonArray hex;
    for (const Frame &frame : frames)
        hex.append(FrameHexText(frame));
    return {{QStringLiteral("chamber"), chamber},
            {QStringLiteral("command"), QLatin1String(command)},
            {QStringLiteral("words"), words},
            {QStringLiteral("values"), values},
            {QStringLiteral("frames"), hex}};
}

QString Degrees(int temperature) {
    // U+2212: a minus that no reader takes for a hyphen.
    return (temperature < 0 ? QStringLiteral("\u2212") + QString::number(-temperature)
                            : QString::number(temperature)) +
           QStringLiteral(" °C");
}

} // namespace

QString FrameHexText(const Frame &frame) {
    QStringList parts;
    for (const std::uint8_t byte : frame)
        parts << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

std::vector<Frame> AuditFrames(const QJsonObject &what) {
    std::vector<Frame> frames;
    for (const QJsonValue &value : what.value(QLatin1String("frames")).toArray()) {
        Frame frame;
        for (const QString &part : value.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint byte = part.toUInt(&ok, 16);
            if (!ok || byte > 0xFF)
                return {};
            frame.push_back(static_cast<std::uint8_t>(byte));
        }
        frames.push_back(frame);
    }
    return frames;
}

QJsonObject ProgramWrittenWhat(int chamber, int program, const ProgramInput &input,
                               const std::vector<Frame> &frames) {
    QJsonArray table;
    for (int row = 0; row < input.steps; ++row) {
        const StepValues &step = input.rows[static_cast<std::size_t>(row)];
        table.append(QJsonObject{{QStringLiteral("step"), row + 1},
                                 {QStringLiteral("temperature_c"), step.temperature},
                                 {QStringLiteral("stabilisation_h"), step.stabilisationHours},
                                 {QStringLiteral("stabilisation_min"), step.stabilisationMinutes},
                                 {QStringLiteral("to_mode_h"), step.timeToModeHours},
                                 {QStringLiteral("to_mode_min"), step.timeToModeMinutes}});
    }
    const QString words = QStringLiteral("Запись программы №%1: шагов %2, циклов %3")
                              .arg(program)
                              .arg(input.steps)
                              .arg(input.cycles);
    return What(chamber, "program_written", words,
                {{QStringLiteral("program"), program},
                 {QStringLiteral("steps"), input.steps},
                 {QStringLiteral("cycles"), input.cycles},
                 {QStringLiteral("table"), table}},
                frames);
}

QJsonObject SetPointWhat(int chamber, int temperature, const Frame &frame) {
    return What(chamber, "set_point",
                QStringLiteral("Уставка ручного задания: ") + Degrees(temperature),
                {{QStringLiteral("temperature_c"), temperature}}, {frame});
}

QJsonObject ManualModeWhat(int chamber, bool start, const Frame &frame) {
    return What(chamber, start ? "manual_start" : "manual_stop",
                start ? QStringLiteral("Запуск камеры (ручной режим)")
                      : QStringLiteral("Останов камеры (ручной режим)"),
                {}, {frame});
}

QJsonObject ProgramStartWhat(int chamber, int fromProgram, const Frame &frame) {
    return What(chamber, "program_start",
                QStringLiteral("Запуск камеры (программы) с программы №%1").arg(fromProgram),
                {{QStringLiteral("from_program"), fromProgram}}, {frame});
}

QJsonObject ProgramStopWhat(int chamber, const Frame &frame) {
    return What(chamber, "program_stop", QStringLiteral("Останов камеры (программы)"), {}, {frame});
}

QJsonValue BeforeReading(const KeptTexts &kept, const QDateTime &readAt, const QDateTime &now) {
    if (!readAt.isValid())
        return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("set_temperature"), kept.setTemperature},
                       {QStringLiteral("current_temperature"), kept.currentTemperature},
                       {QStringLiteral("program"), kept.program},
                       {QStringLiteral("step"), kept.step},
                       {QStringLiteral("cycle"), kept.cycle},
                       {QStringLiteral("read_utc"), readAt.toUTC().toString(Qt::ISODateWithMs)},
                       {QStringLiteral("age_s"), readAt.msecsTo(now) / 1000.0}};
}

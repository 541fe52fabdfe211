#include "AuditCommands.h"

#include <QJsonArray>
#include <optional>
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


// The registers a function-16 frame writes: its start and values; none for another frame.
struct WrittenRegisters {
    int start = 0;
    std::vector<int> values;
};

std::optional<WrittenRegisters> RegistersOf(const Frame &frame) {
    if (frame.size() < 9 || frame[1] != 16)
        return std::nullopt;
    const auto word = [&frame](std::size_t at) { return frame[at] << 8 | frame[at + 1]; };
    WrittenRegisters written{word(2), {}};
    const std::size_t count = static_cast<std::size_t>(word(4));
    if (static_cast<std::size_t>(frame[6]) != 2 * count || frame.size() != 9 + 2 * count)
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i)
        written.values.push_back(word(7 + 2 * i));
    return written;
}

// A temperature's magnitude and sign code, as the frames carry it (the step's code is the
// other way round from the set-point's).
int SignedTemperature(int magnitude, bool belowZero) { return belowZero ? -magnitude : magnitude; }

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

QJsonObject RelayedWriteWhat(const Frame &frame) {
    const int chamber = frame.empty() ? 0 : frame[0];
    const std::optional<WrittenRegisters> written = RegistersOf(frame);
    if (written) {
        const std::vector<int> &v = written->values;
        const int start = written->start;
        if (start == 13 && v.size() == 3 && v[1] == 0 && (v[2] == 1 || v[2] == 2))
            return SetPointWhat(chamber, SignedTemperature(v[0], v[2] == 2), frame);
        if (start == 16 && v.size() == 1 && (v[0] == 1 || v[0] == 2))
            return ManualModeWhat(chamber, v[0] == 1, frame);
        if (start == 17 && v.size() == 2 && v[0] == 1)
            return ProgramStartWhat(chamber, v[1], frame);
        if (start == 17 && v.size() == 1 && v[0] == 2)
            return ProgramStopWhat(chamber, frame);
        if (start == 0 && v.size() == 13 && (v[8] == 1 || v[8] == 2)) {
            const int temperature = SignedTemperature(v[2], v[8] == 1);
            const int cycles = v[7] * 100 + v[11] * 10 + v[12];
            const QString words =
                QStringLiteral("Запись шага %1 программы №%2: %3, выдержка %4 ч %5 мин, выход "
                               "на режим %6 ч %7 мин (шагов %8, циклов %9)")
                    .arg(v[1])
                    .arg(v[0])
                    .arg(Degrees(temperature))
                    .arg(v[3])
                    .arg(v[4])
                    .arg(v[9])
                    .arg(v[10])
                    .arg(v[6])
                    .arg(cycles);
            return What(chamber, "program_step_written", words,
                        {{QStringLiteral("program"), v[0]},
                         {QStringLiteral("step"), v[1]},
                         {QStringLiteral("steps"), v[6]},
                         {QStringLiteral("cycles"), cycles},
                         {QStringLiteral("temperature_c"), temperature},
                         {QStringLiteral("stabilisation_h"), v[3]},
                         {QStringLiteral("stabilisation_min"), v[4]},
                         {QStringLiteral("to_mode_h"), v[9]},
                         {QStringLiteral("to_mode_min"), v[10]}},
                        {frame});
        }
    }
    // Any other write is kept as its registers and values.
    QStringList values;
    QJsonArray numbers;
    for (const int value : written ? written->values : std::vector<int>{}) {
        values << QString::number(value);
        numbers.append(value);
    }
    const int start = written ? written->start : 0;
    const int last = start + static_cast<int>(numbers.size()) - 1;
    const QString range = last > start ? QStringLiteral("%1–%2").arg(start).arg(last)
                                       : QString::number(start);
    return What(chamber, "registers_written",
                QStringLiteral("Запись регистров %1: %2").arg(range, values.join(QStringLiteral(", "))),
                {{QStringLiteral("start"), start}, {QStringLiteral("values"), numbers}}, {frame});
}

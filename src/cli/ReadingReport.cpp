#include "ReadingReport.h"

#include "core/NumberText.h"

#include <QStringList>
#include <functional>

namespace {

// A value's text, or `missing` when it failed its bound.
template <class T>
QString Cell(const std::optional<T> &value, const std::function<QString(const T &)> &text,
             const QString &missing) {
    return value ? text(*value) : missing;
}

QString Number(const double &value) { return FloatToText(value, QLatin1Char('.')); }
QString Whole(const unsigned &value) { return QString::number(value); }
QString Time(const HoursMinutes &value) { return HoursMinutesText(value); }
QString QuotedTime(const HoursMinutes &value) {
    return QLatin1Char('"') + HoursMinutesText(value) + QLatin1Char('"');
}

struct Field {
    const char *key;
    const char *label;
    std::function<QString(const ReadingValues &, bool json, const QString &missing)> cell;
};

template <class T>
Field MakeField(const char *key, const char *label, std::optional<T> ReadingValues::*member,
                QString (*text)(const T &), QString (*jsonText)(const T &) = nullptr) {
    return {key, label, [=](const ReadingValues &v, bool json, const QString &missing) {
                return Cell<T>(v.*member, json && jsonText ? jsonText : text, missing);
            }};
}

// In the order of the CSV columns and the JSON keys.
const std::vector<Field> &Fields() {
    static const std::vector<Field> fields{
        MakeField("current_temperature", "Current temperature, °C",
                  &ReadingValues::currentTemperature, Number),
        MakeField("set_temperature", "Set temperature, °C", &ReadingValues::setTemperature,
                  Number),
        MakeField("time_to_mode", "Time to mode, hh:mm", &ReadingValues::timeToMode, Time,
                  QuotedTime),
        MakeField("stabilisation_time", "Stabilisation time, hh:mm",
                  &ReadingValues::stabilisationTime, Time, QuotedTime),
        MakeField("time_to_mode_set_point", "Time-to-mode set-point, hh:mm",
                  &ReadingValues::timeToModeSetPoint, Time, QuotedTime),
        MakeField("stabilisation_set_point", "Stabilisation set-point, hh:mm",
                  &ReadingValues::stabilisationSetPoint, Time, QuotedTime),
        MakeField("program", "Program", &ReadingValues::program, Whole),
        MakeField("step", "Step", &ReadingValues::step, Whole),
        MakeField("steps", "Steps", &ReadingValues::steps, Whole),
        MakeField("cycle", "Cycle", &ReadingValues::cycle, Whole),
        MakeField("cycles", "Cycles", &ReadingValues::cycles, Whole),
    };
    return fields;
}

QString PairText(const std::optional<unsigned> &current, const std::optional<unsigned> &total) {
    if (!current || !total)
        return QStringLiteral("-");
    return QStringLiteral("%1(%2)").arg(*current).arg(*total);
}

} // namespace

QString ReadingText(const ReadingValues &values) {
    QString text;
    const QString missing = QStringLiteral("-");
    for (const Field &field : Fields()) {
        const QString key = QLatin1String(field.key);
        // Step and cycle read as the window shows them: current(total).
        if (key == QLatin1String("steps") || key == QLatin1String("cycles"))
            continue;
        QString value = field.cell(values, false, missing);
        if (key == QLatin1String("step"))
            value = PairText(values.step, values.steps);
        else if (key == QLatin1String("cycle"))
            value = PairText(values.cycle, values.cycles);
        text += QString::fromUtf8(field.label) + QStringLiteral(": ") + value + QLatin1Char('\n');
    }
    return text;
}

QString ReadingJson(int address, const ReadingValues &values) {
    QStringList members{QStringLiteral("\"address\": %1").arg(address)};
    for (const Field &field : Fields())
        members << QStringLiteral("\"%1\": %2")
                       .arg(QLatin1String(field.key),
                            field.cell(values, true, QStringLiteral("null")));
    return QLatin1Char('{') + members.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString CsvHeader() {
    QStringList names{QStringLiteral("time")};
    for (const Field &field : Fields())
        names << QLatin1String(field.key);
    return names.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString CsvRow(const QString &time, const ReadingValues &values) {
    QStringList cells{time};
    for (const Field &field : Fields())
        cells << field.cell(values, false, QString());
    return cells.join(QLatin1Char(',')) + QLatin1Char('\n');
}

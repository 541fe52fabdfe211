#include "base/ReadingReport.h"

#include "core/NumberText.h"
#include "core/ReadingsCsv.h"
#include "core/ReadingsCsvColumns.h"

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
    ReadingsColumn column; // its CSV column; the column's name is its JSON key
    const char *label;
    std::function<QString(const ReadingValues &, bool json, const QString &missing)> cell;
};

template <class T>
Field MakeField(ReadingsColumn column, const char *label, std::optional<T> ReadingValues::*member,
                QString (*text)(const T &), QString (*jsonText)(const T &) = nullptr) {
    return {column, label, [=](const ReadingValues &v, bool json, const QString &missing) {
                return Cell<T>(v.*member, json && jsonText ? jsonText : text, missing);
            }};
}

QString Key(const Field &field) {
    const std::string_view name = ColumnName(field.column);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

// Every column after the time, in the order of the text lines and the JSON keys.
const std::vector<Field> &Fields() {
    using C = ReadingsColumn;
    static const std::vector<Field> fields{
        MakeField(C::CurrentTemperature, "Current temperature, °C",
                  &ReadingValues::currentTemperature, Number),
        MakeField(C::SetTemperature, "Set temperature, °C", &ReadingValues::setTemperature,
                  Number),
        MakeField(C::TimeToMode, "Time to mode, hh:mm", &ReadingValues::timeToMode, Time,
                  QuotedTime),
        MakeField(C::StabilisationTime, "Stabilisation time, hh:mm",
                  &ReadingValues::stabilisationTime, Time, QuotedTime),
        MakeField(C::TimeToModeSetPoint, "Time-to-mode set-point, hh:mm",
                  &ReadingValues::timeToModeSetPoint, Time, QuotedTime),
        MakeField(C::StabilisationSetPoint, "Stabilisation set-point, hh:mm",
                  &ReadingValues::stabilisationSetPoint, Time, QuotedTime),
        MakeField(C::Program, "Program", &ReadingValues::program, Whole),
        MakeField(C::Step, "Step", &ReadingValues::step, Whole),
        MakeField(C::Steps, "Steps", &ReadingValues::steps, Whole),
        MakeField(C::Cycle, "Cycle", &ReadingValues::cycle, Whole),
        MakeField(C::Cycles, "Cycles", &ReadingValues::cycles, Whole),
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
        const QString key = Key(field);
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
                       .arg(Key(field),
                            field.cell(values, true, QStringLiteral("null")));
    return QLatin1Char('{') + members.join(QStringLiteral(", ")) + QLatin1Char('}');
}

QString CsvHeader() { return QString::fromLatin1(ReadingsCsvHeader()) + QLatin1Char('\n'); }

QString CsvRow(const QString &time, const ReadingValues &values) {
    QStringList cells(static_cast<qsizetype>(kReadingsColumnNames.size()));
    cells[ColumnIndex(ReadingsColumn::Time)] = time;
    for (const Field &field : Fields())
        cells[static_cast<qsizetype>(ColumnIndex(field.column))] =
            field.cell(values, false, QString());
    return cells.join(QLatin1Char(',')) + QLatin1Char('\n');
}

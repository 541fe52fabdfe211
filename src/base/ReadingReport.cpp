#include "base/ReadingReport.h"

#include "core/NumberText.h"
#include "core/OrderedJsonObject.h"
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

QJsonValue Json(const double &value) { return value; }
QJsonValue Json(const unsigned &value) { return static_cast<qint64>(value); }
QJsonValue Json(const HoursMinutes &value) { return HoursMinutesText(value); }

struct Field {
    ReadingsColumn column; // its CSV column; the column's name is its JSON key
    const char *label;
    std::function<QString(const ReadingValues &, const QString &missing)> cell;
    std::function<QJsonValue(const ReadingValues &)> json; // null when missing
};

template <class T>
Field MakeField(ReadingsColumn column, const char *label, std::optional<T> ReadingValues::*member,
                QString (*text)(const T &)) {
    return {column, label,
            [=](const ReadingValues &v, const QString &missing) {
                return Cell<T>(v.*member, text, missing);
            },
            [=](const ReadingValues &v) {
                const std::optional<T> &value = v.*member;
                return value ? Json(*value) : QJsonValue(QJsonValue::Null);
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
        MakeField(C::TimeToMode, "Time to mode, hh:mm", &ReadingValues::timeToMode, Time),
        MakeField(C::StabilisationTime, "Stabilisation time, hh:mm",
                  &ReadingValues::stabilisationTime, Time),
        MakeField(C::TimeToModeSetPoint, "Time-to-mode set-point, hh:mm",
                  &ReadingValues::timeToModeSetPoint, Time),
        MakeField(C::StabilisationSetPoint, "Stabilisation set-point, hh:mm",
                  &ReadingValues::stabilisationSetPoint, Time),
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
        QString value = field.cell(values, missing);
        if (key == QLatin1String("step"))
            value = PairText(values.step, values.steps);
        else if (key == QLatin1String("cycle"))
            value = PairText(values.cycle, values.cycles);
        text += QString::fromUtf8(field.label) + QStringLiteral(": ") + value + QLatin1Char('\n');
    }
    return text;
}

QString ReadingJson(int address, const ReadingValues &values,
                    const QList<QPair<QString, QJsonValue>> &more) {
    // In the registers' order, which QJsonObject would not keep.
    OrderedJsonObject object;
    object.add(QStringLiteral("address"), address);
    for (const Field &field : Fields())
        object.add(Key(field), field.json(values));
    for (const auto &[name, value] : more)
        object.add(name, value);
    return QString::fromUtf8(object.toJson(OrderedJsonObject::Layout::Spaced));
}

QJsonObject ReadingJsonObject(int address, const ReadingValues &values) {
    QJsonObject object{{QStringLiteral("address"), address}};
    for (const Field &field : Fields())
        object.insert(Key(field), field.json(values));
    return object;
}

QString CsvHeader() { return QString::fromLatin1(ReadingsCsvHeader()) + QLatin1Char('\n'); }

QString CsvRow(const QString &time, const ReadingValues &values) {
    QStringList cells(static_cast<qsizetype>(kReadingsColumnNames.size()));
    cells[ColumnIndex(ReadingsColumn::Time)] = time;
    for (const Field &field : Fields())
        cells[static_cast<qsizetype>(ColumnIndex(field.column))] =
            field.cell(values, QString());
    return cells.join(QLatin1Char(',')) + QLatin1Char('\n');
}

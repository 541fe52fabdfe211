#include "ReadingsCsv.h"

#include "IntegerText.h"
#include "NumberText.h"
#include "ReadingsCsvColumns.h"
#include "Utf8Bom.h"

#include <QStringList>
#include <charconv>

const char kPlotCsvHeader[] = "time,temperature,program,step,steps,cycle,cycles";

namespace {

constexpr qsizetype Column(ReadingsColumn column) {
    return static_cast<qsizetype>(ColumnIndex(column));
}
constexpr qsizetype kTime = Column(ReadingsColumn::Time);
constexpr qsizetype kCurrentTemperature = Column(ReadingsColumn::CurrentTemperature);
constexpr qsizetype kSetTemperature = Column(ReadingsColumn::SetTemperature);
constexpr qsizetype kTimeToMode = Column(ReadingsColumn::TimeToMode);
constexpr qsizetype kStabilisationTime = Column(ReadingsColumn::StabilisationTime);
constexpr qsizetype kTimeToModeSetPoint = Column(ReadingsColumn::TimeToModeSetPoint);
constexpr qsizetype kStabilisationSetPoint = Column(ReadingsColumn::StabilisationSetPoint);
constexpr qsizetype kProgram = Column(ReadingsColumn::Program);
constexpr qsizetype kStep = Column(ReadingsColumn::Step);
constexpr qsizetype kSteps = Column(ReadingsColumn::Steps);
constexpr qsizetype kCycle = Column(ReadingsColumn::Cycle);
constexpr qsizetype kCycles = Column(ReadingsColumn::Cycles);
constexpr qsizetype kColumnCount = static_cast<qsizetype>(kReadingsColumnNames.size());

// An empty cell is an empty figure; anything else must be a number.
template <typename Number> bool ReadCell(const QByteArray &cell, std::optional<Number> &value) {
    if (cell.isEmpty())
        return true;
    Number number{};
    const char *end = cell.constData() + cell.size();
    const auto result = std::from_chars(cell.constData(), end, number);
    if (result.ec != std::errc() || result.ptr != end)
        return false;
    value = number;
    return true;
}

std::optional<int> ReadDigits(const QByteArray &text, qsizetype from, qsizetype count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The time of a row; older files may lack the offset.
bool ReadIsoTime(const QByteArray &text, Reading &reading) {
    const auto moment = ParseIsoTime(QByteArrayView(text));
    if (!moment)
        return false;
    reading.date = moment->date;
    reading.time = moment->time;
    if (moment->utcOffsetSeconds)
        reading.utcOffsetSeconds = *moment->utcOffsetSeconds;
    return true;
}

// "hh:mm" as the tool writes times (hours may run past two digits), in minutes.
bool ReadHoursMinutes(const QByteArray &cell, std::optional<int> &minutes) {
    if (cell.isEmpty())
        return true;
    const qsizetype colon = cell.indexOf(':');
    if (colon < 2 || colon > 4 || cell.size() != colon + 3)
        return false;
    const auto hours = ReadDigits(cell, 0, colon), ofHour = ReadDigits(cell, colon + 1, 2);
    if (!hours || !ofHour || *ofHour >= 60)
        return false;
    minutes = *hours * 60 + *ofHour;
    return true;
}

std::optional<Reading> ReadRow(const QByteArray &row) {
    const QList<QByteArray> cells = row.split(',');
    if (cells.size() != kColumnCount)
        return std::nullopt;
    Reading reading;
    if (!ReadIsoTime(cells[kTime], reading) ||
        !ReadCell(cells[kCurrentTemperature], reading.temperature) ||
        !ReadCell(cells[kSetTemperature], reading.setTemperature) ||
        !ReadHoursMinutes(cells[kTimeToMode], reading.timeToModeMinutes) ||
        !ReadHoursMinutes(cells[kTimeToModeSetPoint], reading.timeToModeSetPointMinutes) ||
        !ReadHoursMinutes(cells[kStabilisationTime], reading.stabilisationMinutes) ||
        !ReadCell(cells[kProgram], reading.program) || !ReadCell(cells[kStep], reading.step) ||
        !ReadCell(cells[kSteps], reading.steps) || !ReadCell(cells[kCycle], reading.cycle) ||
        !ReadCell(cells[kCycles], reading.cycles))
        return std::nullopt;
    return reading;
}

template <typename Number> QString CellText(const std::optional<Number> &value) {
    if (!value)
        return {};
    if constexpr (std::is_floating_point_v<Number>)
        return FloatToText(*value, QLatin1Char('.'));
    else
        return IntToText(*value);
}

} // namespace

QByteArray ReadingsCsvHeader() {
    QByteArray header;
    for (const std::string_view name : kReadingsColumnNames) {
        if (!header.isEmpty())
            header += ',';
        header.append(name.data(), static_cast<qsizetype>(name.size()));
    }
    return header;
}

bool LooksLikeReadingsCsv(const QByteArray &bytes) {
    const QByteArray text = WithoutUtf8Bom(bytes);
    const qsizetype end = text.indexOf('\n');
    const QByteArray firstLine = end < 0 ? text : text.left(end);
    const QByteArray header = ReadingsCsvHeader();
    return firstLine == header || firstLine == header + '\r';
}

std::optional<ReadingsFile> ReadReadingsCsv(const QByteArray &bytes) {
    if (!LooksLikeReadingsCsv(bytes))
        return std::nullopt;
    const QList<QByteArray> lines = WithoutUtf8Bom(bytes).split('\n');
    ReadingsFile file;
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const bool complete = index + 1 < lines.size();
        QByteArray line = lines[index];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const auto reading = complete ? ReadRow(line) : std::nullopt;
        if (!reading) {
            if (file.damagedLines++ == 0)
                file.firstDamagedLine = static_cast<int>(index) + 1;
            continue;
        }
        file.readings.append(*reading);
    }
    return file;
}

QByteArray PlotCsv(const QList<Reading> &readings, const UtcOffsetOf &utcOffsetOf) {
    QString text = QLatin1String(kPlotCsvHeader) + QLatin1Char('\n');
    for (const Reading &reading : readings) {
        const int offset = reading.utcOffsetSeconds ? *reading.utcOffsetSeconds
                                                    : utcOffsetOf(reading.date, reading.time);
        const QStringList cells = {IsoLocalTime(reading.date, reading.time, offset),
                                   CellText(reading.temperature),
                                   CellText(reading.program),
                                   CellText(reading.step),
                                   CellText(reading.steps),
                                   CellText(reading.cycle),
                                   CellText(reading.cycles)};
        text += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

#include "ReadingsCsv.h"

#include "IntegerText.h"
#include "NumberText.h"
#include "ReadingsCsvColumns.h"

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

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

QByteArray WithoutBom(const QByteArray &bytes) {
    return bytes.startsWith(kUtf8Bom) ? bytes.mid(kUtf8Bom.size()) : bytes;
}

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

// "YYYY-MM-DDTHH:MM:SS" with an optional fraction, then "Z", "+HH:MM", "-HH:MM" or nothing.
bool ReadIsoTime(const QByteArray &text, Reading &reading) {
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':')
        return false;
    const auto year = ReadDigits(text, 0, 4), month = ReadDigits(text, 5, 2),
               day = ReadDigits(text, 8, 2), hour = ReadDigits(text, 11, 2),
               minute = ReadDigits(text, 14, 2), second = ReadDigits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second)
        return false;
    reading.date = QDate(*year, *month, *day);
    reading.time = QTime(*hour, *minute, *second);
    if (!reading.date.isValid() || !reading.time.isValid())
        return false;
    qsizetype pos = 19;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            ++pos;
    }
    const QByteArray zone = text.mid(pos);
    if (zone.isEmpty())
        return true;
    if (zone == "Z") {
        reading.utcOffsetSeconds = 0;
        return true;
    }
    const auto zoneHours = ReadDigits(zone, 1, 2), zoneMinutes = ReadDigits(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !zoneHours ||
        !zoneMinutes)
        return false;
    reading.utcOffsetSeconds = (zone[0] == '-' ? -1 : 1) * (*zoneHours * 3600 + *zoneMinutes * 60);
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

QString TwoDigits(int value) { return TwoDigitText(static_cast<unsigned>(value)); }

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
    const QByteArray text = WithoutBom(bytes);
    const qsizetype end = text.indexOf('\n');
    const QByteArray firstLine = end < 0 ? text : text.left(end);
    const QByteArray header = ReadingsCsvHeader();
    return firstLine == header || firstLine == header + '\r';
}

std::optional<ReadingsFile> ReadReadingsCsv(const QByteArray &bytes) {
    if (!LooksLikeReadingsCsv(bytes))
        return std::nullopt;
    const QList<QByteArray> lines = WithoutBom(bytes).split('\n');
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

QString IsoLocalTime(const QDate &date, const QTime &time, int utcOffsetSeconds) {
    const int offsetMinutes = std::abs(utcOffsetSeconds) / 60;
    return date.toString(Qt::ISODate) + QLatin1Char('T') + time.toString(Qt::ISODate) +
           QLatin1Char(utcOffsetSeconds < 0 ? '-' : '+') + TwoDigits(offsetMinutes / 60) +
           QLatin1Char(':') + TwoDigits(offsetMinutes % 60);
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

#include "LogReader.h"

#include "LogFormat.h"
#include "MomentPattern.h"

#include <algorithm>
#include <charconv>

namespace {

// The name's fixed parts around the chamber number and the time stamp, taken from the writer.
struct NameTemplate {
    QString prefix;    // before the chamber number
    QString separator; // between the number and the stamp
    QString txtSuffix; // after the stamp
};

NameTemplate LogNameTemplate() {
    const QChar stampMark = QChar(0x1);
    const QString name = NewLogFileName(QString(), QString(stampMark));
    const qsizetype number = name.indexOf(QLatin1Char('>'));
    const qsizetype stamp = name.indexOf(stampMark);
    return {name.left(number), name.mid(number + 1, stamp - number - 1), name.mid(stamp + 1)};
}

std::optional<int> ReadCount(QStringView text) {
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// "3(12)" as the window writes steps and cycles.
bool ReadPair(QStringView text, std::optional<int> &current, std::optional<int> &total) {
    if (text.isEmpty())
        return true;
    const qsizetype open = text.indexOf(QLatin1Char('('));
    if (open < 0 || !text.endsWith(QLatin1Char(')')))
        return false;
    current = ReadCount(text.left(open));
    total = ReadCount(text.mid(open + 1, text.size() - open - 2));
    return current && total;
}

// No grouping is ever written, so either separator is the decimal one; reading both keeps a
// log legible on a machine whose regional separator differs from the writer's.
std::optional<double> ReadTemperature(QStringView text) {
    if (text.isEmpty() || text.size() > 32)
        return std::nullopt;
    char buffer[33];
    int separators = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u',' || c == u'.') {
            buffer[i] = '.';
            ++separators;
        } else if ((c >= u'0' && c <= u'9') || (c == u'-' && i == 0)) {
            buffer[i] = static_cast<char>(c);
        } else {
            return std::nullopt;
        }
    }
    double value = 0;
    const char *end = buffer + text.size();
    const auto result = std::from_chars(buffer, end, value, std::chars_format::fixed);
    if (separators > 1 || result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

// One record line without its CR LF, checked against what the writer makes of its values.
std::optional<Reading> ReadRecord(const QString &line, const QString &timePattern,
                                  QString &timeText) {
    const QStringList fields = line.split(QLatin1Char(';'));
    if (fields.size() != 7 || !fields[0].startsWith(QStringLiteral("    ")))
        return std::nullopt;
    timeText = fields[0].mid(4);
    const QString temperature = fields[1].mid(11);
    const QString program = fields[2].trimmed();
    const QString step = fields[3].trimmed();
    const QString cycle = fields[4].trimmed();
    if (ComposeLogRecord(timeText, temperature, program, step, cycle) !=
        line + QStringLiteral("\r\n"))
        return std::nullopt;

    Reading reading;
    const auto time = ReadTime(timeText, timePattern);
    if (!time)
        return std::nullopt;
    reading.time = *time;
    if (!temperature.isEmpty() && !(reading.temperature = ReadTemperature(temperature)))
        return std::nullopt;
    if (!program.isEmpty() && !(reading.program = ReadCount(program)))
        return std::nullopt;
    if (!ReadPair(step, reading.step, reading.steps) ||
        !ReadPair(cycle, reading.cycle, reading.cycles))
        return std::nullopt;
    return reading;
}

// The date that puts the first record nearest the moment logging was ticked.
QDate FirstRecordDate(const QTime &recordTime, const LogReadOptions &options) {
    if (!options.startTime)
        return options.startDate;
    const qint64 start = LocalSeconds(options.startDate, *options.startTime);
    QDate best = options.startDate;
    for (const int offset : {-1, 1}) {
        const QDate candidate = options.startDate.addDays(offset);
        if (std::abs(LocalSeconds(candidate, recordTime) - start) <
            std::abs(LocalSeconds(best, recordTime) - start))
            best = candidate;
    }
    return best;
}

void CountDamaged(ReadingsFile &file, int lineNumber) {
    if (file.damagedLines++ == 0)
        file.firstDamagedLine = lineNumber;
}

} // namespace

std::optional<LogFileNameParts> ParseLogFileName(const QString &fileName,
                                                 const RegionalSettings &settings) {
    const NameTemplate name = LogNameTemplate();
    const QString csvSuffix = name.txtSuffix.chopped(4) + QStringLiteral(".csv");
    if (!fileName.startsWith(name.prefix) ||
        !(fileName.endsWith(name.txtSuffix) || fileName.endsWith(csvSuffix)))
        return std::nullopt;
    const qsizetype numberEnd = fileName.indexOf(name.separator, name.prefix.size());
    if (numberEnd < 0)
        return std::nullopt;
    LogFileNameParts parts;
    const QString number = fileName.mid(name.prefix.size(), numberEnd - name.prefix.size());
    parts.chamber = ReadCount(number);
    if (!parts.chamber && number != QStringLiteral(">"))
        return std::nullopt;

    const qsizetype stampStart = numberEnd + name.separator.size();
    const QString stamp = fileName.mid(stampStart, fileName.size() - stampStart - 4);
    // The writer turned ":" and "/" into "_"; so do the patterns.
    const QString datePattern = ExpandMomentPattern(settings.shortDateFormat);
    const QString timePattern = ExpandMomentPattern(settings.longTimeFormat);
    const QString pattern = FileTimeStamp(datePattern, timePattern);
    const qsizetype split = datePattern.size();
    if (const auto moment = ReadMoment(stamp, pattern.left(split), pattern.mid(split + 1))) {
        parts.date = moment->date;
        parts.time = moment->time;
    }
    return parts;
}

bool LooksLikeLog(const QByteArray &bytes) { return bytes.startsWith(ToWindows1251(LogHeader())); }

std::optional<ReadingsFile> ReadLog(const QByteArray &bytes, const LogReadOptions &options) {
    if (!LooksLikeLog(bytes))
        return std::nullopt;
    const QString header = LogHeader().chopped(2);
    const QString timePattern = ExpandMomentPattern(options.settings.longTimeFormat);
    const QStringList lines = FromWindows1251(bytes).split(QLatin1Char('\n'));

    ReadingsFile file;
    QString previousRecord;
    QTime previousTime;
    QDate day;
    QString timeText;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = static_cast<int>(index) + 1;
        const bool complete = index + 1 < lines.size();
        const QString line =
            complete ? lines[index].chopped(lines[index].endsWith(QLatin1Char('\r')) ? 1 : 0)
                     : lines[index];
        if (complete && (line.isEmpty() || line == header))
            continue;
        if (!complete && line.isEmpty())
            break;
        if (complete && line == previousRecord)
            continue;
        const auto reading = complete ? ReadRecord(line, timePattern, timeText) : std::nullopt;
        if (!reading) {
            CountDamaged(file, lineNumber);
            continue;
        }
        if (file.readings.isEmpty())
            day = FirstRecordDate(reading->time, options);
        else if (reading->time < previousTime)
            day = day.addDays(1);
        previousTime = reading->time;
        previousRecord = line;
        file.readings.append(*reading);
        file.readings.last().date = day;
    }
    return file;
}

QList<Reading> JoinReadings(const QList<QList<Reading>> &files) {
    QList<Reading> all;
    for (const auto &readings : files)
        all.append(readings);
    std::stable_sort(all.begin(), all.end(), [](const Reading &a, const Reading &b) {
        return LocalSeconds(a) < LocalSeconds(b);
    });
    QList<Reading> joined;
    for (const Reading &reading : all) {
        if (joined.isEmpty() || LocalSeconds(joined.last()) != LocalSeconds(reading)) {
            joined.append(reading);
            continue;
        }
        Reading &kept = joined.last();
        auto fill = [](auto &into, const auto &from) {
            if (!into)
                into = from;
        };
        fill(kept.utcOffsetSeconds, reading.utcOffsetSeconds);
        fill(kept.temperature, reading.temperature);
        fill(kept.setTemperature, reading.setTemperature);
        fill(kept.program, reading.program);
        fill(kept.step, reading.step);
        fill(kept.steps, reading.steps);
        fill(kept.cycle, reading.cycle);
        fill(kept.cycles, reading.cycles);
        fill(kept.timeToModeMinutes, reading.timeToModeMinutes);
        fill(kept.timeToModeSetPointMinutes, reading.timeToModeSetPointMinutes);
        fill(kept.stabilisationMinutes, reading.stabilisationMinutes);
    }
    return joined;
}

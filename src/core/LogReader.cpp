#include "LogReader.h"

#include "LogFormat.h"
#include "MomentPattern.h"

#include <algorithm>
#include <bit>
#include <limits>
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

// Records of one file between two steps back in time: one date, time going forward.
struct Run {
    qsizetype begin = 0, end = 0;
    bool afterStepBack = false;  // began as the clock went back
    bool beforeStepBack = false; // ended there
};

// Offsets of a run's records. In the repeated hour the run's shape tells the pass: a run that
// began at the step back is past it, one that ended there or began before the hour is before
// it, and one that reaches past the hour is after it. Otherwise the record stays without.
void GiveOffsets(QList<Reading> &readings, const Run &run, LocalOffsets &offsets) {
    qsizetype firstRepeated = -1, lastRepeated = -1;
    for (qsizetype i = run.begin; i < run.end; ++i) {
        if (offsets.Repeated(readings[i].date, readings[i].time)) {
            if (firstRepeated < 0)
                firstRepeated = i;
            lastRepeated = i;
        }
    }
    int pass = -1;
    if (run.afterStepBack)
        pass = 1;
    else if (run.beforeStepBack || firstRepeated > run.begin)
        pass = 0;
    else if (lastRepeated >= 0 && lastRepeated < run.end - 1)
        pass = 1;
    for (qsizetype i = run.begin; i < run.end; ++i) {
        const QList<int> candidates = offsets.Of(readings[i].date, readings[i].time);
        if (candidates.size() == 1)
            readings[i].utcOffsetSeconds = candidates.first();
        else if (pass >= 0)
            readings[i].utcOffsetSeconds = candidates[pass];
    }
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
    std::optional<LocalOffsets> offsets;
    if (options.utcOffsetAt)
        offsets.emplace(options.utcOffsetAt);
    QList<Run> runs;
    QString previousRecord;
    QTime previousTime;
    QDate day;
    bool secondPass = false;
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
        if (file.readings.isEmpty()) {
            day = FirstRecordDate(reading->time, options);
            runs.append(Run{});
        } else if (reading->time < previousTime) {
            const bool stepBack = offsets && !secondPass && offsets->Repeated(day, reading->time) &&
                                  offsets->Repeated(day, previousTime);
            if (!stepBack)
                day = day.addDays(1);
            secondPass = stepBack;
            runs.last().end = file.readings.size();
            runs.last().beforeStepBack = stepBack;
            runs.append(Run{file.readings.size(), 0, stepBack, false});
        }
        previousTime = reading->time;
        previousRecord = line;
        file.readings.append(*reading);
        file.readings.last().date = day;
    }
    if (!runs.isEmpty())
        runs.last().end = file.readings.size();
    if (offsets)
        for (const Run &run : runs)
            GiveOffsets(file.readings, run, *offsets);
    return file;
}

void SettleRepeatedHour(QList<QList<Reading>> &logs, const UtcOffsetAt &utcOffsetAt) {
    LocalOffsets offsets(utcOffsetAt);
    struct OpenRun {
        qsizetype file, begin, end;
    };
    QList<OpenRun> open;
    for (qsizetype file = 0; file < logs.size(); ++file) {
        const QList<Reading> &readings = logs[file];
        for (qsizetype i = 0; i < readings.size(); ++i) {
            if (readings[i].utcOffsetSeconds)
                continue;
            if (!open.isEmpty() && open.last().file == file && open.last().end == i &&
                readings[i - 1].date == readings[i].date)
                ++open.last().end;
            else
                open.append({file, i, i + 1});
        }
    }
    // Whether another log holds a record of the given pass within the run's local times.
    auto overlaps = [&](const OpenRun &run, int pass) {
        const Reading &first = logs[run.file][run.begin];
        const Reading &last = logs[run.file][run.end - 1];
        for (qsizetype file = 0; file < logs.size(); ++file) {
            if (file == run.file)
                continue;
            for (const Reading &reading : logs[file]) {
                if (!reading.utcOffsetSeconds || reading.date != first.date ||
                    reading.time < first.time || reading.time > last.time)
                    continue;
                const QList<int> candidates = offsets.Of(reading.date, reading.time);
                if (candidates.size() > 1 && *reading.utcOffsetSeconds == candidates[pass])
                    return true;
            }
        }
        return false;
    };
    auto settle = [&](const OpenRun &run, int pass) {
        for (qsizetype i = run.begin; i < run.end; ++i) {
            Reading &reading = logs[run.file][i];
            const QList<int> candidates = offsets.Of(reading.date, reading.time);
            reading.utcOffsetSeconds = candidates[std::min<qsizetype>(pass, candidates.size() - 1)];
        }
    };
    for (bool settled = true; settled;) {
        settled = false;
        for (qsizetype i = 0; i < open.size(); ++i) {
            const int pass = overlaps(open[i], 0) ? 1 : overlaps(open[i], 1) ? 0 : -1;
            if (pass < 0)
                continue;
            settle(open[i], pass);
            open.removeAt(i--);
            settled = true;
        }
    }
    // Runs that nothing else settles: of the passes that keep one pass free of the same local
    // time twice, those that make them one stretch of time, as short as it can be, are theirs
    // (a logger that started a new file at the step back wrote them one after the other); of
    // equally short ones, the one with more first passes.
    auto pastOffset = [&](const OpenRun &run, qsizetype at, int pass) {
        const Reading &reading = logs[run.file][at];
        const QList<int> candidates = offsets.Of(reading.date, reading.time);
        return LocalSeconds(reading) - candidates[std::min<qsizetype>(pass, candidates.size() - 1)];
    };
    constexpr qsizetype kMostRunsTried = 12;
    if (open.size() > 1 && open.size() <= kMostRunsTried) {
        unsigned best = 0;
        qint64 bestSpan = std::numeric_limits<qint64>::max();
        int bestSecondPasses = 0;
        auto clash = [&](unsigned passes) {
            for (qsizetype i = 0; i < open.size(); ++i)
                for (qsizetype j = i + 1; j < open.size(); ++j)
                    if (((passes >> i) & 1) == ((passes >> j) & 1) &&
                        LocalSeconds(logs[open[i].file][open[i].begin]) <=
                            LocalSeconds(logs[open[j].file][open[j].end - 1]) &&
                        LocalSeconds(logs[open[j].file][open[j].begin]) <=
                            LocalSeconds(logs[open[i].file][open[i].end - 1]))
                        return true;
            return false;
        };
        for (unsigned passes = 0; passes < (1u << open.size()); ++passes) {
            if (clash(passes))
                continue;
            qint64 first = std::numeric_limits<qint64>::max();
            qint64 last = std::numeric_limits<qint64>::min();
            for (qsizetype i = 0; i < open.size(); ++i) {
                const int pass = (passes >> i) & 1;
                first = std::min(first, pastOffset(open[i], open[i].begin, pass));
                last = std::max(last, pastOffset(open[i], open[i].end - 1, pass));
            }
            const int secondPasses = std::popcount(passes);
            if (last - first < bestSpan ||
                (last - first == bestSpan && secondPasses < bestSecondPasses)) {
                best = passes;
                bestSpan = last - first;
                bestSecondPasses = secondPasses;
            }
        }
        for (qsizetype i = 0; i < open.size(); ++i)
            settle(open[i], (best >> i) & 1);
        return;
    }
    std::sort(open.begin(), open.end(), [&logs](const OpenRun &a, const OpenRun &b) {
        return LocalSeconds(logs[a.file][a.begin]) > LocalSeconds(logs[b.file][b.begin]);
    });
    for (const OpenRun &run : open)
        settle(run, overlaps(run, 0) ? 1 : 0);
}

QList<Reading> JoinReadings(const QList<QList<Reading>> &files, const UtcOffsetAt &utcOffsetAt) {
    QList<Reading> all;
    for (const auto &readings : files)
        all.append(readings);
    if (utcOffsetAt) {
        LocalOffsets offsets(utcOffsetAt);
        for (Reading &reading : all)
            if (!reading.utcOffsetSeconds)
                reading.utcOffsetSeconds = offsets.Of(reading.date, reading.time).first();
    }
    const bool byMoment = bool(utcOffsetAt);
    auto key = [byMoment](const Reading &reading) {
        return byMoment ? LocalSeconds(reading) - *reading.utcOffsetSeconds : LocalSeconds(reading);
    };
    std::stable_sort(all.begin(), all.end(),
                     [&key](const Reading &a, const Reading &b) { return key(a) < key(b); });
    QList<Reading> joined;
    for (const Reading &reading : all) {
        if (joined.isEmpty() || key(joined.last()) != key(reading)) {
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

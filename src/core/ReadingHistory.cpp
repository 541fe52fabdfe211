#include "ReadingHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();

qint64 MinuteOf(qint64 t) {
    return t >= 0 ? t / ReadingHistory::kMinuteMs
                  : (t - ReadingHistory::kMinuteMs + 1) / ReadingHistory::kMinuteMs;
}

template <class T> std::optional<unsigned> Whole(const std::optional<T> &value) {
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<unsigned>(*value);
}

} // namespace

HistoryPoint HistoryPointOf(qint64 t, const ReadingValues &values) {
    HistoryPoint point;
    point.t = t;
    point.currentTemperature = values.currentTemperature;
    point.setTemperature = values.setTemperature;
    point.program = values.program;
    point.step = values.step;
    point.cycle = values.cycle;
    return point;
}

ReadingHistory::ReadingHistory(std::size_t maxRecentPoints)
    : maxRecentPoints_(std::max<std::size_t>(maxRecentPoints, 1)) {}

ReadingHistory::Stored ReadingHistory::Store(const HistoryPoint &p) {
    const auto whole = [](const std::optional<unsigned> &v) {
        return v && *v <= 0x7FFFFFFFu ? static_cast<std::int32_t>(*v) : -1;
    };
    return {p.t,
            p.currentTemperature.value_or(kNoNumber),
            p.setTemperature.value_or(kNoNumber),
            whole(p.program),
            whole(p.step),
            whole(p.cycle),
            p.gap};
}

HistoryPoint ReadingHistory::Load(const Stored &s) {
    HistoryPoint p;
    p.t = s.t;
    p.gap = s.gap;
    if (!std::isnan(s.currentTemperature))
        p.currentTemperature = s.currentTemperature;
    if (!std::isnan(s.setTemperature))
        p.setTemperature = s.setTemperature;
    p.program = Whole(std::optional<std::int32_t>(s.program));
    p.step = Whole(std::optional<std::int32_t>(s.step));
    p.cycle = Whole(std::optional<std::int32_t>(s.cycle));
    return p;
}

void ReadingHistory::addReading(int address, const HistoryPoint &point) {
    HistoryPoint reading = point;
    reading.gap = false;
    add(series_[address], Store(reading));
}

void ReadingHistory::addGap(int address, qint64 t) {
    const auto found = series_.find(address);
    if (found == series_.end())
        return;
    HistoryPoint gap;
    gap.t = t;
    gap.gap = true;
    add(found->second, Store(gap));
}

void ReadingHistory::add(Series &series, const Stored &point) {
    const auto newest = [&series]() -> const Stored * {
        return !series.recent.empty()    ? &series.recent.back()
               : !series.minutes.empty() ? &series.minutes.back()
                                         : nullptr;
    };
    if (const Stored *last = newest(); last && last->t > point.t)
        moveBack(last->t - point.t);
    const Stored *last = newest();
    if (point.gap && (!last || last->gap))
        return;
    series.recent.push_back(point);
    expire(series, point.t);
}

void ReadingHistory::moveBack(qint64 ms) {
    for (auto &[address, series] : series_)
        for (std::deque<Stored> *part : {&series.minutes, &series.recent})
            for (Stored &stored : *part)
                stored.t -= ms;
}

void ReadingHistory::expire(qint64 now) {
    for (auto &[address, series] : series_)
        expire(series, now);
}

void ReadingHistory::expire(Series &series, qint64 now) const {
    while (!series.recent.empty() && (series.recent.front().t < now - kFullResolutionMs ||
                                      series.recent.size() > maxRecentPoints_)) {
        toMinutes(series, series.recent.front());
        series.recent.pop_front();
    }
    while (!series.minutes.empty() && series.minutes.front().t < now - kKeptMs)
        series.minutes.pop_front();
    while (!series.recent.empty() && series.recent.front().t < now - kKeptMs)
        series.recent.pop_front();
}

// A minute keeps at most two points: its last reading, and the start of an outage before or
// after it. Readings in a row keep the last, outages in a row the first.
void ReadingHistory::toMinutes(Series &series, const Stored &point) {
    std::deque<Stored> &m = series.minutes;
    const qint64 minute = MinuteOf(point.t);
    const auto sameMinute = [&](std::size_t fromBack) {
        return m.size() > fromBack && MinuteOf(m[m.size() - 1 - fromBack].t) == minute;
    };
    if (sameMinute(0) && m.back().gap == point.gap) {
        if (!point.gap)
            m.back() = point;
        return;
    }
    if (sameMinute(1))
        m.erase(m.end() - 2);
    m.push_back(point);
}

std::vector<HistoryPoint> ReadingHistory::points(int address, qint64 now, qint64 spanMs) const {
    std::vector<HistoryPoint> out;
    const auto found = series_.find(address);
    if (found == series_.end())
        return out;
    const qint64 from = now - spanMs;
    for (const auto *part : {&found->second.minutes, &found->second.recent}) {
        auto first = std::lower_bound(part->begin(), part->end(), from,
                                      [](const Stored &s, qint64 t) { return s.t < t; });
        for (; first != part->end(); ++first)
            out.push_back(Load(*first));
    }
    return out;
}

std::size_t ReadingHistory::pointCount() const {
    std::size_t count = 0;
    for (const auto &[address, series] : series_)
        count += series.minutes.size() + series.recent.size();
    return count;
}

void FillHistory(ReadingHistory &history, int address, const QList<Reading> &readings, qint64 from,
                 qint64 until, qint64 gapAfterMs) {
    struct Row {
        qint64 t;
        const Reading *reading;
    };
    std::vector<Row> rows;
    for (const Reading &r : readings) {
        if (!r.utcOffsetSeconds)
            continue; // a readings CSV row always has its offset
        const qint64 t = EpochSeconds(r.date, r.time, *r.utcOffsetSeconds) * 1000;
        if (t >= from && t <= until)
            rows.push_back({t, &r});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row &a, const Row &b) { return a.t < b.t; });
    std::optional<qint64> previous;
    for (const Row &row : rows) {
        if (previous && row.t - *previous > gapAfterMs)
            history.addGap(address, *previous + gapAfterMs);
        previous = row.t;
        const Reading &r = *row.reading;
        if (!r.temperature) {
            history.addGap(address, row.t);
            continue;
        }
        HistoryPoint point;
        point.t = row.t;
        point.currentTemperature = r.temperature;
        point.setTemperature = r.setTemperature;
        point.program = Whole(r.program);
        point.step = Whole(r.step);
        point.cycle = Whole(r.cycle);
        history.addReading(address, point);
    }
    if (previous && until - *previous > gapAfterMs)
        history.addGap(address, *previous + gapAfterMs);
}

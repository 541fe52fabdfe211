#include "LocalOffsets.h"

#include "Reading.h"

#include <algorithm>

namespace {

constexpr qint64 kEpochSeconds = kUnixEpochJulianDay * 86400;
constexpr qint64 kQuarterHour = 900;
constexpr qint64 kDay = 86400;

} // namespace

QList<int> LocalOffsets::Of(const QDate &date, const QTime &time) {
    const qint64 local = LocalSeconds(date, time) - kEpochSeconds;
    const qint64 quarter =
        local >= 0 ? local / kQuarterHour : (local - kQuarterHour + 1) / kQuarterHour;
    if (const auto found = byQuarterHour_.constFind(quarter); found != byQuarterHour_.cend())
        return *found;
    const qint64 start = quarter * kQuarterHour;
    // A zone changes its offset at most once within a day or so: the offsets a day before and a
    // day after are all the local time can have.
    const int before = offsetAt_(start - kDay);
    const int after = offsetAt_(start + kDay);
    QList<int> offsets;
    for (const int offset : {before, after})
        if (!offsets.contains(offset) && offsetAt_(start - offset) == offset)
            offsets.append(offset);
    // The larger offset is the earlier moment.
    std::sort(offsets.begin(), offsets.end(), std::greater<int>());
    if (offsets.isEmpty())
        offsets.append(before);
    byQuarterHour_.insert(quarter, offsets);
    return offsets;
}

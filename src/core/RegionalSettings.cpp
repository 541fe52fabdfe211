#include "RegionalSettings.h"

#include <QByteArray>
#include <vector>

namespace {

QString FormatMoment(const QString &format, const std::tm &moment) {
    if (format.isEmpty())
        return {};
    const QByteArray pattern = format.toLocal8Bit();
    // strftime reports 0 both for "too small" and for an empty result: stop growing at a cap.
    for (std::size_t size = 128; size <= 8192; size *= 4) {
        std::vector<char> buffer(size);
        const std::size_t length = std::strftime(buffer.data(), size, pattern.constData(), &moment);
        if (length > 0)
            return QString::fromLocal8Bit(buffer.data(), static_cast<qsizetype>(length));
    }
    return {};
}

} // namespace

QString FormatDate(const RegionalSettings &settings, const std::tm &moment) {
    return FormatMoment(settings.shortDateFormat, moment);
}

QString FormatTime(const RegionalSettings &settings, const std::tm &moment) {
    return FormatMoment(settings.longTimeFormat, moment);
}

QString ClockText(const RegionalSettings &settings, const std::tm &date, const std::tm &time) {
    return FormatDate(settings, date) + QStringLiteral("  ") + FormatTime(settings, time);
}

std::tm AsTm(const QDate &date, const QTime &time) {
    std::tm moment{};
    moment.tm_year = date.year() - 1900;
    moment.tm_mon = date.month() - 1;
    moment.tm_mday = date.day();
    moment.tm_wday = date.dayOfWeek() % 7;
    moment.tm_yday = date.dayOfYear() - 1;
    moment.tm_hour = time.hour();
    moment.tm_min = time.minute();
    moment.tm_sec = time.second();
    moment.tm_isdst = -1;
    return moment;
}

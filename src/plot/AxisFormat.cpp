#include "AxisFormat.h"

#include "core/MomentPattern.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>

namespace {

QString QtField(QChar conversion) {
    switch (conversion.unicode()) {
    case 'd':
        return QStringLiteral("dd");
    case 'e':
        return QStringLiteral("d");
    case 'm':
        return QStringLiteral("MM");
    case 'Y':
        return QStringLiteral("yyyy");
    case 'y':
        return QStringLiteral("yy");
    case 'H':
        return QStringLiteral("HH");
    case 'k':
        return QStringLiteral("H");
    case 'I':
        return QStringLiteral("hh");
    case 'l':
        return QStringLiteral("h");
    case 'M':
        return QStringLiteral("mm");
    case 'S':
        return QStringLiteral("ss");
    case 'p':
    case 'P':
        return QStringLiteral("AP");
    default:
        return {};
    }
}

QString QtFormat(const QString &pattern, bool withSeconds) {
    const QString expanded = ExpandMomentPattern(pattern);
    QString format;
    QString literal;
    auto flushLiteral = [&] {
        if (!literal.isEmpty())
            format += QLatin1Char('\'') + literal + QLatin1Char('\'');
        literal.clear();
    };
    for (qsizetype i = 0; i < expanded.size(); ++i) {
        if (expanded[i] != QLatin1Char('%') || i + 1 >= expanded.size()) {
            literal +=
                expanded[i] == QLatin1Char('\'') ? QStringLiteral("''") : QString(expanded[i]);
            continue;
        }
        const QChar conversion = expanded[++i];
        if (conversion == QLatin1Char('S') && !withSeconds) {
            literal.chop(1); // the separator before the seconds goes with them
            continue;
        }
        flushLiteral();
        format += QtField(conversion);
    }
    flushLiteral();
    return format;
}

} // namespace

QString QtTimeFormat(const QString &longTimeFormat) {
    const QString format = QtFormat(longTimeFormat, false);
    return format.isEmpty() ? QStringLiteral("HH:mm") : format;
}

QString QtDateTimeFormat(const QString &shortDateFormat, const QString &longTimeFormat) {
    const QString date = QtFormat(shortDateFormat, true);
    return (date.isEmpty() ? QStringLiteral("dd.MM.yyyy") : date) + QLatin1Char(' ') +
           QtTimeFormat(longTimeFormat);
}

QString LocalTimeLabel(qint64 msecsSinceEpoch, const QString &format) {
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch), format);
}

QStringList TimeAxisLabels(qreal from, qreal to, int ticks, const QString &format,
                           const TimeLabel &label) {
    QStringList labels;
    for (int i = 0; i < ticks; ++i)
        labels.append(label(static_cast<qint64>(from + i * (to - from) / (ticks - 1)), format));
    return labels;
}

TimeAxisLayout FitTimeAxis(qreal from, qreal to, int mostTicks, const QString &shortDateFormat,
                           const QString &longTimeFormat, const TimeLabel &label) {
    constexpr qreal kDayAndAHalfMs = 1.5 * 86400 * 1000;
    mostTicks = std::max(2, mostTicks);
    const QString date = QtFormat(shortDateFormat, true).isEmpty()
                             ? QStringLiteral("dd.MM.yyyy")
                             : QtFormat(shortDateFormat, true);
    const QString time = QtTimeFormat(longTimeFormat);
    QString timeWithSeconds = QtFormat(longTimeFormat, true);
    if (!timeWithSeconds.contains(QStringLiteral("ss")))
        timeWithSeconds = time + QStringLiteral(":ss");
    const QString dated = date + QLatin1Char(' ');
    QStringList formats;
    if (to - from <= kDayAndAHalfMs)
        formats << time;
    formats << dated + time;
    if (to - from <= kDayAndAHalfMs)
        formats << timeWithSeconds;
    formats << dated + timeWithSeconds;
    formats << (to - from <= kDayAndAHalfMs ? timeWithSeconds : dated + timeWithSeconds) +
                   QStringLiteral(".zzz");
    auto distinct = [&](const QString &format, int ticks) {
        const QStringList labels = TimeAxisLabels(from, to, ticks, format, label);
        return QSet<QString>(labels.begin(), labels.end()).size() == labels.size();
    };
    for (qsizetype i = 0; i < formats.size(); ++i) {
        const bool last = i + 1 == formats.size();
        const int fewest = last ? 2 : std::max(2, (mostTicks + 1) / 2);
        for (int ticks = mostTicks; ticks >= fewest; --ticks)
            if (distinct(formats[i], ticks))
                return {formats[i], ticks};
    }
    return {formats.last(), 2};
}

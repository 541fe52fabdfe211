#include "AxisFormat.h"

#include "core/MomentPattern.h"

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

#include "base/ConfigFile.h"

#include <QRegularExpression>
#include <optional>

namespace {

// A flag's value: nothing for off, its name alone for on.
std::optional<bool> FlagValue(const QString &text) {
    static const QStringList on{QStringLiteral("yes"), QStringLiteral("true"), QStringLiteral("1")};
    static const QStringList off{QStringLiteral("no"), QStringLiteral("false"), QStringLiteral("0")};
    if (on.contains(text, Qt::CaseInsensitive))
        return true;
    if (off.contains(text, Qt::CaseInsensitive))
        return false;
    return std::nullopt;
}

} // namespace

ConfigArguments ParseConfigText(const QString &text, const QStringList &valueOptions,
                                const QStringList &flags) {
    static const QRegularExpression option(
        QStringLiteral("^(?:--)?([a-z][a-z0-9-]*)(?:\\s*[= ]\\s*(.*))?$"));
    ConfigArguments result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch match = option.match(line);
        if (!match.hasMatch()) {
            result.arguments.clear();
            result.error = QStringLiteral("line %1: '%2' is not an option").arg(i + 1).arg(line);
            return result;
        }
        const QString name = match.captured(1);
        const QString value = match.captured(2).trimmed();
        const auto fail = [&](const QString &why) {
            result.arguments.clear();
            result.error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return result;
        };
        if (flags.contains(name)) {
            const std::optional<bool> on =
                match.hasCaptured(2) ? FlagValue(value) : std::optional<bool>(true);
            if (!on)
                return fail(QStringLiteral("%1 is yes or no, not '%2'").arg(name, value));
            if (*on)
                result.arguments << QStringLiteral("--") + name;
        } else if (valueOptions.contains(name)) {
            if (!match.hasCaptured(2) || value.isEmpty())
                return fail(QStringLiteral("%1 needs a value").arg(name));
            result.arguments << QStringLiteral("--") + name << value;
        } else {
            return fail(QStringLiteral("unknown option '%1'").arg(name));
        }
    }
    return result;
}

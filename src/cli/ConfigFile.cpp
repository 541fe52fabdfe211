#include "ConfigFile.h"

#include <QRegularExpression>

ConfigArguments ParseConfigText(const QString &text) {
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
        result.arguments << QStringLiteral("--") + match.captured(1);
        if (match.hasCaptured(2))
            result.arguments << match.captured(2).trimmed();
    }
    return result;
}

#include "AuditSettings.h"

#include <QStringList>

namespace {

std::optional<bool> Switch(const QString &value, const char *on, const char *off) {
    if (value == QLatin1String(on))
        return true;
    if (value == QLatin1String(off))
        return false;
    return std::nullopt;
}

} // namespace

AuditSettings ParseAuditSettings(const QString &text, const QString &fileName) {
    AuditSettings settings;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size() && settings.error.isEmpty(); ++i) {
        const QString line = lines[i].trimmed();
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        std::optional<bool> flag;
        if (key == QLatin1String("audit")) {
            flag = Switch(value, "on", "off");
            settings.enabled = flag.value_or(false);
        } else if (key == QLatin1String("audit-reason")) {
            flag = Switch(value, "required", "optional");
            settings.reasonRequired = flag.value_or(false);
        } else if (key == QLatin1String("audit-dir")) {
            settings.folder = value;
            flag = !value.isEmpty();
        } else {
            continue;
        }
        if (!flag.has_value() || (key == QLatin1String("audit-dir") && !*flag))
            settings.error = QStringLiteral("%1:%2: '%3' is not a value of %4")
                                 .arg(fileName)
                                 .arg(i + 1)
                                 .arg(value, key);
    }
    settings.enabled = settings.enabled || settings.reasonRequired;
    return settings;
}

#include "core/PortMapping.h"

#include <QRegularExpression>
#include <QStringView>

std::optional<int> ComPortNumber(const QString &portName) {
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]{0,3})$"));
    const QRegularExpressionMatch match = comPort.match(portName);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

std::optional<QString> MappedDevice(const QString &portsConfText, const QString &portName) {
    std::optional<QString> device;
    for (QStringView line : QStringView(portsConfText).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != portName)
            continue;
        const QStringView path = line.mid(equals + 1).trimmed();
        if (!path.isEmpty())
            device = path.toString();
    }
    return device;
}

QString DevicePathFromSources(const QString &portName, const PortMappingSources &sources) {
    const std::optional<int> number = ComPortNumber(portName);
    if (!number)
        return portName;
    if (!sources.environment.isEmpty())
        return sources.environment;
    if (auto device = MappedDevice(sources.userFile, portName))
        return *device;
    if (auto device = MappedDevice(sources.systemFile, portName))
        return *device;
    return QStringLiteral("/dev/ttyS%1").arg(*number - 1);
}

#include "platform/PortNames.h"

#include "core/PortMapping.h"

#include <QFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <cerrno>

namespace {

// A missing or unreadable file maps nothing.
QString FileText(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString UserPortsFile() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config.isEmpty() ? QString() : config + QStringLiteral("/kalvora/ports.conf");
}

} // namespace

QString DevicePathForPort(const QString &portName) {
    if (!ComPortNumber(portName))
        return portName;
    const QByteArray variable = "KALVORA_" + portName.toLatin1();
    PortMappingSources sources;
    sources.environment = QString::fromLocal8Bit(qgetenv(variable.constData()));
    if (sources.environment.isEmpty()) {
        const QString userFile = UserPortsFile();
        sources.userFile = userFile.isEmpty() ? QString() : FileText(userFile);
        sources.systemFile = FileText(QStringLiteral("/etc/kalvora/ports.conf"));
    }
    return DevicePathFromSources(portName, sources);
}

QString PortOpenErrorText(const QString &portName, const QString &device, const QString &reason,
                          int errorNumber) {
    // A port given as a device path names it once.
    QString text = portName == device
                       ? QStringLiteral("Cannot open %1: %2").arg(device, reason)
                       : QStringLiteral("Cannot open %1 (%2): %3").arg(portName, device, reason);
    if (errorNumber == EACCES || errorNumber == EPERM)
        text += QStringLiteral(". To get access on Linux, join the group that owns the device "
                               "(usually dialout: sudo adduser $USER dialout) and log in again");
    return text;
}

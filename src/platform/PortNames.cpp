#include "platform/PortNames.h"

#include <QRegularExpression>
#include <QtGlobal>

#include <cerrno>

QString DevicePathForPort(const QString &portName) {
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]*)$"));
    const QRegularExpressionMatch match = comPort.match(portName);
    if (!match.hasMatch())
        return portName;
    const QByteArray variable = "KALVORA_" + portName.toLatin1();
    const QByteArray mapped = qgetenv(variable.constData());
    if (!mapped.isEmpty())
        return QString::fromLocal8Bit(mapped);
    return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
}

QString PortOpenErrorText(const QString &portName, const QString &device, const QString &reason,
                          int errorNumber) {
    QString text = QStringLiteral("Cannot open %1 (%2): %3").arg(portName, device, reason);
    if (errorNumber == EACCES || errorNumber == EPERM)
        text += QStringLiteral(". To get access on Linux, join the group that owns the device "
                               "(usually dialout: sudo adduser $USER dialout) and log in again");
    return text;
}

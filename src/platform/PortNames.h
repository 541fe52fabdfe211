#pragma once
// Linux has no COMn devices: the port names the program offers map to device paths.
#include <QString>

// $KALVORA_COMn when set, then the mapping in the user's ports.conf (in the configuration
// folder, ~/.config/kalvora/), then the one in /etc/kalvora/ports.conf, then /dev/ttyS<n-1>.
// Any name that is not "COMn" is taken as a device path already.
QString DevicePathForPort(const QString &portName);

// The error text for a port that could not be opened: the port, its device, the system's
// reason, and for a refused access what a Linux user does about it.
QString PortOpenErrorText(const QString &portName, const QString &device, const QString &reason,
                          int errorNumber);

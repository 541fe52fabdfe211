#pragma once
// Which device a port name ("COM1") stands for, chosen among the places a mapping can come
// from. The caller reads the environment and the files; nothing here touches the system.
#include <QString>

#include <optional>

// n for "COMn" (n from 1), nothing for any other name.
std::optional<int> ComPortNumber(const QString &portName);

// The device a ports.conf text maps portName to. Lines read "COM1=/dev/ttyUSB0"; blank lines
// and lines starting with "#" are skipped, as are lines without "=" or with an empty path;
// spaces around the name and the path do not count. A later line for the same port wins.
std::optional<QString> MappedDevice(const QString &portsConfText, const QString &portName);

struct PortMappingSources {
    QString environment; // $KALVORA_COMn, empty when unset
    QString userFile;    // text of the user's ports.conf, empty when there is none
    QString systemFile;  // text of the system's ports.conf, empty when there is none
};

// For "COMn": the environment, then the user's file, then the system's, then /dev/ttyS<n-1>.
// Any other name is taken as a device path already.
QString DevicePathFromSources(const QString &portName, const PortMappingSources &sources);

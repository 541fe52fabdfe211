#pragma once
// A file's bytes as they are on the disk; empty when it cannot be read.
#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray ReadAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

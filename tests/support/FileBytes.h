#pragma once
// Files as they are on the disk, for the tests that write or read them whole.
#include <QByteArray>
#include <QFile>
#include <QString>

// A file's bytes; empty when it cannot be read.
inline QByteArray ReadAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Replaces the file's content with `bytes`; false when they were not all written.
inline bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

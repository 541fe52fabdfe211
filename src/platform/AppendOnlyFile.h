#pragma once
// A file written only at its end, each piece in one write: O_APPEND keeps the pieces whole even
// beside another writer, so that a reader following the file never sees two pieces mixed.
#include <QByteArray>
#include <QString>

// Opens `path` for appending, creating it (mode 0644). -1 with errno set when it cannot.
int OpenForAppending(const QString &path);
// Writes all of `bytes` in one write, again when a signal interrupts it: how many went in (fewer
// on a full disk), or -1 with errno set.
qint64 AppendInOneWrite(int fd, const QByteArray &bytes);
void CloseAppended(int fd);

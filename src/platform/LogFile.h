#pragma once
// Log file writes. Every call opens, writes, flushes, syncs and closes; a failing step throws
// InOutError with the operator's message ("File access denied", "The specified file was not
// found", "Disk full", "I/O error <n>").
#include <QByteArray>
#include <QString>

// Creates the file (emptying an existing one) and writes bytes.
void CreateLogFile(const QString &path, const QByteArray &bytes);
// Appends bytes to an existing file; a missing file is not created.
void AppendToLogFile(const QString &path, const QByteArray &bytes);

// Message for an errno value.
QString InOutErrorMessage(int errorNumber);

#pragma once
// The readings log: header, records, file name and the bytes that reach the disk.
#include <QByteArray>
#include <QString>

// Header line with its CR LF.
QString LogHeader();

// One record with its CR LF: time, current temperature, program, step, cycle in fixed columns.
QString ComposeLogRecord(const QString &timeText, const QString &currentTemperature,
                         const QString &program, const QString &step, const QString &cycle);

// "<date> <time>" with every ":" and "/" replaced by "_", fit for a file name.
QString FileTimeStamp(const QString &dateText, const QString &timeText);

// <folder with separator>ЖЫМ№><time stamp>.txt, ">" standing for the chamber number.
QString NewLogFileName(const QString &programDirectory, const QString &timeStamp);

// Replaces every ">" of the file-name part with the chamber number; the folder is kept as it is.
QString WithChamberNumber(const QString &logFileName, int chamberAddress);

// Longest full path the log file may have.
constexpr int kMaxLogPathLength = 259;

// The bytes one line adds to a log file: the text in Windows-1251, closed by CR LF. The header
// and the records carry a CR LF of their own, so each is followed by an empty line.
QByteArray LogLineBytes(const QString &line);
QByteArray LogHeaderBytes();
QByteArray LogRecordBytes(const QString &timeText, const QString &currentTemperature,
                          const QString &program, const QString &step, const QString &cycle);

// The append rule of every log writer: a record is written once, and only when a reading
// composed it since the last write; never the header, never the same record twice under a
// later time. Calls write(bytes) for a pending record and clears `pending` once write returned;
// a write that throws leaves the record pending. True when a record was written.
template <class Write>
bool AppendPendingRecord(const QString &record, bool &pending, Write &&write) {
    if (!pending)
        return false;
    write(LogLineBytes(record));
    pending = false;
    return true;
}

// Windows-1251 bytes; characters that code page lacks become "?".
QByteArray ToWindows1251(const QString &text);

// Text of Windows-1251 bytes; the one byte the code page leaves undefined becomes U+FFFD.
QString FromWindows1251(const QByteArray &bytes);

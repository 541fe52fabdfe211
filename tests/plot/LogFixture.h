#pragma once
// Log texts for the tests: Windows-1251 bytes as the window writes them, and readings as short
// texts so that tables of expectations stay readable.
#include "FileBytes.h"
#include "core/LogFormat.h"
#include "core/Reading.h"

#include <QByteArray>
#include <QStringList>

struct Record {
    QString time, temperature, program, step, cycle;
};

// The header and its empty line, then each record with its empty line.
inline QByteArray RecordBytes(const Record &record) {
    return LogRecordBytes(record.time, record.temperature, record.program, record.step,
                          record.cycle);
}

inline QByteArray LogBytes(const QList<Record> &records) {
    QByteArray bytes = LogHeaderBytes();
    for (const Record &record : records)
        bytes += RecordBytes(record);
    return bytes;
}

inline Reading ReadingAt(const QDate &date, const QTime &time) {
    Reading reading;
    reading.date = date;
    reading.time = time;
    return reading;
}

template <typename T> QString Optional(const std::optional<T> &value) {
    return value ? QString::number(*value) : QStringLiteral("-");
}

// "2017-12-09 14:05:33 23.5 p2 s3/12 c2/5", "-" for an empty figure.
inline QString ReadingSummary(const Reading &reading) {
    QString text = reading.date.toString(Qt::ISODate) + QLatin1Char(' ') +
                   reading.time.toString(Qt::ISODate) + QLatin1Char(' ') +
                   Optional(reading.temperature);
    if (reading.setTemperature)
        text += QStringLiteral(" set") + Optional(reading.setTemperature);
    return text + QStringLiteral(" p") + Optional(reading.program) + QStringLiteral(" s") +
           Optional(reading.step) + QLatin1Char('/') + Optional(reading.steps) +
           QStringLiteral(" c") + Optional(reading.cycle) + QLatin1Char('/') +
           Optional(reading.cycles);
}

inline QStringList Summaries(const QList<Reading> &readings) {
    QStringList texts;
    for (const Reading &reading : readings)
        texts.append(ReadingSummary(reading));
    return texts;
}

#pragma once
// The ways the tool reports one reading: text lines, a JSON object and a CSV row.
#include "core/ReadingValues.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// One figure per line, "name: value"; "-" for a value that failed its bound.
QString ReadingText(const ReadingValues &values);

// {"address": 1, "current_temperature": 23.5, ...}: numbers with a dot, times as "hh:mm",
// null for a value that failed its bound. No line end. `more`: members after the reading's.
QString ReadingJson(int address, const ReadingValues &values,
                    const QList<QPair<QString, QJsonValue>> &more = {});
// The same members as an object (whose own order is by name), to build larger answers on.
QJsonObject ReadingJsonObject(int address, const ReadingValues &values);

// The CSV header row and one row, each with its line end ("\n"). time: ISO 8601 local time
// with its offset. An empty cell for a value that failed its bound.
QString CsvHeader();
QString CsvRow(const QString &time, const ReadingValues &values);

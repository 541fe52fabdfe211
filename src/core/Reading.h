#pragma once
// One reading of a chamber as the log and the readings CSV files keep it.
#include "IsoTime.h"

#include <QDate>
#include <QList>
#include <QTime>
#include <optional>

struct Reading {
    // Local time of the machine that wrote the file.
    QDate date;
    QTime time;
    // Known for rows of readings CSV files, which carry it; logs do not.
    std::optional<int> utcOffsetSeconds;

    // Empty where the file left the figure empty (no accepted reply yet, or a failed bound).
    std::optional<double> temperature;
    std::optional<double> setTemperature; // readings CSV files only
    std::optional<int> program;
    std::optional<int> step;
    std::optional<int> steps;
    std::optional<int> cycle;
    std::optional<int> cycles;
    // Minutes of the step's time to mode, its set-point and the stabilisation time, readings
    // CSV files only.
    std::optional<int> timeToModeMinutes;
    std::optional<int> timeToModeSetPointMinutes;
    std::optional<int> stabilisationMinutes;

    bool operator==(const Reading &) const = default;
};

inline qint64 LocalSeconds(const Reading &reading) {
    return LocalSeconds(reading.date, reading.time);
}

// What a file held: its readings in file order, and the lines that were neither a reading
// nor a header.
struct ReadingsFile {
    QList<Reading> readings;
    int damagedLines = 0;
    int firstDamagedLine = 0; // 1-based; 0 when none
};

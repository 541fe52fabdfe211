#pragma once
// Turns a reply to the read of the 15 input registers into the texts of the nine figures and
// the five texts kept for the log.
#include <QChar>
#include <QString>
#include <cstdint>

struct FigureTexts {
    QString currentTemperature;  // Label5
    QString program;             // Label17
    QString setTemperature;      // Label18
    QString stabilisationTime;   // Label11
    QString timeToMode;          // Label15
    QString timeToModeSetPoint;  // Label3
    QString stabilisationSetPoint;  // Label19
    QString step;                // Label13
    QString cycle;               // Label20
};

// The figures' texts before any reading and after reading is switched off.
FigureTexts StartFigureTexts();

struct KeptTexts {
    QString currentTemperature;
    QString setTemperature;
    QString program;
    QString step;
    QString cycle;
};

// reply: the 35 bytes from index 0 of the receive buffer. Each quantity that fails its
// plausibility bound leaves its figure and kept text unchanged.
void DecodeCurrentValues(const std::uint8_t *reply, FigureTexts &figures, KeptTexts &kept,
                         QChar decimalSeparator);

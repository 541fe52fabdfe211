#pragma once
// The chart of a program's profile (see core/ProgramProfile.h): the temperature over the time
// from the start, step and cycle boundaries, and the total duration and end time in its title.
// Shared by kalvora-plot and the window program's preview.
#include "core/ControlInput.h"

#include <QChart>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Where the first ramp is drawn from: the chamber's temperature at the start is not in the table.
constexpr int kPreviewStartTemperature = 20;

// The colours the tests look for in the pictures.
inline const QColor kProfileColour{0x00, 0x40, 0xc0};
inline const QColor kCycleBoundaryColour{0x80, 0x80, 0x80};

// "Длительность: …", "Окончание при запуске сейчас: …", and for zero times to mode a line
// saying that the chamber sets its own rate there.
QStringList ProgramSummary(const ProgramInput &program, const QDateTime &now);

// The chart; the caller owns it. `programNumber` 0: none chosen.
QChart *BuildProgramChart(const ProgramInput &program, const QString &name, int programNumber,
                          const QDateTime &now);

// A window with the chart and the summary as text, not shown yet.
QWidget *NewProgramPreviewWindow(const ProgramInput &program, const QString &name,
                                 int programNumber, const QDateTime &now);

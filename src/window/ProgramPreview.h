#pragma once
// The control window's preview of a program's profile, in a window of its own beside it.
#include "core/ControlInput.h"

#include <QString>

class QWidget;

// Opens a new preview window (not modal); it is deleted when closed.
void ShowProgramPreview(QWidget *parent, const ProgramInput &program, const QString &name,
                        int programNumber);

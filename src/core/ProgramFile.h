#pragma once
// A thermocycling program kept as a file: the control window's texts in a CSV that a lab can
// keep in version control, mail and open in a spreadsheet (";" between cells, UTF-8 with a BOM).
//
//   Программа Kalvora;1
//   Программа №;2
//   Число шагов;3
//   Число циклов;125
//   Название;...
//   Описание;...
//   № шага;Т, °С;Стабилизация, чч;Стабилизация, мм;Выход,чч;Выход,мм
//   1;-40;1;30;0;45
//
// Reading applies exactly the window's checks; an error names the file, the line and the cell.
#include "ControlInput.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What the window shows, as texts: what is kept is what the operator saw.
struct ProgramTexts {
    QString programNumber; // "1".."15", "" when none is chosen
    QString steps;
    QString cycles;
    QString name;
    QString description;
    StepCellTexts cells{};
};

struct ProgramFileContent {
    ProgramTexts texts;
    bool draft = false; // saved from a table that failed the checks
    int lineOfSteps = 0, lineOfCycles = 0, lineOfProgramNumber = 0;
    std::array<int, kMaxSteps> lineOfRow{}; // 0 for a row the file does not hold
};

struct ProgramFileRead {
    // Set when the file's form is sound (its texts can fill the window), whatever the checks say.
    std::optional<ProgramFileContent> content;
    // Set when the texts also pass the window's checks.
    std::optional<ProgramInput> program;
    int programNumber = 0; // 0 when the file names none
    QString error;         // "<file>:<line>: <cell>: <reason>"; empty when the program is valid
};

// The first line of every program file.
extern const char kProgramFileSignature[];

// True when the first line (after a BOM) starts with the signature, whatever follows it: a
// plain table of steps is not one.
bool LooksLikeProgramFile(const QByteArray &bytes);

// `fileName` is used in the error texts only.
ProgramFileRead ReadProgramFile(const QByteArray &bytes, const QString &fileName);

// The checks of ReadProgramFile on content already read (a tool may have replaced some texts).
ProgramFileRead CheckProgramContent(const ProgramFileContent &content, const QString &fileName);

// A file holding what ReadProgramFile gives back; `draft` marks texts that fail the checks.
// Rows are written up to the last one holding any text, and at least up to the number of steps.
QByteArray WriteProgramFile(const ProgramTexts &texts, bool draft);

// Names the first entry that the window's checks reject, or nothing for a valid program:
// "Число шагов: empty", "step 2, Т, °С: 500 is outside -85..180".
struct ProgramFault {
    int line = 0; // of the content, 0 when unknown
    QString where;
    QString reason;
};
std::optional<ProgramFault> FirstProgramFault(const ProgramFileContent &content);

// The same for the window's own texts, where every row is there: "<where>: <reason>".
std::optional<QString> FirstFaultOfTexts(const ProgramTexts &texts);

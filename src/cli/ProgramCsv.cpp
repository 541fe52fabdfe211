#include "cli/ProgramCsv.h"

#include <QStringList>

namespace {

const char *const kColumnNames[kStepColumns] = {"temperature", "stabilisation hours",
                                                "stabilisation minutes", "time-to-mode hours",
                                                "time-to-mode minutes"};

bool IsTitleRow(const QStringList &cells) {
    for (const QString &cell : cells) {
        bool hasLetter = false;
        for (const QChar c : cell)
            hasLetter = hasLetter || c.isLetter();
        if (!hasLetter)
            return false;
    }
    return true;
}

QString Where(int line, int column) {
    const QString name = column >= 1 && column <= kStepColumns
                             ? QStringLiteral(" (%1)").arg(QLatin1String(kColumnNames[column - 1]))
                             : QString();
    return QStringLiteral("row %1, column %2%3").arg(line).arg(column).arg(name);
}

} // namespace

ProgramCsv ParseProgramCsv(const QString &text) {
    ProgramCsv csv;
    std::array<int, kMaxSteps> lineOfStep{};
    QStringList lines = text.split(QLatin1Char('\n'));
    bool firstRow = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int lineNumber = static_cast<int>(i + 1);
        const QStringList cells = line.split(QLatin1Char(','));
        const bool skipTitles = firstRow && IsTitleRow(cells);
        firstRow = false;
        if (skipTitles)
            continue;
        if (csv.steps == kMaxSteps) {
            csv.error = QStringLiteral("row %1: a program has at most %2 steps")
                            .arg(lineNumber)
                            .arg(kMaxSteps);
            return csv;
        }
        if (cells.size() != kStepColumns) {
            const int column = static_cast<int>(std::min<qsizetype>(cells.size() + 1, kStepColumns + 1));
            csv.error = Where(lineNumber, column) +
                        QStringLiteral(": a step has %1 columns, this row %2")
                            .arg(kStepColumns)
                            .arg(cells.size());
            return csv;
        }
        for (int c = 0; c < kStepColumns; ++c)
            csv.cells[csv.steps][c] = cells[c];
        lineOfStep[csv.steps] = lineNumber;
        ++csv.steps;
    }
    if (csv.steps == 0) {
        csv.error = QStringLiteral("no steps (one step per row)");
        return csv;
    }
    if (const auto rejected = FirstRejectedEntry(csv.cells, csv.steps))
        csv.error = Where(lineOfStep[rejected->row - 1], rejected->column) + QStringLiteral(": ") +
                    rejected->reason;
    return csv;
}

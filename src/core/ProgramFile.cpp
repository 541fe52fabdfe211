#include "ProgramFile.h"

#include "Errors.h"
#include "IntegerText.h"

#include <QStringList>

const char kProgramFileSignature[] = "Программа Kalvora";

namespace {

constexpr char16_t kSeparator = u';';
const QString kFormatVersion = QStringLiteral("1");

const QString kProgramNumberKey = QStringLiteral("Программа №");
const QString kStepsKey = QStringLiteral("Число шагов");
const QString kCyclesKey = QStringLiteral("Число циклов");
const QString kNameKey = QStringLiteral("Название");
const QString kDescriptionKey = QStringLiteral("Описание");
const QString kDraftKey = QStringLiteral("Черновик");
const QString kDraftYes = QStringLiteral("да");

// The window's column titles ("Т" and "С" of the second are Cyrillic).
const QStringList kColumnTitles{QStringLiteral("№ шага"),           QStringLiteral("Т, °С"),
                                QStringLiteral("Стабилизация, чч"), QStringLiteral("Стабилизация, мм"),
                                QStringLiteral("Выход,чч"),         QStringLiteral("Выход,мм")};

constexpr std::array<Bounds, kStepColumns> kColumnBounds{
    kTemperatureBounds, kHoursBounds, kMinutesBounds, kHoursBounds, kMinutesBounds};

QByteArray WithoutBom(const QByteArray &bytes) {
    return bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
}

// Cells of one line: ";" apart, a cell in double quotes may hold ";" and doubled quotes.
std::optional<QStringList> SplitCells(const QString &line) {
    QStringList cells;
    QString cell;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
                cell += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == u'"' && cell.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == kSeparator) {
            cells << cell;
            cell.clear();
            wasQuoted = false;
        } else if (wasQuoted) {
            return std::nullopt; // text after a closing quote
        } else {
            cell += c;
        }
    }
    if (quoted)
        return std::nullopt;
    cells << cell;
    return cells;
}

QString Quoted(QString cell) {
    cell.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const bool needsQuotes = cell.contains(kSeparator) || cell.contains(u'"') ||
                             (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
    if (!needsQuotes)
        return cell;
    cell.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

class ReadFailure {
public:
    int line;
    QString text;
};

[[noreturn]] void Fail(int line, const QString &text) { throw ReadFailure{line, text}; }

QString Shown(const QString &text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

// A line with a comma where a semicolon belongs is named as such rather than as a missing cell.
void RequireSemicolons(int line, const QString &text, const QStringList &cells) {
    if (cells.size() == 1 && text.contains(QLatin1Char(',')))
        Fail(line, QStringLiteral("cells are separated by \";\", this line has \",\""));
}

struct Lines {
    QStringList texts;
    int count() const { return static_cast<int>(texts.size()); }
};

ProgramFileContent ReadContent(const QByteArray &bytes) {
    const QString text = QString::fromUtf8(WithoutBom(bytes));
    if (text.trimmed().isEmpty())
        Fail(0, QStringLiteral("the file is empty"));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);

    ProgramFileContent content;
    const QString signature = QString::fromUtf8(kProgramFileSignature);
    if (!lines.first().startsWith(signature))
        Fail(1, QStringLiteral("not a Kalvora program: the first line is not \"%1;%2\"")
                    .arg(signature, kFormatVersion));
    const auto first = SplitCells(lines.first());
    RequireSemicolons(1, lines.first(), first.value_or(QStringList()));
    if (!first || first->size() < 2 || first->at(0) != signature)
        Fail(1, QStringLiteral("not a Kalvora program: the first line is not \"%1;%2\"")
                    .arg(signature, kFormatVersion));
    if (first->at(1) != kFormatVersion)
        Fail(1, QStringLiteral("format version %1; this program reads version %2")
                    .arg(Shown(first->at(1)), kFormatVersion));

    // Leading lines "key;value" up to the table's title row, in any order, each once.
    const std::pair<const QString *, QString *> keys[] = {
        {&kProgramNumberKey, &content.texts.programNumber},
        {&kStepsKey, &content.texts.steps},
        {&kCyclesKey, &content.texts.cycles},
        {&kNameKey, &content.texts.name},
        {&kDescriptionKey, &content.texts.description}};
    QStringList seen;
    int index = 1;
    for (; index < lines.size(); ++index) {
        const int lineNumber = index + 1;
        const QString &line = lines[index];
        if (line.isEmpty())
            continue;
        const auto cells = SplitCells(line);
        if (!cells)
            Fail(lineNumber, QStringLiteral("a quoted cell is not closed"));
        RequireSemicolons(lineNumber, line, *cells);
        const QString &key = cells->first();
        if (key == kColumnTitles.first())
            break;
        if (key == QLatin1String("1"))
            Fail(lineNumber, QStringLiteral("the table's title row \"%1\" is missing")
                                 .arg(kColumnTitles.join(kSeparator)));
        if (seen.contains(key))
            Fail(lineNumber, QStringLiteral("%1 is given twice").arg(Shown(key)));
        // Empty cells a spreadsheet adds after the value are no fault.
        for (qsizetype c = 2; c < cells->size(); ++c)
            if (!cells->at(c).isEmpty())
                Fail(lineNumber, QStringLiteral("%1: one value expected, this line has %2")
                                     .arg(Shown(key))
                                     .arg(cells->size() - 1));
        const QString value = cells->size() > 1 ? cells->at(1) : QString();
        seen << key;
        if (key == kDraftKey) {
            content.draft = value == kDraftYes;
            continue;
        }
        bool known = false;
        for (const auto &[name, field] : keys)
            if (key == *name) {
                *field = value;
                known = true;
            }
        if (!known)
            Fail(lineNumber, QStringLiteral("unknown line %1").arg(Shown(key)));
        if (key == kStepsKey)
            content.lineOfSteps = lineNumber;
        else if (key == kCyclesKey)
            content.lineOfCycles = lineNumber;
        else if (key == kProgramNumberKey)
            content.lineOfProgramNumber = lineNumber;
    }
    if (index == lines.size())
        Fail(static_cast<int>(lines.size()), QStringLiteral("the table's title row \"%1\" is missing")
                               .arg(kColumnTitles.join(kSeparator)));
    for (const QString *required : {&kStepsKey, &kCyclesKey})
        if (!seen.contains(*required))
            Fail(index + 1, QStringLiteral("the line %1 is missing before the table")
                                .arg(Shown(*required)));

    const auto titles = SplitCells(lines[index]);
    if (titles != kColumnTitles)
        Fail(index + 1,
             QStringLiteral("the title row must be \"%1\"").arg(kColumnTitles.join(kSeparator)));

    int row = 0;
    for (++index; index < lines.size(); ++index) {
        const int lineNumber = index + 1;
        const QString &line = lines[index];
        if (line.isEmpty())
            continue;
        const auto cells = SplitCells(line);
        if (!cells)
            Fail(lineNumber, QStringLiteral("a quoted cell is not closed"));
        RequireSemicolons(lineNumber, line, *cells);
        if (row == kMaxSteps)
            Fail(lineNumber, QStringLiteral("a program has at most %1 steps").arg(kMaxSteps));
        const QString stepNumber = QString::number(row + 1);
        if (cells->first() != stepNumber)
            Fail(lineNumber, QStringLiteral("%1: %2 expected, found %3")
                                 .arg(kColumnTitles.first(), stepNumber, Shown(cells->first())));
        if (cells->size() < kColumnTitles.size())
            Fail(lineNumber, QStringLiteral("step %1, %2: the cell is missing")
                                 .arg(stepNumber, kColumnTitles[cells->size()]));
        for (qsizetype c = kColumnTitles.size(); c < cells->size(); ++c)
            if (!cells->at(c).isEmpty())
                Fail(lineNumber, QStringLiteral("step %1: %2 cells expected, this row has %3")
                                     .arg(stepNumber)
                                     .arg(kColumnTitles.size())
                                     .arg(cells->size()));
        for (int c = 0; c < kStepColumns; ++c)
            content.texts.cells[row][c] = cells->at(c + 1);
        content.lineOfRow[row] = lineNumber;
        ++row;
    }
    return content;
}

// The window's checks, with their verdict, without the window's way of reporting it.
std::optional<ProgramInput> Checked(const ProgramTexts &texts) {
    try {
        return CheckProgramInput(texts.steps, texts.cycles, texts.cells);
    } catch (const ConversionError &) {
        return std::nullopt;
    }
}

std::optional<QString> NumberFault(const QString &text, const Bounds &bounds) {
    if (text.isEmpty())
        return QStringLiteral("empty");
    try {
        const int value = StrToInt(text);
        if (!bounds.Contain(value))
            return QStringLiteral("%1 is outside %2").arg(value).arg(BoundsText(bounds));
    } catch (const ConversionError &error) {
        return error.message();
    }
    return std::nullopt;
}

} // namespace

bool LooksLikeProgramFile(const QByteArray &bytes) {
    return WithoutBom(bytes).startsWith(kProgramFileSignature);
}

std::optional<ProgramFault> FirstProgramFault(const ProgramFileContent &content) {
    const ProgramTexts &texts = content.texts;
    if (auto fault = NumberFault(texts.steps, kStepsBounds))
        return ProgramFault{content.lineOfSteps, kStepsKey, *fault};
    if (auto fault = NumberFault(texts.cycles, kCyclesBounds))
        return ProgramFault{content.lineOfCycles, kCyclesKey, *fault};
    const int steps = StrToInt(texts.steps);
    if (const auto rejected = FirstRejectedEntry(texts.cells, steps))
        return ProgramFault{content.lineOfRow[rejected->row - 1],
                            QStringLiteral("step %1, %2")
                                .arg(rejected->row)
                                .arg(kColumnTitles[rejected->column]),
                            rejected->reason == QLatin1String("empty") &&
                                    content.lineOfRow[rejected->row - 1] == 0
                                ? QStringLiteral("the step is missing")
                                : rejected->reason};
    return std::nullopt;
}

namespace {

QString Located(const QString &fileName, int line, const QString &text) {
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(text)
                    : QStringLiteral("%1: %2").arg(fileName, text);
}

} // namespace

ProgramFileRead ReadProgramFile(const QByteArray &bytes, const QString &fileName) {
    try {
        return CheckProgramContent(ReadContent(bytes), fileName);
    } catch (const ReadFailure &failure) {
        ProgramFileRead read;
        read.error = Located(fileName, failure.line, failure.text);
        return read;
    }
}

ProgramFileRead CheckProgramContent(const ProgramFileContent &content, const QString &fileName) {
    ProgramFileRead read;
    read.content = content;
    if (!content.texts.programNumber.isEmpty()) {
        if (auto fault = NumberFault(content.texts.programNumber, kProgramNumberBounds)) {
            read.error = Located(fileName, content.lineOfProgramNumber,
                                 kProgramNumberKey + QStringLiteral(": ") + *fault);
            return read;
        }
        read.programNumber = StrToInt(content.texts.programNumber);
    }
    read.program = Checked(content.texts);
    if (read.program)
        return read;
    // The verdict is the window's; the fault named is the first in the table's order.
    const auto fault = FirstProgramFault(content);
    read.error = Located(fileName, fault ? fault->line : 0,
                         fault ? fault->where + QStringLiteral(": ") + fault->reason
                               : QStringLiteral("the program was rejected"));
    return read;
}

QByteArray WriteProgramFile(const ProgramTexts &texts, bool draft) {
    QStringList lines;
    lines << QString::fromUtf8(kProgramFileSignature) + kSeparator + kFormatVersion;
    const auto keyLine = [&](const QString &key, const QString &value) {
        lines << key + kSeparator + Quoted(value);
    };
    keyLine(kProgramNumberKey, texts.programNumber);
    keyLine(kStepsKey, texts.steps);
    keyLine(kCyclesKey, texts.cycles);
    keyLine(kNameKey, texts.name);
    keyLine(kDescriptionKey, texts.description);
    if (draft)
        keyLine(kDraftKey, kDraftYes);
    lines << kColumnTitles.join(kSeparator);

    int rows = 0;
    for (int row = 0; row < kMaxSteps; ++row)
        for (const QString &cell : texts.cells[row])
            if (!cell.isEmpty())
                rows = row + 1;
    try {
        const int steps = StrToInt(texts.steps);
        if (steps > rows)
            rows = std::min(steps, kMaxSteps);
    } catch (const ConversionError &) {
    }
    for (int row = 0; row < rows; ++row) {
        QString line = QString::number(row + 1);
        for (const QString &cell : texts.cells[row])
            line += kSeparator + Quoted(cell);
        lines << line;
    }
    return "\xEF\xBB\xBF" + (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

std::optional<QString> FirstFaultOfTexts(const ProgramTexts &texts) {
    ProgramFileContent content;
    content.texts = texts;
    for (int row = 0; row < kMaxSteps; ++row)
        content.lineOfRow[row] = row + 1;
    if (const auto fault = FirstProgramFault(content))
        return fault->where + QStringLiteral(": ") + fault->reason;
    return std::nullopt;
}

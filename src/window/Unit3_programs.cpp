// The control window's program files: open and save from the table's context menu or with
// Ctrl+O and Ctrl+S, and the profile's preview.
#include "Unit3.h"

#include "AppShell.h"
#include "ProgramPreview.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/ProgramLibrary.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTableWidget>
#include <QUrl>

namespace {

const QString kFileFilter = QStringLiteral("Программы Kalvora (*.csv);;Все файлы (*)");

QString AskWithDialog(QWidget *parent, const ProgramFileQuestion &question) {
    // The user's library exists from the first time it is offered, so that it can be chosen.
    if (!question.folders.isEmpty())
        QDir().mkpath(question.folders.first());
    QFileDialog dialog(parent, question.save ? QStringLiteral("Сохранить программу")
                                             : QStringLiteral("Открыть программу"),
                       question.startPath, kFileFilter);
    dialog.setAcceptMode(question.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(question.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    QList<QUrl> places;
    for (const QString &folder : question.folders)
        places << QUrl::fromLocalFile(folder);
    dialog.setSidebarUrls(places);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString UserFolder() {
    return UserProgramFolder(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

QStringList OfferedFolders() {
    return OfferedProgramFolders(UserFolder(),
                                 QFileInfo(QString::fromLatin1(kSharedProgramFolder)).isDir());
}

// An open cell editor holds text the cells do not have yet.
void CommitOpenEditor(QTableWidget *grid) {
    if (QWidget *editor = grid->indexWidget(grid->currentIndex()))
        QMetaObject::invokeMethod(grid, "commitData", Qt::DirectConnection,
                                  Q_ARG(QWidget *, editor));
}

bool PassesChecks(const ProgramTexts &texts) {
    try {
        return CheckProgramInput(texts.steps, texts.cycles, texts.cells).has_value();
    } catch (const ConversionError &) {
        return false;
    }
}

} // namespace

std::function<QString(QWidget *, const ProgramFileQuestion &)> ProgramFileDialogHook =
    AskWithDialog;

ProgramTexts TForm3::programTexts() {
    CommitOpenEditor(StringGrid1);
    ProgramTexts texts;
    if (ComboBox1->currentIndex() >= 0)
        texts.programNumber = ComboBox1->currentText();
    texts.steps = Edit1->text();
    texts.cycles = Edit2->text();
    texts.name = programName_;
    texts.description = programDescription_;
    for (int row = 1; row <= kMaxSteps; ++row)
        for (int column = 1; column <= kStepColumns; ++column)
            texts.cells[row - 1][column - 1] = cellText(row, column);
    return texts;
}

void TForm3::fillProgram(const ProgramTexts &texts) {
    // "02" and " 2" name program 2 as the checks read them; the list shows "2".
    int number = 0;
    try {
        number = texts.programNumber.isEmpty() ? 0 : StrToInt(texts.programNumber);
    } catch (const ConversionError &) {
    }
    ComboBox1->setCurrentIndex(kProgramNumberBounds.Contain(number) ? number - 1 : -1);
    Edit1->setText(texts.steps);
    Edit2->setText(texts.cycles);
    for (int row = 1; row <= kMaxSteps; ++row)
        for (int column = 1; column <= kStepColumns; ++column)
            setCellText(row, column, texts.cells[row - 1][column - 1]);
    programName_ = texts.name;
    programDescription_ = texts.description;
}

void TForm3::OpenProgram() {
    ProgramFileQuestion question;
    question.folders = OfferedFolders();
    question.startPath = programPath_.isEmpty() ? question.folders.first()
                                                : QFileInfo(programPath_).absolutePath();
    const QString path = ProgramFileDialogHook(this, question);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KalvoraError(QStringLiteral("Program not opened: %1: %2").arg(path, file.errorString()));
    const ProgramFileRead read = ReadProgramFile(file.readAll(), path);
    // A failing file fills nothing, unless it was saved as a draft to be finished here.
    if (!read.content || (!read.program && !read.content->draft))
        throw KalvoraError(QStringLiteral("Program not opened: ") + read.error);
    fillProgram(read.content->texts);
    programPath_ = path;
    if (!read.program)
        ShowErrorBox(QStringLiteral("Opened a draft: it fails the checks and cannot be written to "
                                    "a chamber as it is (") +
                     read.error + QStringLiteral(")"));
}

void TForm3::SaveProgram() {
    const ProgramTexts texts = programTexts();
    ProgramFileQuestion question;
    question.save = true;
    question.folders = OfferedFolders();
    question.startPath = programPath_.isEmpty() || IsInSharedProgramLibrary(programPath_)
                             ? question.folders.first()
                             : programPath_;
    const QString chosen = ProgramFileDialogHook(this, question);
    if (chosen.isEmpty())
        return;
    const QString path = ProgramFileName(chosen);
    if (IsInSharedProgramLibrary(path))
        throw KalvoraError(QStringLiteral("Program not saved: %1 is the lab's shared library, "
                                          "which is read-only here; save into your own folder "
                                          "(%2).")
                               .arg(QString::fromLatin1(kSharedProgramFolder), UserFolder()));
    const bool draft = !PassesChecks(texts);
    const QByteArray bytes = WriteProgramFile(texts, draft);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw KalvoraError(QStringLiteral("Program not saved: %1: %2").arg(path, file.errorString()));
    programPath_ = path;
    if (draft) {
        ShowErrorBox(QStringLiteral("Saved as a draft: the table fails the checks and cannot be "
                                    "written to a chamber as it is (%1).")
                         .arg(FirstFaultOfTexts(texts).value_or(QStringLiteral("rejected"))));
    }
}

void TForm3::PreviewProgram() {
    const ProgramTexts texts = programTexts();
    std::optional<ProgramInput> program;
    try {
        program = CheckProgramInput(texts.steps, texts.cycles, texts.cells);
    } catch (const ConversionError &) {
    }
    if (!program)
        throw KalvoraError(QStringLiteral("No preview: the table fails the checks (%1)")
                               .arg(FirstFaultOfTexts(texts).value_or(QStringLiteral("rejected"))));
    ShowProgramPreview(this, *program, texts.name, ComboBox1->currentIndex() + 1);
}

void TForm3::addProgramActions() {
    const auto make = [this](const QString &text, const QKeySequence &keys,
                             void (TForm3::*handler)()) {
        auto *action = new QAction(text, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this,
                [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
        addAction(action);
        return action;
    };
    openProgramAction = make(QStringLiteral("Открыть программу…"),
                             QKeySequence(Qt::CTRL | Qt::Key_O), &TForm3::OpenProgram);
    saveProgramAction = make(QStringLiteral("Сохранить программу…"),
                             QKeySequence(Qt::CTRL | Qt::Key_S), &TForm3::SaveProgram);
    previewProgramAction = make(QStringLiteral("Просмотр…"), QKeySequence(), &TForm3::PreviewProgram);
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addActions({openProgramAction, saveProgramAction, previewProgramAction});
        menu->popup(StringGrid1->viewport()->mapToGlobal(at));
    });
}

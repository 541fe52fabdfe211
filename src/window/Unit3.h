#pragma once
// The control window: program editor, manual set-point and the start/stop commands.
#include "core/ProgramFile.h"

#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTableWidget;
class TForm4;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    QTableWidget *StringGrid1 = nullptr;  // 6 x 16, fixed row 0 and column 0
    QComboBox *ComboBox1 = nullptr;       // program number "1".."15"
    QLineEdit *Edit1 = nullptr;           // number of steps
    QLineEdit *Edit2 = nullptr;           // number of cycles
    QLineEdit *Edit3 = nullptr;           // manual set-point
    QComboBox *ComboBox2 = nullptr;       // program to start from "1".."15"
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr,
                *Button4 = nullptr, *Button5 = nullptr, *Button6 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label7 = nullptr;

    // Text of a data cell (row 1..15, column 1..5); "" for a cell without an item.
    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString &text);

    void FormCreate();
    void ComboBox1Change();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();

    // Program files, from the table's context menu or Ctrl+O / Ctrl+S; a preview of the profile.
    void OpenProgram();
    void SaveProgram();
    void PreviewProgram();
    // The controls' texts, and filling them from a file's.
    ProgramTexts programTexts();
    void fillProgram(const ProgramTexts &texts);
    QAction *openProgramAction = nullptr, *saveProgramAction = nullptr,
            *previewProgramAction = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;  // hides only

private:
    void buildLayout();      // Unit3_layout.cpp
    void connectHandlers();  // Unit3_layout.cpp: clicks through the commands' wrapper
    void addProgramActions(); // Unit3_layout.cpp
    QScrollArea *scrollArea_ = nullptr;
    // Kept from the file opened last, so that saving it again keeps them.
    QString programName_, programDescription_, programPath_;
};

extern TForm3 *Form3;

// Opens one new error window of 650 x 200 at the window system's default place.
void ShowInputError();
// Every error window opened so far; they live until the program ends.
extern std::vector<TForm4 *> InputErrorWindows;

// The file dialogs of the program files. Tests replace it to choose a path without a dialog;
// an empty path is a cancelled dialog.
struct ProgramFileQuestion {
    bool save = false;
    QString startPath;      // folder, or the file to suggest
    QStringList folders;    // offered besides it (the libraries)
};
extern std::function<QString(QWidget *parent, const ProgramFileQuestion &question)>
    ProgramFileDialogHook;

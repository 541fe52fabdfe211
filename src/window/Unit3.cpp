// Event handlers of the control window: the program editor's resets and the six commands.
#include "Unit3.h"

#include "AppShell.h"
#include "PortUnit.h"
#include "core/ControlFrames.h"
#include "core/ControlInput.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "main.h"

#include <QComboBox>
#include <QLineEdit>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>

using namespace PortUnit;

TForm3 *Form3 = nullptr;

namespace {

const char16_t *const kGridHeaders[] = {u"№ шага",           u"Т, °С",    u"Стабилизация, чч",
                                        u"Стабилизация, мм", u"Выход,чч", u"Выход,мм"};

// Every command runs inside this: a reading cycle that was abandoned midway leaves PollBusy
// set, and then the reading and log timers are held off while frames go out, and switched on
// again on every way out.
void RunCommand(const std::function<void()> &work) {
    if (PollBusy != 0)
        Form1->holdReadingTimers();
    try {
        work();
    } catch (...) {
        if (PollBusy != 0)
            Form1->resumeReadingTimers();
        throw;
    }
    if (PollBusy != 0)
        Form1->resumeReadingTimers();
}

// The chamber last polled; before any reading cycle, the one selected in the main window.
// With neither, the operator is told instead of the click doing nothing.
std::uint8_t CommandDestination() {
    if (ChamberAddressSet)
        return static_cast<std::uint8_t>(ChamberAddress & 0xFF);
    if (const auto selected = SelectedChamberAddress())
        return static_cast<std::uint8_t>(*selected & 0xFF);
    throw KalvoraError(QStringLiteral(
        "No chamber selected: open the port, scan and choose a chamber first."));
}

void SendCommandFrame(const Frame &frame) {
    SendFrame(frame.data(), frame.size());
    BlockFor(kCommandPauseMs);
}

// An open cell editor holds text the cells do not have yet. Only the view knows which editor
// is its open one: editors closed with Return linger as children until deleted.
void CommitOpenCellEditor(QTableWidget *grid) {
    if (QWidget *editor = grid->indexWidget(grid->currentIndex()))
        QMetaObject::invokeMethod(grid, "commitData", Qt::DirectConnection,
                                  Q_ARG(QWidget *, editor));
}

void ClearProgramCells(TForm3 *form) {
    for (int row = 1; row <= kMaxSteps; ++row)
        for (int column = 1; column <= kStepColumns; ++column)
            form->setCellText(row, column, QString());
}

} // namespace

void TForm3::FormCreate() {
    for (int column = 0; column < 6; ++column)
        setCellText(0, column, QString::fromUtf16(kGridHeaders[column]));
    for (int row = 1; row <= kMaxSteps; ++row)
        setCellText(row, 0, IntToText(row));
    StringGrid1->horizontalHeader()->setDefaultSectionSize(120);
    for (int column = 0; column < 6; ++column)
        StringGrid1->setColumnWidth(column, 120);
    StringGrid1->resize(720, StringGrid1->height());
    StringGrid1->setEditTriggers(StringGrid1->editTriggers() | QAbstractItemView::DoubleClicked |
                                 QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::AnyKeyPressed);
    ClearProgramCells(this);
    Edit1->clear();
}

void TForm3::ComboBox1Change() {
    ClearProgramCells(this);
    Edit1->clear();
    Edit2->clear();
}

void TForm3::Button1Click() {
    RunCommand([this] {
        CommitOpenCellEditor(StringGrid1);
        StepCellTexts cells;
        for (int row = 1; row <= kMaxSteps; ++row)
            for (int column = 1; column <= kStepColumns; ++column)
                cells[row - 1][column - 1] = cellText(row, column);
        const auto input = CheckProgramInput(Edit1->text(), Edit2->text(), cells);
        if (!input) {
            ShowInputError();
            return;
        }
        const std::uint8_t destination = CommandDestination();
        const int program = ComboBox1->currentIndex() + 1;
        for (int row = 1; row <= input->steps; ++row)
            SendCommandFrame(BuildStepFrame(destination, program, row, input->rows[row - 1],
                                            input->steps, input->cycles));
    });
}

void TForm3::Button4Click() {
    RunCommand([this] {
        const auto temperature = CheckSetPointInput(Edit3->text());
        if (!temperature) {
            ShowInputError();
            return;
        }
        SendCommandFrame(BuildSetPointFrame(CommandDestination(), *temperature));
    });
}

void TForm3::Button2Click() {
    RunCommand([] {
        SendCommandFrame(BuildManualModeFrame(CommandDestination(), true));
    });
}

void TForm3::Button3Click() {
    RunCommand([] {
        SendCommandFrame(BuildManualModeFrame(CommandDestination(), false));
    });
}

void TForm3::Button5Click() {
    RunCommand([this] {
        if (ComboBox2->currentIndex() < 0)
            return;
        SendCommandFrame(BuildProgramStartFrame(CommandDestination(), ComboBox2->currentIndex() + 1));
    });
}

void TForm3::Button6Click() {
    RunCommand([] {
        SendCommandFrame(BuildProgramStopFrame(CommandDestination()));
    });
}

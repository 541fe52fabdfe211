// Event handlers of the control window: the program editor's resets and the six commands.
#include "Unit3.h"

#include "AppShell.h"
#include "PortUnit.h"
#include "WindowAudit.h"
#include "core/AuditCommands.h"
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

// Where the lab keeps an audit trail, the command goes on record before its first frame; one
// that is not recorded is not sent.
void SendCommand(std::uint8_t destination, const std::vector<Frame> &frames,
                 const QJsonObject &what) {
    if (!RecordWindowCommand(destination, what))
        return;
    for (const Frame &frame : frames)
        SendCommandFrame(frame);
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
        std::vector<Frame> frames;
        for (int row = 1; row <= input->steps; ++row)
            frames.push_back(BuildStepFrame(destination, program, row, input->rows[row - 1],
                                            input->steps, input->cycles));
        SendCommand(destination, frames,
                    ProgramWrittenWhat(destination, program, *input, frames));
    });
}

void TForm3::Button4Click() {
    RunCommand([this] {
        const auto temperature = CheckSetPointInput(Edit3->text());
        if (!temperature) {
            ShowInputError();
            return;
        }
        const std::uint8_t destination = CommandDestination();
        const Frame frame = BuildSetPointFrame(destination, *temperature);
        SendCommand(destination, {frame}, SetPointWhat(destination, *temperature, frame));
    });
}

void TForm3::Button2Click() {
    RunCommand([] {
        const std::uint8_t destination = CommandDestination();
        const Frame frame = BuildManualModeFrame(destination, true);
        SendCommand(destination, {frame}, ManualModeWhat(destination, true, frame));
    });
}

void TForm3::Button3Click() {
    RunCommand([] {
        const std::uint8_t destination = CommandDestination();
        const Frame frame = BuildManualModeFrame(destination, false);
        SendCommand(destination, {frame}, ManualModeWhat(destination, false, frame));
    });
}

void TForm3::Button5Click() {
    RunCommand([this] {
        if (ComboBox2->currentIndex() < 0)
            return;
        const std::uint8_t destination = CommandDestination();
        const int fromProgram = ComboBox2->currentIndex() + 1;
        const Frame frame = BuildProgramStartFrame(destination, fromProgram);
        SendCommand(destination, {frame}, ProgramStartWhat(destination, fromProgram, frame));
    });
}

void TForm3::Button6Click() {
    RunCommand([] {
        const std::uint8_t destination = CommandDestination();
        const Frame frame = BuildProgramStopFrame(destination);
        SendCommand(destination, {frame}, ProgramStopWhat(destination, frame));
    });
}

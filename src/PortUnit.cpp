#include "PortUnit.h"

#include "AppShell.h"
#include "Unit5.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/LogFormat.h"
#include "core/ModbusRtu.h"
#include "main.h"
#include "platform/LogFile.h"
#include "widgets/ActivityIndicator.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QCheckBox>
#include <QComboBox>
#include <QTimer>
#include <ctime>

namespace PortUnit {

SerialPort Port;
RxBufferBytes RxBuffer{};
RegionalSettings Regional;

std::int32_t ScanAddress = 0;
std::int32_t ScanActive = 0;
std::int32_t ChamberAddress = 0;
bool ChamberAddressSet = false;
QString ChamberPrefix;
std::int32_t PollBusy = 0;
std::int32_t ReadingActive = 0;

QString CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText;
QString LogFileName, LogRecord;
CycleStatistics Statistics;

namespace {

std::tm Now() {
    std::time_t seconds = std::time(nullptr);
    std::tm moment{};
    localtime_r(&seconds, &moment);
    return moment;
}

FigureTexts ReadFigures() {
    FigureTexts f;
    f.currentTemperature = Form1->Label5->text();
    f.program = Form1->Label17->text();
    f.setTemperature = Form1->Label18->text();
    f.stabilisationTime = Form1->Label11->text();
    f.timeToMode = Form1->Label15->text();
    f.timeToModeSetPoint = Form1->Label3->text();
    f.stabilisationSetPoint = Form1->Label19->text();
    f.step = Form1->Label13->text();
    f.cycle = Form1->Label20->text();
    return f;
}

void ShowFigures(const FigureTexts &f) {
    Form1->Label5->setText(f.currentTemperature);
    Form1->Label17->setText(f.program);
    Form1->Label18->setText(f.setTemperature);
    Form1->Label11->setText(f.stabilisationTime);
    Form1->Label15->setText(f.timeToMode);
    Form1->Label3->setText(f.timeToModeSetPoint);
    Form1->Label19->setText(f.stabilisationSetPoint);
    Form1->Label13->setText(f.step);
    Form1->Label20->setText(f.cycle);
}

void DecodeCurrentValues(const std::uint8_t *reply) {
    FigureTexts figures = ReadFigures();
    KeptTexts kept{CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText};
    ::DecodeCurrentValues(reply, figures, kept, Regional.decimalSeparator);
    CurrentTemperatureText = kept.currentTemperature;
    SetTemperatureText = kept.setTemperature;
    ProgramText = kept.program;
    StepText = kept.step;
    CycleText = kept.cycle;
    ShowFigures(figures);
}

// Sends the request up to kReadAttempts times; true when a reply matched. `reply` holds the
// buffer as it stood when the last search ran.
bool ExchangeReadRequest(std::array<std::uint8_t, 256> &reply) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        PrepareExchange();
        SendReadRequest(static_cast<std::uint8_t>(ChamberAddress & 0xFF), kReadInputRegisters, 15);
        BlockFor(kReadWaitMs);
        reply = SnapshotRxBuffer();
        if (FindReply(reply.data(), ChamberAddress, kReadInputRegisters) >= 0)
            return true;
    }
    return false;
}

void CompleteCycle() {
    Form1->CheckBox1->setEnabled(true);
    Form1->ActivityIndicator1->stop();
    Form1->ActivityIndicator2->stop();
    Form1->ActivityIndicator3->stop();
    Form5->hide();
    SwitchOn(Form1->Timer4);
}

// No reply in any attempt: tell the operator and stop reading, so that no stale values are
// logged as fresh ones.
void ReactToLostLink() {
    Form5->show();
    SwitchOff(Form1->Timer4);
    ReadingActive = 0;
    Form1->Button6->setText(QStringLiteral("Чтение текущих показаний"));
    SwitchOff(Form1->Timer1);
    ResetFigures();
    Form1->CheckBox1->setChecked(false);
}

void WriteLogBytes(bool create, const QString &text) {
    const QByteArray bytes = ToWindows1251(text + QStringLiteral("\r\n"));
    if (create)
        CreateLogFile(LogFileName, bytes);
    else
        AppendToLogFile(LogFileName, bytes);
}

} // namespace

QString PortNameForIndex(int index) {
    if (index < 0 || index > 4)
        index = 0;
    return QStringLiteral("COM%1").arg(index + 1);
}

QString DevicePathForPort(const QString &portName) {
    const QByteArray variable = "KALVORA_" + portName.toLatin1();
    const QByteArray mapped = qgetenv(variable.constData());
    if (!mapped.isEmpty())
        return QString::fromLocal8Bit(mapped);
    return QStringLiteral("/dev/ttyS%1").arg(portName.mid(3).toInt() - 1);
}

void OpenPort() {
    Port.close();
    const QString portName = PortNameForIndex(Form1->ComboBox1->currentIndex());
    const QString device = DevicePathForPort(portName);
    QString reason;
    const bool opened = Port.open(device, &reason);
    if (opened)
        Port.startReceiver(RxBuffer);
    Form1->Button4->setEnabled(true);
    Form1->Button1->setEnabled(true);
    Form1->Button5->setEnabled(false);
    if (!opened)
        ShowErrorBox(QStringLiteral("Cannot open %1 (%2): %3").arg(portName, device, reason));
}

void ClosePort() { Port.close(); }

void SendFrame(const std::uint8_t *frame, std::size_t length) {
    if (!Port.isOpen())
        return;
    Port.clearErrors();
    Port.write(frame, length);
}

void SendReadRequest(std::uint8_t address, std::uint8_t function, std::uint8_t count) {
    const auto frame = BuildReadRequest(address, function, count);
    SendFrame(frame.data(), frame.size());
}

void PrepareExchange() {
    // All 256 bytes: a stale byte at 255 could pair with a zero at 254 into a phantom reply.
    for (auto &byte : RxBuffer)
        byte.store(0, std::memory_order_relaxed);
    if (Port.isOpen()) {
        Port.purgeOutput();
        Port.purgeInput();
    }
}

std::array<std::uint8_t, 256> SnapshotRxBuffer() {
    std::array<std::uint8_t, 256> copy{};
    for (std::size_t i = 0; i < copy.size(); ++i)
        copy[i] = RxBuffer[i].load(std::memory_order_acquire);
    return copy;
}

void ProbeAddress(int address) {
    if (address < 0) {
        Form1->ProgressBar1->setValue(0);
        Form1->Label26->setText(QStringLiteral("    "));
        Form1->Label26->adjustSize();
        return;
    }
    bool found = false;
    for (int attempt = 0; attempt < kProbeTries && !found; ++attempt) {
        PrepareExchange();
        SendReadRequest(static_cast<std::uint8_t>(address), kReadInputRegisters, 3);
        BlockFor(kProbeWaitMs);
        found = FindReply(SnapshotRxBuffer().data(), address, kReadInputRegisters) >= 0;
    }
    if (found)
        Form1->ListBox1->addItem(QStringLiteral("Камера №") + IntToText(address));
    Form1->ProgressBar1->setValue((4 * address + 5) / 10);  // round(100 * a / 250)
    Form1->Label26->setText(IntToText(address) + QStringLiteral(" из 250"));
    Form1->Label26->adjustSize();
}

std::optional<int> SelectedChamberAddress() {
    const auto selected = Form1->ListBox1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    const QString prefix = QStringLiteral("Камера №");
    return StrToInt(selected.first()->text().mid(prefix.length()));
}

void ReadCurrentValues() {
    PollBusy = -1;
    ChamberPrefix = QStringLiteral("Камера №");
    if (const auto selected = SelectedChamberAddress()) {
        ChamberAddress = *selected;
        ChamberAddressSet = true;
    }
    LogFileName = WithChamberNumber(LogFileName, ChamberAddress);

    std::array<std::uint8_t, 256> reply{};
    if (ExchangeReadRequest(reply)) {
        if (IsDecodableReply(reply.data(), ChamberAddress)) {
            DecodeCurrentValues(reply.data());
            ++Statistics.decoded;
        }
        ComposeLogRecord();
        CompleteCycle();
        ++Statistics.completed;
    } else {
        ReactToLostLink();
        ++Statistics.linkLost;
    }
    PollBusy = 0;
}

void ResetFigures() { ShowFigures(StartFigureTexts()); }

void ShowClock() {
    const std::tm date = Now();
    const std::tm time = Now();
    Form1->Label8->setText(ClockText(Regional, date, time));
}

QString ProgramDirectory() { return QCoreApplication::applicationDirPath() + QLatin1Char('/'); }

QString FileTimeStamp() {
    const QString date = FormatDate(Regional, Now());
    const QString time = FormatTime(Regional, Now());
    return ::FileTimeStamp(date, time);
}

void NewLogFileName() {
    const QString name = ::NewLogFileName(ProgramDirectory(), FileTimeStamp());
    if (name.length() > kMaxLogPathLength)
        throw InOutError(QStringLiteral("The filename or extension is too long"));
    LogFileName = name;
}

void ComposeLogRecord() {
    LogRecord = ::ComposeLogRecord(FormatTime(Regional, Now()), CurrentTemperatureText,
                                   ProgramText, StepText, CycleText);
}

void CreateLogFileWithHeader() {
    LogRecord = LogHeader();
    WriteLogBytes(true, LogRecord);
}

void AppendLogRecord() {
    if (!Form1->CheckBox1->isChecked())
        return;
    WriteLogBytes(false, LogRecord);
}

} // namespace PortUnit

#include "PortUnit.h"

#include "AppShell.h"
#include "Unit5.h"
#include "core/Errors.h"
#include "core/IntegerText.h"
#include "core/LogFormat.h"
#include "main.h"
#include "platform/LogFile.h"
#include "platform/LogFolder.h"
#include "platform/PortNames.h"

#include <ctime>

namespace PortUnit {

SerialPort Port;
RegionalSettings Regional;

std::int32_t ScanAddress = 0;
std::int32_t ScanActive = 0;
std::int32_t ChamberAddress = 0;
bool ChamberAddressSet = false;
QString ChamberPrefix;
std::int32_t PollBusy = 0;
std::int32_t ReadingActive = 0;

QString CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText;
QDateTime LastReadingAt;
std::int32_t LastReadingChamber = 0;
QString LogFileName, LogRecord;
bool LogRecordPending = false;
QString LogFolder;
CycleStatistics Statistics;

void ResetModuleState() {
    Port.close();
    Port.clearReceived();
    ScanAddress = 0;
    ScanActive = 0;
    ChamberAddress = 0;
    ChamberAddressSet = false;
    ChamberPrefix.clear();
    PollBusy = 0;
    ReadingActive = 0;
    CurrentTemperatureText.clear();
    SetTemperatureText.clear();
    ProgramText.clear();
    StepText.clear();
    CycleText.clear();
    LastReadingAt = QDateTime();
    LastReadingChamber = 0;
    LogFileName.clear();
    LogRecord.clear();
    LogRecordPending = false;
    LogFolder.clear();
    Statistics = {};
    Regional = RegionalSettings{};
}

namespace {

std::tm Now() {
    std::time_t seconds = std::time(nullptr);
    std::tm moment{};
    localtime_r(&seconds, &moment);
    return moment;
}

void DecodeCurrentValues(const std::uint8_t *reply) {
    FigureTexts figures = Form1->figureTexts();
    KeptTexts kept{CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText};
    ::DecodeCurrentValues(reply, figures, kept, Regional.decimalSeparator);
    CurrentTemperatureText = kept.currentTemperature;
    SetTemperatureText = kept.setTemperature;
    ProgramText = kept.program;
    StepText = kept.step;
    CycleText = kept.cycle;
    Form1->showFigureTexts(figures);
}

// One exchange: clear, send, wait, and the buffer as it then stands, with an echo of our own
// request skipped (a two-wire adapter without echo suppression hands every frame back).
ReceiveBuffer ExchangeOnce(std::uint8_t address, std::uint8_t count, int waitMs) {
    PrepareExchange();
    const auto request = SendReadRequest(address, kReadInputRegisters, count);
    BlockFor(waitMs);
    return WithoutEcho(SnapshotRxBuffer(), request);
}

// Sends the request up to kReadAttempts times, until an attempt brings a complete, undamaged
// reply of the chamber; decodes it. False when none did.
bool ReadAndDecode() {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const ReceiveBuffer reply =
            ExchangeOnce(static_cast<std::uint8_t>(ChamberAddress & 0xFF), 15, kReadWaitMs);
        const int at = FindDecodableReply(reply, ChamberAddress);
        if (at >= 0) {
            DecodeCurrentValues(reply.data() + at);
            LastReadingAt = QDateTime::currentDateTime();
            LastReadingChamber = ChamberAddress;
            ++Statistics.decoded;
            return true;
        }
    }
    return false;
}

void CompleteCycle() {
    Form1->showCycleCompleted();
    Form5->hide();
    SwitchOn(Form1->Timer4);
}

// No decodable reply in any attempt: tell the operator and stop reading, so that no stale
// values are logged as fresh ones.
void ReactToLostLink() {
    Form5->show();
    SwitchOff(Form1->Timer4);
    ReadingActive = 0;
    Form1->showReadingSwitchedOff();
    SwitchOff(Form1->Timer1);
    ResetFigures();
    Form1->setLoggingTicked(false);
}


} // namespace

QString PortNameForIndex(int index) {
    if (index < 0 || index > 4)
        index = 0;
    return QStringLiteral("COM%1").arg(index + 1);
}

void OpenPort() {
    Port.close();
    const QString portName = PortNameForIndex(Form1->portIndex());
    const QString device = DevicePathForPort(portName);
    QString reason;
    int errorNumber = 0;
    const bool opened = Port.open(device, &reason, &errorNumber);
    if (opened)
        Port.startReceiver();
    Form1->showPortOpened();
    if (!opened)
        ShowErrorBox(PortOpenErrorText(portName, device, reason, errorNumber));
}

void ClosePort() { Port.close(); }

// A frame the port could not write is lost like a frame the line garbled: the callers' retries
// cope, and the port counts it.
void SendFrame(const std::uint8_t *frame, std::size_t length) {
    if (!Port.isOpen())
        return;
    Port.clearErrors();
    [[maybe_unused]] const bool written = Port.write(frame, length);
}

std::array<std::uint8_t, 8> SendReadRequest(std::uint8_t address, std::uint8_t function,
                                            std::uint8_t count) {
    const auto frame = BuildReadRequest(address, function, count);
    SendFrame(frame.data(), frame.size());
    return frame;
}

void PrepareExchange() {
    // All 256 bytes: a stale byte at 255 could pair with a zero at 254 into a phantom reply.
    Port.clearReceived();
    if (Port.isOpen()) {
        Port.purgeOutput();
        Port.purgeInput();
    }
}

ReceiveBuffer SnapshotRxBuffer() { return Port.receivedSnapshot(); }

void ProbeAddress(int address) {
    if (address < 0) {
        Form1->clearScanProgress();
        return;
    }
    bool found = false;
    for (int attempt = 0; attempt < kProbeTries && !found; ++attempt) {
        const ReceiveBuffer reply =
            ExchangeOnce(static_cast<std::uint8_t>(address), 3, kProbeWaitMs);
        found = FindReply(reply.data(), address, kReadInputRegisters) >= 0;
    }
    if (found)
        Form1->listChamber(QStringLiteral("Камера №") + IntToText(address));
    Form1->showScanProgress((4 * address + 5) / 10,  // round(100 * a / 250)
                            IntToText(address) + QStringLiteral(" из ") +
                                IntToText(kHighestBusAddress));
}

std::optional<int> SelectedChamberAddress() {
    const std::optional<QString> selected = Form1->selectedChamberText();
    if (!selected)
        return std::nullopt;
    const QString prefix = QStringLiteral("Камера №");
    return StrToInt(selected->mid(prefix.length()));
}

void ReadCurrentValues() {
    PollBusy = -1;
    ChamberPrefix = QStringLiteral("Камера №");
    if (const auto selected = SelectedChamberAddress()) {
        ChamberAddress = *selected;
        ChamberAddressSet = true;
    }
    LogFileName = WithChamberNumber(LogFileName, ChamberAddress);

    if (ReadAndDecode()) {
        ComposeLogRecord();
        CompleteCycle();
        ++Statistics.completed;
    } else {
        ReactToLostLink();
        ++Statistics.linkLost;
    }
    PollBusy = 0;
}

void ResetFigures() { Form1->showFigureTexts(StartFigureTexts()); }

void ShowClock() {
    const std::tm date = Now();
    const std::tm time = Now();
    Form1->showClockText(ClockText(Regional, date, time));
}

QString FileTimeStamp() {
    const QString date = FormatDate(Regional, Now());
    const QString time = FormatTime(Regional, Now());
    return ::FileTimeStamp(date, time);
}

// A name that cannot be made (a folder that cannot be created, a name too long for the file
// system) is refused here, and the earlier name is dropped with it: nothing is written
// anywhere until logging is ticked again.
void NewLogFileName() {
    LogFileName.clear();
    LogRecordPending = false;
    const QString folder = LogFolder.isEmpty() ? DefaultLogFolder() : LogFolder;
    const QString name = ::NewLogFileName(folder, FileTimeStamp());
    if (WithChamberNumber(name, ChamberAddress).length() > kMaxLogPathLength)
        throw InOutError(QStringLiteral("The filename or extension is too long"));
    LogFileName = name;
}

void ComposeLogRecord() {
    LogRecord = ::ComposeLogRecord(FormatTime(Regional, Now()), CurrentTemperatureText,
                                   ProgramText, StepText, CycleText);
    LogRecordPending = true;
}

void CreateLogFileWithHeader() {
    if (LogFileName.isEmpty())
        return;
    LogRecord = LogHeader();
    LogRecordPending = false;
    CreateLogFile(LogFileName, LogLineBytes(LogRecord));
}

// Appends only a reading composed since the last write: while reading is off or failing, the
// same record is not written again under a later minute, and the header never becomes a record.
void AppendLogRecord() {
    if (!Form1->loggingTicked() || LogFileName.isEmpty())
        return;
    AppendPendingRecord(LogRecord, LogRecordPending,
                        [](const QByteArray &bytes) { AppendToLogFile(LogFileName, bytes); });
}

} // namespace PortUnit

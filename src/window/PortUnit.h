#pragma once
// Module-level state of the program and the procedures that talk to the chambers: the port,
// the bus scan probe, the reading cycle, the clock and the readings log. The pure pieces live
// in core/, the system ones in platform/; this unit binds them to the main window through the
// window operations TForm1 offers.
#include "core/BusAddress.h"
#include "core/ControlFrames.h"
#include "core/ModbusRtu.h"
#include "core/ReadingsDecoder.h"
#include "core/RegionalSettings.h"
#include "platform/SerialPort.h"

#include <QDateTime>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace PortUnit {

// Port.handle() is the port handle (-1 when none is open); the port owns the receive buffer.
extern SerialPort Port;
extern RegionalSettings Regional;

extern std::int32_t ScanAddress;
extern std::int32_t ScanActive;
extern std::int32_t ChamberAddress;
extern bool ChamberAddressSet;  // set by a reading cycle (address 0 is a real chamber here)
extern QString ChamberPrefix;
extern std::int32_t PollBusy;  // -1 during a reading cycle, 0 otherwise
extern std::int32_t ReadingActive;

extern QString CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText;
// When the kept texts were last decoded, and from which chamber (invalid: never).
extern QDateTime LastReadingAt;
extern std::int32_t LastReadingChamber;
extern QString LogFileName, LogRecord;
// LogRecord holds a reading composed since the last write: only then is a record appended.
extern bool LogRecordPending;
// Folder of new log files, with its separator; empty: DefaultLogFolder() (the program's own
// folder, or the user's documents when installed).
extern QString LogFolder;

// Counters for diagnostics and the soak measurement; nothing in the program depends on them.
struct CycleStatistics {
    long completed = 0;  // cycles that decoded a reply
    long decoded = 0;    // replies that passed the decoding gate
    long linkLost = 0;   // cycles in which no attempt found a decodable reply
};
extern CycleStatistics Statistics;

// Puts every variable above back to its value at start-up (the port closed).
void ResetModuleState();

constexpr int kScanEnd = kHighestBusAddress + 1;
constexpr int kProbeTries = 5;
constexpr int kProbeWaitMs = 160;
constexpr int kReadAttempts = 20;
constexpr int kReadWaitMs = 800;

// Port name "COMn" for a ComboBox1 index (anything but 0..4 gives COM1).
QString PortNameForIndex(int index);

void OpenPort();
void ClosePort();

void SendFrame(const std::uint8_t *frame, std::size_t length);
// Sends the read request and returns it as sent.
std::array<std::uint8_t, 8> SendReadRequest(std::uint8_t address, std::uint8_t function,
                                            std::uint8_t count);
// Clears the whole receive buffer and purges the output, then the input queue.
void PrepareExchange();
ReceiveBuffer SnapshotRxBuffer();

void ProbeAddress(int address);
void ReadCurrentValues();
void ResetFigures();
void ShowClock();

QString FileTimeStamp();
void NewLogFileName();
void ComposeLogRecord();
void CreateLogFileWithHeader();
void AppendLogRecord();

// Address of the chamber the selected list entry names ("Камера №12" -> 12); nullopt with no
// selection.
std::optional<int> SelectedChamberAddress();

} // namespace PortUnit

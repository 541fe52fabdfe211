#pragma once
// Module-level state of the program and the procedures that talk to the chambers: the port,
// the bus scan probe, the reading cycle, the clock and the readings log. The pure pieces live
// in core/, the system ones in platform/; this unit binds them to the main window.
#include "core/ReadingsDecoder.h"
#include "core/RegionalSettings.h"
#include "platform/SerialPort.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace PortUnit {

extern SerialPort Port;  // Port.handle() is the port handle; -1 when none is open
extern RxBufferBytes RxBuffer;
extern RegionalSettings Regional;

extern std::int32_t ScanAddress;
extern std::int32_t ScanActive;
extern std::int32_t ChamberAddress;
extern bool ChamberAddressSet;  // set by a reading cycle (address 0 is a real chamber here)
extern QString ChamberPrefix;
extern std::int32_t PollBusy;  // -1 during a reading cycle, 0 otherwise
extern std::int32_t ReadingActive;

extern QString CurrentTemperatureText, SetTemperatureText, ProgramText, StepText, CycleText;
extern QString LogFileName, LogRecord;

// Counters for diagnostics and the soak measurement; nothing in the program depends on them.
struct CycleStatistics {
    long completed = 0;  // cycles that found a reply
    long decoded = 0;    // replies that passed the decoding gate
    long linkLost = 0;   // cycles in which no attempt found a reply
};
extern CycleStatistics Statistics;

constexpr int kScanEnd = 251;
constexpr int kProbeTries = 5;
constexpr int kProbeWaitMs = 160;
constexpr int kReadAttempts = 20;
constexpr int kReadWaitMs = 800;
constexpr int kCommandPauseMs = 500;

// Port name "COMn" for a ComboBox1 index (anything but 0..4 gives COM1), and its device path:
// $KALVORA_COMn when set, /dev/ttyS<n-1> otherwise.
QString PortNameForIndex(int index);
QString DevicePathForPort(const QString &portName);

void OpenPort();
void ClosePort();

void SendFrame(const std::uint8_t *frame, std::size_t length);
void SendReadRequest(std::uint8_t address, std::uint8_t function, std::uint8_t count);
// Clears the whole receive buffer and purges the output, then the input queue.
void PrepareExchange();
std::array<std::uint8_t, 256> SnapshotRxBuffer();

void ProbeAddress(int address);
void ReadCurrentValues();
void ResetFigures();
void ShowClock();

QString ProgramDirectory();
QString FileTimeStamp();
void NewLogFileName();
void ComposeLogRecord();
void CreateLogFileWithHeader();
void AppendLogRecord();

// Address of the chamber a list entry names ("Камера №12" -> 12); nullopt with no selection.
std::optional<int> SelectedChamberAddress();

} // namespace PortUnit

#pragma once
// What a write to a chamber says in the audit trail: the command in words, its values as
// numbers, and the frames as sent, for each of the control commands; and the chamber's last
// reading before it.
#include "ControlFrames.h"
#include "ReadingsDecoder.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <vector>

QJsonObject ProgramWrittenWhat(int chamber, int program, const ProgramInput &input,
                               const std::vector<Frame> &frames);
QJsonObject SetPointWhat(int chamber, int temperature, const Frame &frame);
QJsonObject ManualModeWhat(int chamber, bool start, const Frame &frame);
QJsonObject ProgramStartWhat(int chamber, int fromProgram, const Frame &frame);
QJsonObject ProgramStopWhat(int chamber, const Frame &frame);

// What a write relayed through a shared link says, from its frame alone: one of the commands
// above when the frame is one, else "registers_written" with its start and values.
QJsonObject RelayedWriteWhat(const Frame &frame);

// "01 10 00 10 ...", as the line trace and the simulator write frames.
QString FrameHexText(const Frame &frame);
// The frames of a "what" member, back as bytes (an entry that is no hex text gives nothing).
std::vector<Frame> AuditFrames(const QJsonObject &what);

// The chamber's last reading as the program showed it, with its age at `now`; null when the
// chamber has not been read.
QJsonValue BeforeReading(const KeptTexts &kept, const QDateTime &readAt, const QDateTime &now);

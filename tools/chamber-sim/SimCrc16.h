#pragma once
// The simulator's own CRC-16/MODBUS, kept apart from the program's so that a fault in one
// cannot hide the same fault in the other.
#include <cstdint>
#include <span>
#include <vector>

namespace chambersim {

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes);

// Appends the CRC of everything in the frame so far, low byte first.
void appendCrc(std::vector<std::uint8_t> &frame);

// True when the last two bytes are the CRC of the ones before them.
bool hasValidCrc(std::span<const std::uint8_t> frame);

} // namespace chambersim

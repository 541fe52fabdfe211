#include "SimCrc16.h"

namespace chambersim {

std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

void appendCrc(std::vector<std::uint8_t> &frame) {
    const std::uint16_t crc = crc16Modbus(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool hasValidCrc(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4)
        return false;
    const std::size_t n = frame.size();
    const std::uint16_t crc = crc16Modbus(frame.first(n - 2));
    return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

} // namespace chambersim

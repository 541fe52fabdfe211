#include "logger/share/ExceptionFrame.h"

#include "core/ModbusRtu.h"

std::vector<std::uint8_t> ExceptionFrame(std::uint8_t address, std::uint8_t function,
                                         std::uint8_t code) {
    std::vector<std::uint8_t> frame{address, static_cast<std::uint8_t>(function | 0x80), code};
    const std::uint16_t crc = ModbusCrc16(0, 2, frame.data());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

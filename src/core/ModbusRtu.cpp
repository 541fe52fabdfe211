#include "ModbusRtu.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr std::size_t kDecodableReplyLength = 35;
constexpr std::uint8_t kDecodableByteCount = 30;
// Function 16 carries at most 123 registers, which also keeps the frame within 256 bytes.
constexpr std::size_t kMaxWriteRegisters = 123;

// Puts the CRC of the bytes before crcOffset at crcOffset, low byte first.
template <typename Bytes> void SignFrame(Bytes &frame, std::size_t crcOffset) {
    const std::uint16_t crc =
        ModbusCrc16(0, static_cast<std::uint8_t>(crcOffset - 1), frame.data());
    frame[crcOffset] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[crcOffset + 1] = static_cast<std::uint8_t>(crc >> 8);
}

} // namespace

std::uint16_t ModbusCrc16(std::uint8_t first, std::uint8_t last, const std::uint8_t *data) {
    std::uint16_t crc = 0xFFFF;
    if (last < first)
        return crc;
    const int count = last - first + 1; // 1..256: (0, 255) covers all 256 bytes
    for (int i = 0; i < count; ++i) {
        crc ^= data[first + i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

std::array<std::uint8_t, 8> BuildReadRequest(std::uint8_t address, std::uint8_t function,
                                             std::uint8_t count) {
    std::array<std::uint8_t, 8> frame{address, function, 0x00, 0x00, 0x00, count, 0, 0};
    SignFrame(frame, 6);
    return frame;
}

std::vector<std::uint8_t> BuildWriteFrame(std::uint8_t address, std::uint16_t startRegister,
                                          const std::vector<std::uint16_t> &values) {
    if (values.empty() || values.size() > kMaxWriteRegisters)
        throw std::invalid_argument("a function-16 frame carries 1 to 123 registers");
    const auto quantity = static_cast<std::uint16_t>(values.size());
    std::vector<std::uint8_t> frame{address,
                                    kWriteMultipleRegisters,
                                    static_cast<std::uint8_t>(startRegister >> 8),
                                    static_cast<std::uint8_t>(startRegister & 0xFF),
                                    static_cast<std::uint8_t>(quantity >> 8),
                                    static_cast<std::uint8_t>(quantity & 0xFF),
                                    static_cast<std::uint8_t>(2 * quantity)};
    for (const std::uint16_t value : values) {
        frame.push_back(static_cast<std::uint8_t>(value >> 8));
        frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    const std::size_t crcOffset = frame.size();
    frame.resize(crcOffset + 2);
    SignFrame(frame, crcOffset);
    return frame;
}

int FindReply(const std::uint8_t *buffer, int address, int function) {
    if (address < 0 || address > 255 || function < 0 || function > 255)
        return -1;
    for (std::size_t p = 0; p + 1 < kRxBufferSize; ++p) {
        if (buffer[p] == address && buffer[p + 1] == function)
            return static_cast<int>(p);
    }
    return -1;
}

namespace {

// frame: at least 35 bytes.
bool IsReadReplyFrame(const std::uint8_t *frame, int address) {
    if (address < 0 || address > 255)
        return false;
    if (frame[0] != address || frame[1] != kReadInputRegisters || frame[2] != kDecodableByteCount)
        return false;
    const std::size_t crcOffset = kDecodableReplyLength - 2;
    const std::uint16_t crc = ModbusCrc16(0, static_cast<std::uint8_t>(crcOffset - 1), frame);
    return frame[crcOffset] == (crc & 0xFF) && frame[crcOffset + 1] == (crc >> 8);
}

} // namespace

bool IsDecodableReply(const std::uint8_t *buffer, int address) {
    return IsReadReplyFrame(buffer, address);
}

std::size_t EchoLength(const ReceiveBuffer &buffer, std::span<const std::uint8_t> request) {
    if (request.empty() || request.size() > buffer.size())
        return 0;
    return std::equal(request.begin(), request.end(), buffer.begin()) ? request.size() : 0;
}

ReceiveBuffer WithoutEcho(const ReceiveBuffer &buffer, std::span<const std::uint8_t> request) {
    const std::size_t skipped = EchoLength(buffer, request);
    ReceiveBuffer rest{};
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(skipped), buffer.end(), rest.begin());
    return rest;
}

int FindDecodableReply(const ReceiveBuffer &buffer, int address) {
    if (address < 0 || address > 255)
        return -1;
    for (std::size_t p = 0; p + kDecodableReplyLength <= buffer.size(); ++p) {
        if (IsReadReplyFrame(buffer.data() + p, address))
            return static_cast<int>(p);
    }
    return -1;
}

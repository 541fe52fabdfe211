#include "ModbusFrames.h"

#include "SimCrc16.h"

namespace {

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

} // namespace

Bytes WithCrc(Bytes body) {
    chambersim::appendCrc(body);
    return body;
}

Bytes ReadRequest(int address, int start, int quantity) {
    return WithCrc(
        {Byte(address), 4, Byte(start >> 8), Byte(start), Byte(quantity >> 8), Byte(quantity)});
}

Bytes WriteRequest(int address, int start, const std::vector<int> &values) {
    const int count = static_cast<int>(values.size());
    Bytes frame{Byte(address), 0x10,           Byte(start >> 8), Byte(start), 0,
                Byte(count),   Byte(2 * count)};
    for (int value : values) {
        frame.push_back(Byte(value >> 8));
        frame.push_back(Byte(value));
    }
    return WithCrc(frame);
}

Bytes WriteAck(const Bytes &request) {
    return WithCrc(Bytes(request.begin(), request.begin() + 6));
}

Bytes ReadReply(int address, const std::array<std::uint16_t, 15> &registers) {
    Bytes reply{Byte(address), 4, 30};
    for (std::uint16_t value : registers) {
        reply.push_back(Byte(value >> 8));
        reply.push_back(Byte(value));
    }
    return WithCrc(reply);
}

Bytes ExceptionReply(int address, int function, int code) {
    return WithCrc({Byte(address), Byte(function | 0x80), Byte(code)});
}

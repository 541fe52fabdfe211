#pragma once
// Modbus RTU frames as the master sends them, and the rule by which a reply is recognised.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr std::size_t kRxBufferSize = 256;
constexpr std::uint8_t kReadInputRegisters = 4;
constexpr std::uint8_t kWriteMultipleRegisters = 16;

// CRC-16/MODBUS over data[first..last]; last < first gives 0xFFFF. The count is taken modulo
// 256 with 0 meaning 256, so (0, 255) covers 256 bytes.
std::uint16_t ModbusCrc16(std::uint8_t first, std::uint8_t last, const std::uint8_t *data);

// address, function, 0, 0 (start register), 0, count, CRC low, CRC high.
std::array<std::uint8_t, 8> BuildReadRequest(std::uint8_t address, std::uint8_t function,
                                              std::uint8_t count);

// Function 16: address, 0x10, start register, quantity, byte count, values (high byte first),
// CRC low first.
std::vector<std::uint8_t> BuildWriteFrame(std::uint8_t address, std::uint16_t startRegister,
                                          const std::vector<std::uint16_t> &values);

// Position p (0..254) of the first pair buffer[p] == address, buffer[p+1] == function; -1 if
// none. buffer holds kRxBufferSize bytes.
int FindReply(const std::uint8_t *buffer, int address, int function);

// A 15-register reply fit for decoding: at index 0 the expected address and function 4, byte
// count 30, and a right CRC over bytes 0 to 32.
bool IsDecodableReply(const std::uint8_t *buffer, int address);

using ReceiveBuffer = std::array<std::uint8_t, kRxBufferSize>;

// Length of the copy of `request` that a two-wire adapter without echo suppression hands back:
// request.size() when the buffer begins with that exact copy, 0 otherwise.
std::size_t EchoLength(const ReceiveBuffer &buffer, std::span<const std::uint8_t> request);

// The buffer with a leading echo of `request` skipped: the bytes after it moved to index 0,
// zeros after them.
ReceiveBuffer WithoutEcho(const ReceiveBuffer &buffer, std::span<const std::uint8_t> request);

// Position of the first complete 15-register reply of `address` anywhere in the buffer
// (address, function 4, byte count 30, right CRC over its own 33 bytes); -1 if none.
int FindDecodableReply(const ReceiveBuffer &buffer, int address);

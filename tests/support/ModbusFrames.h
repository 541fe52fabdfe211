#pragma once
// Frames as a master or a chamber puts them on the line, signed with the simulator's CRC so that
// no test builds its expectations with the code under test.
#include <array>
#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The body followed by its CRC, low byte first.
Bytes WithCrc(Bytes body);
// Function 4: read `quantity` input registers from `start`.
Bytes ReadRequest(int address, int start, int quantity);
// Function 16: write `values` to the holding registers from `start`.
Bytes WriteRequest(int address, int start, const std::vector<int> &values);
// The chamber's acknowledgement of a function-16 request: its first six bytes, signed.
Bytes WriteAck(const Bytes &request);
// A chamber's reply to the read of its 15 input registers.
Bytes ReadReply(int address, const std::array<std::uint16_t, 15> &registers);
// An exception reply: the function with its high bit set, then the code.
Bytes ExceptionReply(int address, int function, int code);

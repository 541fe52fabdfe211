#pragma once
// The exception reply a chamber gave, rebuilt for the client that asked: the bus's reply framing
// keeps only its code.
#include <cstdint>
#include <vector>

// address, function | 0x80, code, CRC.
std::vector<std::uint8_t> ExceptionFrame(std::uint8_t address, std::uint8_t function,
                                         std::uint8_t code);

#pragma once
// One client request on the real bus: one try, as the client makes its own retries, and what
// goes back to that client: the chamber's reply, an exception frame, or nothing (silence).
#include "base/Bus.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

struct RelayedAnswer {
    ExchangeResult result;
    std::vector<std::uint8_t> toClient; // empty: the client hears silence
};

RelayedAnswer RelayOnce(Bus &bus, std::span<const std::uint8_t> request);

// The longest a request's one try may hold the bus: the request and its reply on the line, the
// gaps between frames, and the whole time-out when the chamber is silent.
std::chrono::steady_clock::duration LongestTry(std::span<const std::uint8_t> request,
                                               std::chrono::milliseconds timeout);

#pragma once
// Cuts what a client master writes to a shared link into requests, and decides which of them may
// go on the real bus: only a whole frame with a right CRC, of function 4 or 16 with a register
// count the function allows, to a bus address 0..250 (0 is a chamber here, as in the scan). The
// length comes from the function code (8 bytes for function 4, 9 + byte count for 16); a silence
// ends whatever is pending, so that a torn request is dropped, never joined to the next one.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

enum class ClientVerdict {
    Request,     // fit for the bus
    Damaged,     // wrong CRC, or bytes that never made a frame
    Unsupported, // a whole, signed frame of another known function, count or address
    Incomplete,  // the line fell silent before the frame was whole
};

struct ClientFrame {
    std::vector<std::uint8_t> bytes;
    ClientVerdict verdict = ClientVerdict::Request;
};

// A whole frame with a right CRC: Request or Unsupported.
ClientVerdict CheckSignedRequest(std::span<const std::uint8_t> frame);

class ClientRequestFramer {
public:
    // Modbus RTU ends a frame after 3.5 character times (1.75 ms at 57600 baud); a client's
    // write may reach the pseudo-terminal in pieces a little further apart on a busy machine.
    static constexpr std::chrono::milliseconds kSilence{20};
    // Dropped bytes come out in pieces of at most this many.
    static constexpr std::size_t kMaxFrame = 256;

    std::vector<ClientFrame> feed(std::span<const std::uint8_t> bytes);
    // The client has been silent for kSilence: nothing pending will be completed.
    std::vector<ClientFrame> lineFellSilent();
    bool hasPending() const { return !pending_.empty() || !dropped_.empty(); }

private:
    std::vector<ClientFrame> extract(bool silent);
    void flushDropped(std::vector<ClientFrame> &out, ClientVerdict verdict);

    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> dropped_;
};

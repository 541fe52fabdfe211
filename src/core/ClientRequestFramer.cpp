#include "core/ClientRequestFramer.h"

#include "core/BusAddress.h"
#include "core/ModbusRtu.h"

#include <optional>

namespace {

// The length the bytes so far announce; none while more are needed to tell, or when the
// function has no layout known here.
std::optional<std::size_t> AnnouncedLength(const std::vector<std::uint8_t> &bytes) {
    if (bytes.size() < 2)
        return std::nullopt;
    const std::uint8_t function = bytes[1];
    if (function >= 1 && function <= 6) // reads and single writes
        return 8;
    if (function == 15 || function == 16) // multiple writes carry their byte count
        return bytes.size() < 7 ? std::nullopt : std::optional(9 + std::size_t{bytes[6]});
    return std::nullopt;
}

// Whether the bytes so far belong to a function whose length is known here.
bool KnownLayout(const std::vector<std::uint8_t> &bytes) {
    if (bytes.size() < 2)
        return true;
    const std::uint8_t function = bytes[1];
    return (function >= 1 && function <= 6) || function == 15 || function == 16;
}

bool HasValidCrc(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4 || frame.size() > 257)
        return false;
    const std::uint16_t crc =
        ModbusCrc16(0, static_cast<std::uint8_t>(frame.size() - 3), frame.data());
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

unsigned Word(std::span<const std::uint8_t> frame, std::size_t at) {
    return unsigned{frame[at]} << 8 | frame[at + 1];
}

} // namespace

ClientVerdict CheckSignedRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < 8 || frame[0] > kHighestBusAddress)
        return ClientVerdict::Unsupported;
    const unsigned start = Word(frame, 2);
    const unsigned count = Word(frame, 4);
    const bool withinRegisters = start + count <= 0x10000;
    if (frame[1] == kReadInputRegisters)
        return frame.size() == 8 && count >= 1 && count <= 125 && withinRegisters
                   ? ClientVerdict::Request
                   : ClientVerdict::Unsupported;
    if (frame[1] == kWriteMultipleRegisters)
        return frame.size() == 9 + std::size_t{frame[6]} && count >= 1 && count <= 123 &&
                       frame[6] == 2 * count && withinRegisters
                   ? ClientVerdict::Request
                   : ClientVerdict::Unsupported;
    return ClientVerdict::Unsupported;
}

std::vector<ClientFrame> ClientRequestFramer::feed(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return extract(false);
}

std::vector<ClientFrame> ClientRequestFramer::lineFellSilent() { return extract(true); }

// A frame whose CRC fails costs one byte and the search starts again: a client's stray bytes
// before a request must not take the request with them. What is dropped on the way comes out as
// one damaged piece once a frame is found or the line falls silent.
std::vector<ClientFrame> ClientRequestFramer::extract(bool silent) {
    std::vector<ClientFrame> out;
    while (!pending_.empty()) {
        const bool known = KnownLayout(pending_);
        const auto length = AnnouncedLength(pending_);
        if (length && *length <= pending_.size()) {
            const auto frame = std::span(pending_).first(*length);
            if (HasValidCrc(frame)) {
                flushDropped(out, ClientVerdict::Damaged);
                out.push_back({std::vector<std::uint8_t>(frame.begin(), frame.end()),
                               CheckSignedRequest(frame)});
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(*length));
                continue;
            }
        } else if (known && !silent) {
            break; // more bytes may complete it
        } else if (known && dropped_.empty()) {
            // Torn: the client fell silent in the middle of a frame.
            out.push_back({std::move(pending_), ClientVerdict::Incomplete});
            pending_.clear();
            break;
        }
        // A wrong CRC or a function of no layout known here: the next byte may start a frame.
        dropped_.push_back(pending_.front());
        pending_.erase(pending_.begin());
        if (dropped_.size() >= kMaxFrame) // a client that never pauses holds no more than this
            flushDropped(out, ClientVerdict::Damaged);
    }
    if (silent)
        flushDropped(out, ClientVerdict::Damaged);
    return out;
}

void ClientRequestFramer::flushDropped(std::vector<ClientFrame> &out, ClientVerdict verdict) {
    if (dropped_.empty())
        return;
    out.push_back({std::move(dropped_), verdict});
    dropped_.clear();
}

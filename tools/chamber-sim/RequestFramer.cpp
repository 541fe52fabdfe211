#include "RequestFramer.h"

#include "SimCrc16.h"

#include <optional>

namespace chambersim {
namespace {

// The frame length that the bytes so far announce; none while more bytes are needed to tell.
// A function of unknown layout runs until the line falls silent.
std::optional<std::size_t> announcedLength(const std::vector<std::uint8_t> &bytes, bool silent) {
    if (bytes.size() < 2)
        return std::nullopt;
    const std::uint8_t function = bytes[1];
    if (function >= 1 && function <= 6) // reads and single writes
        return 8;
    if (function == 15 || function == 16) // multiple writes carry their byte count
        return bytes.size() < 7 ? std::nullopt : std::optional(9 + std::size_t{bytes[6]});
    return silent ? std::optional(bytes.size()) : std::nullopt;
}

} // namespace

std::vector<FramedBytes> RequestFramer::feed(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return extract(false);
}

std::vector<FramedBytes> RequestFramer::lineFellSilent() { return extract(true); }

std::vector<FramedBytes> RequestFramer::extract(bool silent) {
    std::vector<FramedBytes> out;
    while (!pending_.empty()) {
        const auto length = announcedLength(pending_, silent);
        const bool complete = length && *length <= pending_.size();
        if (!complete && !silent)
            break;
        const auto frame = std::span(pending_).first(complete ? *length : 0);
        if (complete && hasValidCrc(frame)) {
            flushDropped(out);
            out.push_back({std::vector<std::uint8_t>(frame.begin(), frame.end()), true});
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(*length));
        } else {
            dropFirstByte();
        }
    }
    if (silent)
        flushDropped(out);
    return out;
}

void RequestFramer::dropFirstByte() {
    dropped_.push_back(pending_.front());
    pending_.erase(pending_.begin());
}

void RequestFramer::flushDropped(std::vector<FramedBytes> &out) {
    if (dropped_.empty())
        return;
    out.push_back({std::move(dropped_), false});
    dropped_.clear();
}

} // namespace chambersim

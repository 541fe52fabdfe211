#pragma once
// Cuts the byte stream from the master into requests. Lengths come from the function code
// (8 bytes for the fixed-size functions, 9 + byte count for writes); a failed CRC costs one
// byte and the search starts again, and a silence on the line ends whatever is pending.
#include <cstdint>
#include <span>
#include <vector>

namespace chambersim {

struct FramedBytes {
    std::vector<std::uint8_t> bytes;
    bool isRequest = true; // false: bytes dropped as noise or as a torn or damaged frame
};

class RequestFramer {
public:
    std::vector<FramedBytes> feed(std::span<const std::uint8_t> bytes);
    // The line has been quiet longer than a frame gap: nothing pending will be completed.
    std::vector<FramedBytes> lineFellSilent();
    bool hasPending() const { return !pending_.empty() || !dropped_.empty(); }

private:
    std::vector<FramedBytes> extract(bool silent);
    void dropFirstByte();
    void flushDropped(std::vector<FramedBytes> &out);

    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> dropped_;
};

} // namespace chambersim

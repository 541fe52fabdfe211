#include "ReplyFramer.h"

#include "ModbusRtu.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kExceptionFlag = 0x80;
constexpr std::size_t kExceptionLength = 5;
constexpr std::size_t kWriteReplyLength = 8;
// No reply is longer than a full RTU frame; more pending bytes are noise.
constexpr std::size_t kMaxPending = 512;

bool IsRead(std::uint8_t function) { return function >= 1 && function <= 4; }

bool CrcRight(std::span<const std::uint8_t> frame) {
    if (frame.size() < 4)
        return false;
    // ModbusCrc16 counts modulo 256; our replies are at most 255 bytes.
    const std::uint16_t crc =
        ModbusCrc16(0, static_cast<std::uint8_t>(frame.size() - 3), frame.data());
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

} // namespace

std::size_t ExpectedDataBytes(std::span<const std::uint8_t> request) {
    if (request.size() < 6 || !IsRead(request[1]))
        return 0;
    const std::size_t quantity = 256u * request[4] + request[5];
    return request[1] <= 2 ? (quantity + 7) / 8 : 2 * quantity;
}

ReplyFramer::ReplyFramer(std::span<const std::uint8_t> request)
    : request_(request.begin(), request.end()), expectedDataBytes_(ExpectedDataBytes(request)) {}

ReplyFramer::Check ReplyFramer::checkStart() const {
    const std::vector<std::uint8_t> &p = pending_;
    if (p.size() < 2)
        return {Verdict::NeedMore, 0};
    if (p[0] != request_[0])
        return {Verdict::Noise, 1};
    const std::uint8_t function = request_[1];
    std::size_t length = 0;
    if (p[1] == (function | kExceptionFlag)) {
        length = kExceptionLength;
    } else if (p[1] != function) {
        return {Verdict::Noise, 1};
    } else if (IsRead(function)) {
        if (p.size() < 3)
            return {Verdict::NeedMore, 0};
        length = 5 + std::size_t{p[2]};
    } else {
        length = kWriteReplyLength;
    }
    if (p.size() < length)
        return {Verdict::NeedMore, 0};
    const std::span<const std::uint8_t> frame(p.data(), length);
    if (!CrcRight(frame))
        return {Verdict::Damaged, 1}; // the real reply may start inside these bytes
    if (p[1] != function)
        return {Verdict::Exception, length};
    const bool layoutRight =
        IsRead(function) ? p[2] == expectedDataBytes_
                         : std::equal(p.begin() + 2, p.begin() + 6, request_.begin() + 2);
    return {layoutRight ? Verdict::Reply : Verdict::Damaged, length};
}

void ReplyFramer::drop(std::size_t count) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
}

void ReplyFramer::take(const Check &check) {
    if (check.verdict == Verdict::Reply) {
        reply_.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(check.length));
        state_ = State::Reply;
    } else {
        exceptionCode_ = pending_[2];
        state_ = State::Exception;
    }
}

ReplyFramer::State ReplyFramer::feed(std::span<const std::uint8_t> bytes) {
    if (state_ != State::Waiting)
        return state_;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    while (state_ == State::Waiting) {
        if (!echoDecided_) {
            // While the stream matches the request it may be its echo, or a reply that begins
            // like it (a write's reply repeats the request's first six bytes).
            const std::size_t common = std::min(pending_.size(), request_.size());
            if (std::equal(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(common),
                           request_.begin())) {
                if (pending_.size() >= request_.size()) {
                    drop(request_.size());
                    echoDecided_ = echoSkipped_ = true;
                    continue;
                }
                const Check check = checkStart();
                if (check.verdict == Verdict::Reply || check.verdict == Verdict::Exception)
                    take(check);
                break;
            }
            echoDecided_ = true;
        }
        const Check check = checkStart();
        switch (check.verdict) {
        case Verdict::NeedMore:
            if (pending_.size() > kMaxPending)
                drop(pending_.size() - kMaxPending);
            return state_;
        case Verdict::Noise:
            drop(check.length);
            break;
        case Verdict::Damaged:
            sawDamaged_ = true;
            drop(check.length);
            break;
        case Verdict::Reply:
        case Verdict::Exception:
            take(check);
            break;
        }
    }
    return state_;
}

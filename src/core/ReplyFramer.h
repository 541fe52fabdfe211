#pragma once
// Recognises the reply to one request in the byte stream as it arrives, so that an exchange can
// end the moment its reply is complete. The reply's length follows from its function code and
// byte count (an exception reply is 5 bytes); its CRC is checked; a copy of the request that a
// two-wire line hands back first is skipped; bytes that cannot start the reply are skipped
// one at a time.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class ReplyFramer {
public:
    enum class State {
        Waiting,   // no complete reply yet
        Reply,     // reply() holds the complete, valid reply
        Exception, // the slave refused the request; exceptionCode() says why
    };

    // request: the frame just sent (function 1 to 4, 5, 6, 15 or 16).
    explicit ReplyFramer(std::span<const std::uint8_t> request);

    State feed(std::span<const std::uint8_t> bytes);
    State state() const { return state_; }
    const std::vector<std::uint8_t> &reply() const { return reply_; }
    std::uint8_t exceptionCode() const { return exceptionCode_; }
    // A frame of the right address and function arrived whole but failed its CRC or its layout.
    bool sawDamagedReply() const { return sawDamaged_; }
    bool echoSkipped() const { return echoSkipped_; }

private:
    enum class Verdict { NeedMore, Reply, Exception, Damaged, Noise };
    struct Check {
        Verdict verdict;
        std::size_t length; // bytes the verdict covers
    };

    Check checkStart() const;
    void take(const Check &check);
    void drop(std::size_t count);

    std::vector<std::uint8_t> request_;
    std::vector<std::uint8_t> pending_;
    std::vector<std::uint8_t> reply_;
    std::size_t expectedDataBytes_ = 0; // byte count a read reply must carry
    State state_ = State::Waiting;
    std::uint8_t exceptionCode_ = 0;
    bool echoDecided_ = false;
    bool echoSkipped_ = false;
    bool sawDamaged_ = false;
};

// Bytes a read request expects back in the reply's data (its byte count); 0 for a write.
std::size_t ExpectedDataBytes(std::span<const std::uint8_t> request);

#pragma once
// The requests of one shared link's client that wait for the bus, oldest first, and what a newer
// request does to them. A client that asks again before its request went out has given up on
// it: a newer request replaces a read not yet sent, or the same write repeated. Any other write
// is the next step of whatever the client is doing (a program's steps): it waits its turn, and
// writes go in the order written. A link holds at most kMaxWaiting; beyond, the newer request is
// the one dropped. A request that waited kStaleAfter beyond its due time is stale: its client
// has given up on it, and a write sent that late would surprise whoever asked.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class ClientRequestQueue {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxWaiting = 32; // a program is 15 writes
    static constexpr std::chrono::seconds kStaleAfter{2};

    struct Request {
        std::vector<std::uint8_t> bytes; // a whole, valid frame: address, function, ...
        Clock::time_point arrivedAt;
        std::uint64_t client = 0; // which client of the link sent it, as the caller numbers them
    };

    enum class Added {
        Queued,
        QueuedReplacingOlder, // the newest waiting request was dropped for it
        Overflow,             // not queued: the link holds kMaxWaiting already
    };
    Added add(std::vector<std::uint8_t> bytes, Clock::time_point arrivedAt,
              std::uint64_t client = 0);

    bool empty() const { return waiting_.empty(); }
    std::size_t size() const { return waiting_.size(); }
    const Request &front() const { return waiting_.front(); }
    Request takeFront();

    // A request due at `dueAt` (its arrival, or later when the client's pause keeps it back)
    // that has not gone on the bus by `now`.
    static bool isStale(Clock::time_point dueAt, Clock::time_point now) {
        return now - dueAt > kStaleAfter;
    }

private:
    std::deque<Request> waiting_;
};

#include "core/ClientRequestQueue.h"

#include "core/ModbusRtu.h"

ClientRequestQueue::Added ClientRequestQueue::add(std::vector<std::uint8_t> bytes,
                                                  Clock::time_point arrivedAt,
                                                  std::uint64_t client) {
    Added added = Added::Queued;
    if (!waiting_.empty() && (waiting_.back().bytes[1] != kWriteMultipleRegisters ||
                              waiting_.back().bytes == bytes)) {
        waiting_.pop_back();
        added = Added::QueuedReplacingOlder;
    }
    if (waiting_.size() >= kMaxWaiting)
        return Added::Overflow;
    waiting_.push_back(Request{std::move(bytes), arrivedAt, client});
    return added;
}

ClientRequestQueue::Request ClientRequestQueue::takeFront() {
    Request request = std::move(waiting_.front());
    waiting_.pop_front();
    return request;
}

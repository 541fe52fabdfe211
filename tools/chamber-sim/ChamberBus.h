#pragma once
// The chambers on one simulated line, each with its own faults, and the Modbus slave logic that
// turns a request into a reply. Thread-safe: the server answers while a test changes faults.
#include "ChamberModel.h"
#include "core/BusAddress.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <vector>

namespace chambersim {

// Misbehaviour of one chamber, to exercise the master's retries and checks.
struct ChamberFaults {
    int silentFirst = 0;         // the first N requests get no reply
    bool strayByte = false;      // one byte of noise before each reply
    bool exceptionReply = false; // reads are answered with exception 4 (device failure)
    int dropEvery = 0;           // every K-th request gets no reply
    int replyDelayMs = 0;
    bool breakCrc = false;
    bool wrongByteCount = false; // the byte count of a read reply is off by two, CRC still right
    bool byteByByte = false;     // the reply goes out one byte per character time
    int splitGapMs = 0;          // the reply goes out in two pieces with this gap between them
    int splitFirstLength = 10;
};

// How the server puts a reply on the line.
struct Delivery {
    int delayMs = 0;
    bool byteByByte = false;
    int splitGapMs = 0;
    std::size_t splitFirstLength = 0;
};

struct Reply {
    std::vector<std::uint8_t> bytes; // empty: the chamber stays silent
    Delivery delivery;
};

class ChamberBus {
public:
    explicit ChamberBus(const std::vector<int> &addresses, double degreesPerMinute = 5.0);

    std::vector<int> addresses() const;
    bool hasChamber(int address) const;

    // Answers one request whose framing and CRC have been checked.
    Reply handle(std::span<const std::uint8_t> request);
    void advance(double simSeconds);
    void setRate(double degreesPerMinute);

    // The accessors below throw std::invalid_argument for an address without a chamber.
    void setFaults(int address, const ChamberFaults &faults);
    ChamberFaults faults(int address) const;
    void setRawInput(int address, int reg, std::uint16_t value);
    void clearRawInputs(int address);
    InputRegisters inputRegisters(int address) const; // raw values included
    HoldingRegisters holdingRegisters(int address) const;
    int requestCount(int address) const; // requests addressed to the chamber so far

    // Runs f on the chamber's model under the bus lock.
    template <class F> auto withModel(int address, F &&f) {
        std::lock_guard lock(mutex_);
        return f(chamber(address).model);
    }

private:
    struct Chamber {
        ChamberModel model;
        ChamberFaults faults;
        std::map<int, std::uint16_t> rawInputs;
        int requests = 0;
    };

    Chamber &chamber(int address);
    const Chamber &chamber(int address) const;
    static InputRegisters readableInputs(const Chamber &c);
    static std::vector<std::uint8_t> answer(Chamber &c, std::span<const std::uint8_t> request);
    static std::vector<std::uint8_t> readInputs(Chamber &c, std::span<const std::uint8_t> request);
    static std::vector<std::uint8_t> writeHolding(Chamber &c,
                                                  std::span<const std::uint8_t> request);
    static void applyReplyFaults(const ChamberFaults &faults, std::vector<std::uint8_t> &reply);

    mutable std::mutex mutex_;
    std::map<int, Chamber> chambers_;
};

} // namespace chambersim

#include "ChamberBus.h"

#include "SimCrc16.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace chambersim {
namespace {

constexpr std::uint8_t kReadInputRegisters = 4;
constexpr std::uint8_t kWriteMultipleRegisters = 16;
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalDataAddress = 2;
constexpr std::uint8_t kIllegalDataValue = 3;
constexpr std::uint8_t kDeviceFailure = 4;
constexpr std::uint8_t kStrayByte = 0xFF; // never a chamber's address

int word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] << 8 | bytes[at + 1];
}

void appendWord(std::vector<std::uint8_t> &out, int value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

std::vector<std::uint8_t> exceptionReply(std::span<const std::uint8_t> request, std::uint8_t code) {
    std::vector<std::uint8_t> reply{request[0], static_cast<std::uint8_t>(request[1] | 0x80), code};
    appendCrc(reply);
    return reply;
}

} // namespace

ChamberBus::ChamberBus(const std::vector<int> &addresses, double degreesPerMinute) {
    for (int address : addresses) {
        if (address < 0 || address > kHighestBusAddress)
            throw std::invalid_argument("chamber address out of range: " + std::to_string(address));
        chambers_.try_emplace(address, Chamber{ChamberModel(degreesPerMinute), {}, {}, 0});
    }
}

std::vector<int> ChamberBus::addresses() const {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (const auto &entry : chambers_)
        out.push_back(entry.first);
    return out;
}

bool ChamberBus::hasChamber(int address) const {
    std::lock_guard lock(mutex_);
    return chambers_.count(address) != 0;
}

ChamberBus::Chamber &ChamberBus::chamber(int address) {
    auto found = chambers_.find(address);
    if (found == chambers_.end())
        throw std::invalid_argument("no chamber at address " + std::to_string(address));
    return found->second;
}

const ChamberBus::Chamber &ChamberBus::chamber(int address) const {
    return const_cast<ChamberBus *>(this)->chamber(address);
}

Reply ChamberBus::handle(std::span<const std::uint8_t> request) {
    if (request.size() < 4)
        return {};
    std::lock_guard lock(mutex_);
    auto found = chambers_.find(request[0]);
    if (found == chambers_.end())
        return {};
    Chamber &c = found->second;
    const ChamberFaults &f = c.faults;
    ++c.requests;
    if (c.requests <= f.silentFirst || (f.dropEvery > 0 && c.requests % f.dropEvery == 0))
        return {};
    Reply reply{answer(c, request), {}};
    applyReplyFaults(f, reply.bytes);
    reply.delivery.delayMs = f.replyDelayMs;
    reply.delivery.byteByByte = f.byteByByte;
    if (f.splitGapMs > 0 && reply.bytes.size() > 1) {
        reply.delivery.splitGapMs = f.splitGapMs;
        reply.delivery.splitFirstLength = std::clamp<std::size_t>(
            static_cast<std::size_t>(std::max(1, f.splitFirstLength)), 1, reply.bytes.size() - 1);
    }
    return reply;
}

std::vector<std::uint8_t> ChamberBus::answer(Chamber &c, std::span<const std::uint8_t> request) {
    switch (request[1]) {
    case kReadInputRegisters:
        return readInputs(c, request);
    case kWriteMultipleRegisters:
        return writeHolding(c, request);
    default:
        return exceptionReply(request, kIllegalFunction);
    }
}

std::vector<std::uint8_t> ChamberBus::readInputs(Chamber &c,
                                                 std::span<const std::uint8_t> request) {
    if (request.size() != 8)
        return exceptionReply(request, kIllegalDataValue);
    if (c.faults.exceptionReply)
        return exceptionReply(request, kDeviceFailure);
    const int start = word(request, 2);
    const int quantity = word(request, 4);
    if (quantity < 1 || quantity > kInputRegisterCount || start + quantity > kInputRegisterCount)
        return exceptionReply(request, kIllegalDataAddress);
    const InputRegisters regs = readableInputs(c);
    std::vector<std::uint8_t> reply{request[0], request[1],
                                    static_cast<std::uint8_t>(2 * quantity)};
    for (int reg = start; reg < start + quantity; ++reg)
        appendWord(reply, regs[static_cast<std::size_t>(reg)]);
    appendCrc(reply);
    return reply;
}

std::vector<std::uint8_t> ChamberBus::writeHolding(Chamber &c,
                                                   std::span<const std::uint8_t> request) {
    if (request.size() < 9)
        return exceptionReply(request, kIllegalDataValue);
    const int start = word(request, 2);
    const int quantity = word(request, 4);
    const int byteCount = request[6];
    if (quantity < 1 || byteCount != 2 * quantity ||
        request.size() != static_cast<std::size_t>(9 + byteCount))
        return exceptionReply(request, kIllegalDataValue);
    if (start + quantity > kHoldingRegisterCount)
        return exceptionReply(request, kIllegalDataAddress);
    std::vector<std::uint16_t> values;
    for (int i = 0; i < quantity; ++i)
        values.push_back(
            static_cast<std::uint16_t>(word(request, 7 + 2 * static_cast<std::size_t>(i))));
    c.model.writeHolding(start, values);
    std::vector<std::uint8_t> reply(request.begin(), request.begin() + 6);
    appendCrc(reply);
    return reply;
}

void ChamberBus::applyReplyFaults(const ChamberFaults &faults, std::vector<std::uint8_t> &reply) {
    const bool readReply = reply[1] == kReadInputRegisters;
    if (faults.wrongByteCount && readReply) {
        reply.resize(reply.size() - 2);
        reply[2] = static_cast<std::uint8_t>(reply[2] + 2);
        appendCrc(reply);
    }
    if (faults.breakCrc)
        reply.back() ^= 0xFF;
    if (faults.strayByte)
        reply.insert(reply.begin(), kStrayByte);
}

InputRegisters ChamberBus::readableInputs(const Chamber &c) {
    InputRegisters regs = c.model.inputRegisters();
    for (const auto &[reg, value] : c.rawInputs)
        regs[static_cast<std::size_t>(reg)] = value;
    return regs;
}

void ChamberBus::advance(double simSeconds) {
    std::lock_guard lock(mutex_);
    for (auto &entry : chambers_)
        entry.second.model.advance(simSeconds);
}

void ChamberBus::setRate(double degreesPerMinute) {
    std::lock_guard lock(mutex_);
    for (auto &entry : chambers_)
        entry.second.model.setRate(degreesPerMinute);
}

void ChamberBus::setFaults(int address, const ChamberFaults &faults) {
    std::lock_guard lock(mutex_);
    chamber(address).faults = faults;
}

ChamberFaults ChamberBus::faults(int address) const {
    std::lock_guard lock(mutex_);
    return chamber(address).faults;
}

void ChamberBus::setRawInput(int address, int reg, std::uint16_t value) {
    if (reg < 0 || reg >= kInputRegisterCount)
        throw std::invalid_argument("no input register " + std::to_string(reg));
    std::lock_guard lock(mutex_);
    chamber(address).rawInputs[reg] = value;
}

void ChamberBus::clearRawInputs(int address) {
    std::lock_guard lock(mutex_);
    chamber(address).rawInputs.clear();
}

InputRegisters ChamberBus::inputRegisters(int address) const {
    std::lock_guard lock(mutex_);
    return readableInputs(chamber(address));
}

HoldingRegisters ChamberBus::holdingRegisters(int address) const {
    std::lock_guard lock(mutex_);
    return chamber(address).model.holding();
}

int ChamberBus::requestCount(int address) const {
    std::lock_guard lock(mutex_);
    return chamber(address).requests;
}

} // namespace chambersim

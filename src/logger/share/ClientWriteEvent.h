#pragma once
// The journal's `client_write` event: a client's write (function 16) through a shared link, the
// registers it wrote and the chamber's answer. See docs/events.md.
#include "platform/LineExchange.h"

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

// What a write (function 16) sets: the chamber, the first register and the values from there.
struct WrittenRegisters {
    int chamber = 0;
    int start = 0;
    std::vector<std::uint16_t> values;
};
WrittenRegisters RegistersOf(std::span<const std::uint8_t> write);

// "ok", "exception 2", "silence", "damaged", "line never quiet", "stopped", "port lost".
QString ClientAnswerText(const ExchangeResult &result);

// The event's members: link, chamber, start, count, values, answer.
QJsonObject ClientWriteMembers(const QString &link, std::span<const std::uint8_t> write,
                               const ExchangeResult &result);

#pragma once
// The journal's `client_write` event: a client's write (function 16) through a shared link, the
// registers it wrote and the chamber's answer. See docs/events.md.
#include "platform/LineExchange.h"

#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <span>

// "ok", "exception 2", "silence", "damaged", "line never quiet", "stopped", "port lost".
QString ClientAnswerText(const ExchangeResult &result);

// The event's members: link, chamber, start, count, values, answer.
QJsonObject ClientWriteMembers(const QString &link, std::span<const std::uint8_t> write,
                               const ExchangeResult &result);

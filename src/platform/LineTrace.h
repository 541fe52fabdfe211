#pragma once
// Every frame sent and every read received on the line, in hexadecimal with a time stamp, for
// the engineer at a real chamber. Off by default; switch it on with
//     QT_LOGGING_RULES="kalvora.line.debug=true"
#include <QLoggingCategory>
#include <cstddef>
#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcLine)

// direction: "tx" or "rx". Costs nothing while the category is off.
void TraceFrame(const char *direction, const std::uint8_t *bytes, std::size_t length);

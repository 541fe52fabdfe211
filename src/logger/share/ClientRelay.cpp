#include "logger/share/ClientRelay.h"

#include "logger/share/ExceptionFrame.h"

#include "core/ModbusRtu.h"

RelayedAnswer RelayOnce(Bus &bus, std::span<const std::uint8_t> request) {
    RelayedAnswer answer;
    answer.result = bus.exchangeOnce(request);
    if (answer.result.outcome == ExchangeResult::Outcome::Ok)
        answer.toClient = answer.result.reply;
    else if (answer.result.outcome == ExchangeResult::Outcome::Exception)
        answer.toClient = ExceptionFrame(request[0], request[1], answer.result.exceptionCode);
    return answer;
}

std::chrono::steady_clock::duration LongestTry(std::span<const std::uint8_t> request,
                                               std::chrono::milliseconds timeout) {
    // Function 4 answers with its registers, function 16 with 8 bytes.
    const std::size_t replyBytes =
        request[1] == kReadInputRegisters && request.size() >= 6 ? 5 + 2 * std::size_t{request[5]}
                                                                 : 8;
    return timeout + 2 * LineExchange::kFrameGap +
           static_cast<long>(request.size() + replyBytes) * LineExchange::kByteTime;
}

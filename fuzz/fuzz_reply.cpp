// Any bytes as the receive buffer: the reply-match rule, the decoding gate and the decoder.
// Input: the bytes of the buffer from index 0 (zeros after the input, the rest cut off); the
// first byte is also the chamber address, the last two an extra address and function to match.
// The figure texts carry over from one input to the next, as the labels do from cycle to cycle.
// Random bytes rarely carry a right CRC, so a signed copy of the buffer takes the gate's other
// side with any register values.
#include "FuzzCheck.h"
#include "core/ModbusRtu.h"
#include "core/ReadingsDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kReplyLength = 35;
constexpr int kLongestLabel = 31;

struct DecoderState {
    FigureTexts figures = StartFigureTexts();
    KeptTexts kept;
    QChar separator;
};

unsigned Register(const Bytes &reply, int k) { return 256u * reply[3 + 2 * k] + reply[4 + 2 * k]; }

int ReferenceFindReply(const Bytes &buffer, int address, int function) {
    for (std::size_t p = 0; p + 1 < buffer.size(); ++p)
        if (buffer[p] == address && buffer[p + 1] == function)
            return static_cast<int>(p);
    return -1;
}

void CheckFindReply(const Bytes &buffer, int address, int function) {
    const int found = FindReply(buffer.data(), address, function);
    FUZZ_CHECK(found >= -1 && found <= 254, QStringLiteral("position %1").arg(found));
    FUZZ_CHECK(found == ReferenceFindReply(buffer, address, function),
               QStringLiteral("address %1 function %2: found %3, first match at %4")
                   .arg(address)
                   .arg(function)
                   .arg(found)
                   .arg(ReferenceFindReply(buffer, address, function)));
}

// The CRC low byte first makes the CRC over the whole frame 0, which is an independent way to
// tell a right one.
bool ExpectedDecodable(const Bytes &buffer, int address) {
    return buffer[0] == address && buffer[1] == kReadInputRegisters && buffer[2] == 30 &&
           ModbusCrc16(0, kReplyLength - 1, buffer.data()) == 0;
}

// The buffer with the header of a 15-register reply and its CRC written over bytes 0 to 34.
Bytes Signed(Bytes buffer, int address) {
    buffer[0] = static_cast<std::uint8_t>(address);
    buffer[1] = kReadInputRegisters;
    buffer[2] = 30;
    const std::uint16_t crc = ModbusCrc16(0, kReplyLength - 3, buffer.data());
    buffer[kReplyLength - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    buffer[kReplyLength - 1] = static_cast<std::uint8_t>(crc >> 8);
    return buffer;
}

// A canonical number text ("-"? digits (separator digit)?, no trailing zero, no "-0") as tenths.
std::optional<int> ParseTenths(const QString &text, QChar separator) {
    qsizetype pos = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        ++pos;
    const qsizetype digitsFrom = pos;
    long tenths = 0;
    while (pos < text.size() && text[pos].unicode() >= u'0' && text[pos].unicode() <= u'9') {
        tenths = tenths * 10 + (text[pos].unicode() - u'0');
        if (tenths > 100000)
            return std::nullopt;
        ++pos;
    }
    const qsizetype digits = pos - digitsFrom;
    if (digits == 0 || (digits > 1 && text[digitsFrom] == QLatin1Char('0')))
        return std::nullopt;
    tenths *= 10;
    if (pos < text.size()) {
        if (text[pos] != separator || pos + 2 != text.size())
            return std::nullopt;
        const char16_t tenth = text[pos + 1].unicode();
        if (tenth < u'1' || tenth > u'9')
            return std::nullopt;
        tenths += tenth - u'0';
    }
    if (negative && tenths == 0)
        return std::nullopt;
    return negative ? -tenths : tenths;
}

void CheckTemperature(unsigned value, const QString &label, const QString &kept,
                      const QString &keptBefore, QChar separator) {
    const int tenths = value > 50000 ? static_cast<int>(value) - 65536 : static_cast<int>(value);
    const bool plausible = tenths > -1000 && tenths < 2500;
    if (plausible) {
        const auto parsed = ParseTenths(kept, separator);
        FUZZ_CHECK(parsed && *parsed == tenths,
                   QStringLiteral("register %1 gave %2").arg(value).arg(Shown(kept)));
    } else {
        FUZZ_CHECK(kept == keptBefore, QStringLiteral("register %1 replaced %2 by %3")
                                           .arg(value)
                                           .arg(Shown(keptBefore), Shown(kept)));
    }
    FUZZ_CHECK(label == kept, Shown(label) + QStringLiteral(" shown, kept ") + Shown(kept));
}

QString TwoDigits(unsigned value) {
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

void CheckTime(const QString &before, const QString &label, unsigned hours, unsigned hoursBound,
               unsigned minutes) {
    QString expected = before;
    if (hours < hoursBound) {
        expected = TwoDigits(hours);
        if (minutes < 60)
            expected += QLatin1Char(':') + TwoDigits(minutes);
    }
    FUZZ_CHECK(label == expected, QStringLiteral("hours %1 minutes %2 after %3: %4 instead of %5")
                                      .arg(hours)
                                      .arg(minutes)
                                      .arg(Shown(before), Shown(label), Shown(expected)));
}

// A counter pair or a program number: taken together with its kept text, or both unchanged.
void CheckTaken(bool taken, const QString &expected, const QString &label, const QString &kept,
                const QString &labelBefore, const QString &keptBefore) {
    if (taken) {
        FUZZ_CHECK(label == expected && kept == expected,
                   Shown(label) + QLatin1Char('/') + Shown(kept) + QStringLiteral(" instead of ") +
                       Shown(expected));
    } else {
        FUZZ_CHECK(label == labelBefore && kept == keptBefore,
                   QStringLiteral("a rejected value changed ") + Shown(labelBefore));
    }
}

QString Pair(unsigned current, unsigned total) {
    return QString::number(current) + QLatin1Char('(') + QString::number(total) + QLatin1Char(')');
}

void CheckLabelsStayShort(const FigureTexts &f) {
    for (const QString *text :
         {&f.currentTemperature, &f.program, &f.setTemperature, &f.stabilisationTime, &f.timeToMode,
          &f.timeToModeSetPoint, &f.stabilisationSetPoint, &f.step, &f.cycle})
        FUZZ_CHECK(text->size() <= kLongestLabel, QStringLiteral("label grew to ") + Shown(*text));
}

// The decoder reads exactly 35 bytes of its own heap block, so AddressSanitizer sees any read
// past the reply.
void DecodeAndCheck(const Bytes &buffer, DecoderState &state) {
    const Bytes reply(buffer.begin(), buffer.begin() + kReplyLength);
    const FigureTexts before = state.figures;
    const KeptTexts keptBefore = state.kept;
    DecodeCurrentValues(reply.data(), state.figures, state.kept, state.separator);

    const auto reg = [&reply](int k) { return Register(reply, k); };
    const FigureTexts &f = state.figures;
    const KeptTexts &kept = state.kept;
    CheckTemperature(reg(0), f.currentTemperature, kept.currentTemperature,
                     keptBefore.currentTemperature, state.separator);
    CheckTemperature(reg(2), f.setTemperature, kept.setTemperature, keptBefore.setTemperature,
                     state.separator);
    CheckTime(before.stabilisationTime, f.stabilisationTime, reg(4), 200, reg(5));
    CheckTime(before.timeToMode, f.timeToMode, reg(6), 1000, reg(7));
    CheckTime(before.timeToModeSetPoint, f.timeToModeSetPoint, reg(14) / 60, 200, reg(14) % 60);
    CheckTime(before.stabilisationSetPoint, f.stabilisationSetPoint, reg(8), 200, reg(9));
    CheckTaken(reg(10) < 20 && reg(11) < 20, Pair(reg(10), reg(11)), f.step, kept.step, before.step,
               keptBefore.step);
    CheckTaken(reg(12) < 1000, Pair(reg(12), reg(13)), f.cycle, kept.cycle, before.cycle,
               keptBefore.cycle);
    CheckTaken(reg(1) < 20, QString::number(reg(1)), f.program, kept.program, before.program,
               keptBefore.program);
    CheckLabelsStayShort(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static DecoderState decodable{StartFigureTexts(), {}, QLatin1Char(',')};
    static DecoderState anyBytes{StartFigureTexts(), {}, QLatin1Char('.')};

    Bytes buffer(kRxBufferSize, 0);
    std::copy(data, data + std::min(size, kRxBufferSize), buffer.begin());
    const int address = size > 0 ? data[0] : 0;

    CheckFindReply(buffer, address, kReadInputRegisters);
    if (size >= 2)
        CheckFindReply(buffer, data[size - 2], data[size - 1]);
    for (const auto &[badAddress, badFunction] :
         {std::pair{-1, 4}, {256, 4}, {address, -1}, {address, 256}})
        FUZZ_CHECK(
            FindReply(buffer.data(), badAddress, badFunction) == -1,
            QStringLiteral("matched address %1 function %2").arg(badAddress).arg(badFunction));

    const bool isDecodable = IsDecodableReply(buffer.data(), address);
    FUZZ_CHECK(isDecodable == ExpectedDecodable(buffer, address),
               QStringLiteral("gate said %1").arg(isDecodable));
    FUZZ_CHECK(!IsDecodableReply(buffer.data(), (address + 1) % 256),
               QStringLiteral("a reply passed the gate for another address"));

    if (isDecodable)
        DecodeAndCheck(buffer, decodable);
    DecodeAndCheck(buffer, anyBytes);

    const Bytes signedReply = Signed(buffer, address);
    FUZZ_CHECK(IsDecodableReply(signedReply.data(), address),
               QStringLiteral("a signed reply failed the gate"));
    DecodeAndCheck(signedReply, decodable);
    return 0;
}

// Any bytes, read as UTF-8, as an operator's text for the integer conversion. Every outcome is
// compared with a reference conversion built on std::from_chars.
#include "FuzzCheck.h"
#include "core/Errors.h"
#include "core/IntegerText.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

bool AllOf(std::string_view digits, bool (*belongs)(char)) {
    for (const char c : digits)
        if (!belongs(c))
            return false;
    return !digits.empty();
}

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::optional<std::int32_t> ReferenceHex(std::string_view digits, bool negative) {
    if (!AllOf(digits, IsHex))
        return std::nullopt;
    digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.size() > 8)
        return std::nullopt;
    std::uint32_t pattern = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), pattern, 16);
    return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
}

std::optional<std::int32_t> ReferenceDecimal(std::string_view digits, bool negative) {
    if (!AllOf(digits, IsDecimal))
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (result.ec != std::errc{} || magnitude > (negative ? 2147483648u : 2147483647u))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
}

// Leading spaces, one sign, then a hexadecimal prefix and digits, or decimal digits.
std::optional<std::int32_t> Reference(const QString &text) {
    for (const QChar c : text)
        if (c.unicode() > 0x7F)
            return std::nullopt;
    const std::string ascii = text.toStdString();
    std::string_view rest = ascii;
    rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    const bool negative = rest.starts_with('-');
    if (negative || rest.starts_with('+'))
        rest.remove_prefix(1);
    if (rest.starts_with("0x") || rest.starts_with("0X"))
        return ReferenceHex(rest.substr(2), negative);
    if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X'))
        return ReferenceHex(rest.substr(1), negative);
    return ReferenceDecimal(rest, negative);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<std::int32_t> expected = Reference(text);

    std::optional<std::int32_t> converted;
    try {
        converted = StrToInt(text);
    } catch (const ConversionError &error) {
        const QString message = QLatin1Char('\'') + text + "' is not a valid integer value";
        FUZZ_CHECK(error.message() == message, Shown(error.message()));
        FUZZ_CHECK(!expected,
                   Shown(text) +
                       QStringLiteral(" rejected, reference gave %1").arg(expected.value_or(0)));
        return 0;
    }
    FUZZ_CHECK(expected && *expected == *converted,
               Shown(text) + QStringLiteral(" gave %1, reference %2")
                                 .arg(*converted)
                                 .arg(expected ? QString::number(*expected) : "rejection"));

    // The program shows values back as text; that text must convert to the same value.
    const QString shown = IntToText(*converted);
    FUZZ_CHECK(StrToInt(shown) == *converted, Shown(shown));
    return 0;
}

#include "IntegerText.h"

#include "Errors.h"

#include <optional>

namespace {

constexpr int kMaxHexDigits = 8;

[[noreturn]] void ThrowNotAnInteger(const QString &text) {
    throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

// Only ASCII digits count: QChar::isDigit would also take other scripts' digits.
std::optional<unsigned> DecimalDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    return std::nullopt;
}

std::optional<unsigned> HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return std::nullopt;
}

// Length of a hexadecimal prefix at pos, 0 when there is none.
qsizetype HexPrefixLength(const QString &text, qsizetype pos) {
    const auto at = [&](qsizetype i) { return i < text.size() ? text[i].unicode() : u'\0'; };
    if (at(pos) == u'$' || at(pos) == u'x' || at(pos) == u'X')
        return 1;
    if (at(pos) == u'0' && (at(pos + 1) == u'x' || at(pos + 1) == u'X'))
        return 2;
    return 0;
}

// The 32-bit pattern of the hexadecimal digits from pos to the end.
std::optional<std::uint32_t> ParseHexPattern(const QString &text, qsizetype pos) {
    if (pos >= text.size())
        return std::nullopt;
    std::uint32_t pattern = 0;
    int significantDigits = 0;
    for (; pos < text.size(); ++pos) {
        const auto digit = HexDigit(text[pos]);
        if (!digit)
            return std::nullopt;
        if (pattern != 0 || *digit != 0)
            ++significantDigits;
        if (significantDigits > kMaxHexDigits)
            return std::nullopt;
        pattern = (pattern << 4) | *digit;
    }
    return pattern;
}

// The magnitude of the decimal digits from pos to the end, at most 2^31.
std::optional<std::uint32_t> ParseDecimalMagnitude(const QString &text, qsizetype pos) {
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;
    if (pos >= text.size())
        return std::nullopt;
    std::uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const auto digit = DecimalDigit(text[pos]);
        if (!digit)
            return std::nullopt;
        magnitude = magnitude * 10 + *digit;
        if (magnitude > kLimit)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(magnitude);
}

} // namespace

std::int32_t StrToInt(const QString &text) {
    qsizetype pos = 0;
    while (pos < text.size() && text[pos] == QLatin1Char(' '))
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('+') || text[pos] == QLatin1Char('-'))) {
        negative = text[pos] == QLatin1Char('-');
        ++pos;
    }

    if (const qsizetype prefix = HexPrefixLength(text, pos); prefix > 0) {
        const auto pattern = ParseHexPattern(text, pos + prefix);
        if (!pattern)
            ThrowNotAnInteger(text);
        // The sign applies to the pattern, modulo 2^32: "-$1" is -1, "$FFFFFFFF" is -1 too.
        const std::uint32_t value = negative ? 0u - *pattern : *pattern;
        return static_cast<std::int32_t>(value);
    }

    const auto magnitude = ParseDecimalMagnitude(text, pos);
    if (!magnitude || (!negative && *magnitude > 0x7FFFFFFFu))
        ThrowNotAnInteger(text);
    const std::int64_t value = negative ? -std::int64_t{*magnitude} : std::int64_t{*magnitude};
    return static_cast<std::int32_t>(value);
}

QString IntToText(long long value) { return QString::number(value); }

std::optional<int> ParseDecimal(QStringView text, int low, int high) {
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

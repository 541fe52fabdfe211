#pragma once
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// Converts an operator's text to a signed 32-bit integer: leading spaces, one optional sign,
// then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X" (a 32-bit
// pattern of up to 8 significant digits). Nothing may follow the digits.
// Throws ConversionError("'<text>' is not a valid integer value") otherwise.
std::int32_t StrToInt(const QString &text);

// Decimal text of a value: no grouping, "-" for negatives.
QString IntToText(long long value);

// Plain decimal digits within [low, high]; no sign, blanks or other characters.
std::optional<int> ParseDecimal(QStringView text, int low, int high);

#include "NumberText.h"

#include <array>
#include <charconv>

QString FloatToText(double value, QChar decimalSeparator) {
    if (value == 0.0)
        value = 0.0; // no "-0" for a negative zero
    // std::to_chars ignores the C locale, which under ru_RU would already print a comma.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    QString text = QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
    text.replace(QLatin1Char('.'), decimalSeparator);
    return text;
}

QString TwoDigitText(unsigned value) {
    const QString digits = QString::number(value);
    return value < 10 ? QLatin1Char('0') + digits : digits;
}

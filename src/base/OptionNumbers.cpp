#include "base/OptionNumbers.h"

std::optional<int> ParseDecimal(const QString &text, int low, int high) {
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

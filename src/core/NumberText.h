#pragma once
#include <QChar>
#include <QString>

// General number format: up to 15 significant digits, no trailing zeros, no exponent for the
// magnitudes the chambers report, "-" for negatives, the given decimal separator.
QString FloatToText(double value, QChar decimalSeparator);

// "05" for 5, "12" for 12, "123" for 123.
QString TwoDigitText(unsigned value);

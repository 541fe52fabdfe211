#pragma once
#include <QString>
#include <optional>

constexpr int kHighestBusAddress = 250;

// Plain decimal digits within [low, high]; no sign, blanks or other characters.
std::optional<int> ParseDecimal(const QString &text, int low, int high);

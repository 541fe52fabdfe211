#pragma once
// Bus address lists as the user writes them: "1,3,5-8".
#include <QString>
#include <vector>

struct AddressListResult {
    std::vector<int> addresses; // ascending, without repeats
    QString error;              // empty on success
};

// Addresses 0 to 250; ranges "a-b" with a <= b; no blanks.
AddressListResult ParseAddressList(const QString &text);

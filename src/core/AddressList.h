#pragma once
// Bus address lists as the user writes them: "1,3,5-8". Addresses 0 to 250, ranges "a-b" with
// a <= b, no blanks; an address named twice counts once.
//
// The order is the caller's to choose, and each tool says which: the report lays its chambers
// out in the order the user names them ("5,1": chamber 5 first); the logger asks, files and
// shows its chambers, and its alarms name them, by address whatever order the list was written
// in, so that a run's rounds, metrics and tiles read the same for the same chambers.
#include <QString>
#include <vector>

enum class AddressOrder {
    AsWritten, // each address at its first place in the text
    Ascending,
};

struct AddressListResult {
    std::vector<int> addresses; // without repeats
    QString error;              // empty on success
};

AddressListResult ParseAddressList(const QString &text, AddressOrder order);

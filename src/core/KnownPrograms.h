#pragma once
// The program tables the logger knows each chamber to hold: rebuilt from the step records
// written to it (registers 0 to 12, as the control window and write-program send them), or
// named by a program file. A chamber keeps a record register by register, so a write that sets
// only some of them completes a record with the registers written before; a table is known only
// once every one of its steps has been written. What is newest wins: a record written after a
// file was saved replaces that step, a file saved after the writes replaces the table.
#include "ControlInput.h"

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <utility>

class KnownPrograms {
public:
    // A write (function 16) of `values` from register `start` on, which the chamber accepted,
    // at `atMs` (ms since the epoch). Writes come in time order.
    void written(int chamber, int start, std::span<const std::uint16_t> values, qint64 atMs);
    // The table of a program file saved at `savedAtMs`.
    void named(int chamber, int program, const ProgramInput &table, qint64 savedAtMs);

    // The whole table of `program` on `chamber`, or nullptr.
    const ProgramInput *table(int chamber, int program) const;

private:
    static constexpr int kRecordRegisters = 13;

    struct Table {
        ProgramInput input;
        std::array<bool, kMaxSteps> rowKnown{};
        qint64 asOfMs = 0;
    };
    struct Registers {
        std::array<std::uint16_t, kRecordRegisters> value{};
        std::array<bool, kRecordRegisters> known{};
    };

    void storeRecord(int chamber, const Registers &record, qint64 atMs);

    std::map<int, Registers> records_; // per chamber: its record registers as last written
    std::map<std::pair<int, int>, Table> tables_;
};

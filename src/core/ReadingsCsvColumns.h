#pragma once
// The columns of the readings CSV files, in their order. The logger writes them and the chart
// tool reads them back: both take the order and the names from here.
#include <array>
#include <cstddef>
#include <string_view>

enum class ReadingsColumn {
    Time,
    CurrentTemperature,
    SetTemperature,
    TimeToMode,
    StabilisationTime,
    TimeToModeSetPoint,
    StabilisationSetPoint,
    Program,
    Step,
    Steps,
    Cycle,
    Cycles,
};

// The header row's names, which are also the keys of a reading in JSON.
constexpr std::array<std::string_view, 12> kReadingsColumnNames{
    "time",  "current_temperature", "set_temperature", "time_to_mode",
    "stabilisation_time", "time_to_mode_set_point", "stabilisation_set_point",
    "program", "step", "steps", "cycle", "cycles"};

constexpr std::size_t ColumnIndex(ReadingsColumn column) {
    return static_cast<std::size_t>(column);
}
constexpr std::string_view ColumnName(ReadingsColumn column) {
    return kReadingsColumnNames[ColumnIndex(column)];
}

#pragma once
// The parameters of the overview server's requests, as the client sends them: a chamber number
// in a path, the minutes of a history, the moment events are wanted from.
#include <QString>
#include <QStringView>
#include <optional>

// A path segment naming a chamber: decimal digits only (no sign, no spaces).
struct ChamberInPath {
    bool isNumber = false;      // false: a bad request
    std::optional<int> address; // 0..250; none for a number beyond (no such chamber)
};
ChamberInPath ParseChamberInPath(QStringView text);

// "minutes": decimal digits, 1..1440; 60 when the parameter is absent. None: a bad request.
constexpr int kDefaultHistoryMinutes = 60;
constexpr int kMaxHistoryMinutes = 1440;
std::optional<int> ParseHistoryMinutes(const std::optional<QString> &text);

// "since": local time with its offset as the events journal writes it,
// "2026-12-10T17:03:04+01:00" (or "Z"); a fraction of a second is allowed. A space in place of
// the offset's "+" is taken for one, since a "+" left unescaped in a query reads as a space.
// Milliseconds since the epoch; none when malformed.
std::optional<qint64> ParseSinceTime(QStringView text);

#pragma once
// The overview server's JSON answers (docs/http-api.md), composed from the logger's snapshot,
// the history and the events journal's lines.
#include "logger/metrics/MetricsText.h"

#include "core/ReadingHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <optional>

QByteArray ChambersJson(const BusMetrics &bus, const QDateTime &now);
QByteArray HistoryJson(int address, int minutes, const std::vector<HistoryPoint> &points);
QByteArray ErrorJson(const QString &text);

// The newest lines of a journal's tail (whole lines only; a first line that may be cut is left
// out unless `whole`) that are at or after `since` (ms since the epoch) when given, at most
// `count` of them, oldest first. Lines that are no event object are skipped.
struct EventLines {
    QList<QByteArray> lines;
    bool reachedOlder = false; // a line before `since` was seen, or `count` lines were found
};
EventLines SelectEventLines(const QByteArray &tail, bool whole, std::optional<qint64> since,
                            int count);
QByteArray EventsJson(const QList<QByteArray> &lines);

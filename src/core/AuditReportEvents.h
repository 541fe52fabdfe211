#pragma once
// The writes of an audit trail (docs/audit.md) as events of a test report: one event a write,
// at the moment of its line, with the chamber's answer from the line that completes it.
#include "RunSummary.h"

#include <QJsonObject>
#include <QList>

// The writes to `chamber` among the trail's lines, in the order of the lines.
QList<RunEvent> AuditWriteEvents(const QList<QJsonObject> &lines, int chamber);

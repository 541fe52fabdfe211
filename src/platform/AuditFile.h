#pragma once
// The audit trail on disk: appends serialised between processes by a lock file in the trail's
// folder, each line written whole and synced before the call returns; the settings file; who
// this process is.
#include "core/AuditSettings.h"
#include "core/AuditTrail.h"

#include <QJsonObject>
#include <QString>
#include <optional>

// $KALVORA_CONFIG when set, else /etc/kalvora/audit.conf. A missing file: the defaults.
QString AuditSettingsPath();
AuditSettings ReadAuditSettings();

// The user (name and uid), host, program and process id of this process.
QJsonObject CurrentProcessWho(const QString &program);
// The name of the user with `uid`; empty when the system knows none.
QString UserName(unsigned uid);
// The uid of the user named `name`; none when the system knows no such user.
std::optional<unsigned> UserIdOf(const QString &name);

// Appends `record` to the month's file in `folder` (created when missing), continuing the chain
// from the file's last line or, for a new month, from the file before it. A torn last line is
// ended first and left out of the chain. Returns the new head. Throws InOutError naming the
// file and the reason; a line that could not be written whole and synced counts as not written.
AuditHead AppendAuditRecord(const QString &folder, const AuditRecord &record);

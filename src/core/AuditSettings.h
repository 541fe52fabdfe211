#pragma once
// The lab's audit settings, from /etc/kalvora/audit.conf (KEY=VALUE lines, "#" comments; keys
// this part does not know are left to others):
//   audit=on|off                 the window and kalvora-cli keep the trail (default off)
//   audit-reason=required|optional   a write needs a reason (required turns the trail on)
//   audit-dir=FOLDER             where the trail lives (default: the log folder)
#include <QString>

struct AuditSettings {
    bool enabled = false;
    bool reasonRequired = false;
    QString folder; // empty: the log folder
    QString error;  // a value that is not understood, naming the line; nothing is sent then
};

AuditSettings ParseAuditSettings(const QString &text, const QString &fileName);

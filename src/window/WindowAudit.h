#pragma once
// The control window's audit trail: where the lab keeps one (audit.conf), each command is
// recorded, synced, before its first frame goes out; a command whose line cannot be written is
// not sent. With reasons required, a box asks for one first.
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

// Asks the operator why the write is made; nullopt when the box was cancelled. `words` says the
// command. Tests may replace it; the default is the real box.
extern std::function<std::optional<QString>(const QString &words)> AuditReasonHook;
std::optional<QString> AskAuditReason(const QString &words);

// Records the command about to be sent. False: the operator cancelled, send nothing. Throws
// KalvoraError (the error box) when the settings are not understood or the trail cannot be
// written: nothing may be sent then either.
bool RecordWindowCommand(int chamber, const QJsonObject &what);

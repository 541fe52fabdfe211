#pragma once
// The audit trail's lines in words, as `kalvora-cli audit show` and the test report print them.
#include <QJsonObject>
#include <QString>

// "принято" for "ok", "отправлено" for the window's "sent"; an answer the program has no words
// for ("exception 2 (illegal data address)") as it stands.
QString AuditOutcomeWords(const QString &outcome);
// "anna (1000)@lab-pc"; a relayed write's adds its link: "unknown@lab-pc, линия /run/kalvora/COM2".
QString AuditWhoWords(const QJsonObject &who);

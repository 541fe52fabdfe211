#pragma once
// A lab's audit settings for one test (KALVORA_CONFIG, restored on the way out), and the trail
// files of a folder read back.
#include "FileBytes.h"

#include "core/AuditTrail.h"

#include <QDir>
#include <QJsonObject>
#include <QTemporaryDir>

class AuditConfig {
public:
    // `settings`: the lines of audit.conf; "%DIR%" stands for trailFolder().
    explicit AuditConfig(const QString &settings) {
        QString text = settings;
        text.replace(QStringLiteral("%DIR%"), trailFolder());
        WriteFile(dir_.filePath(QStringLiteral("audit.conf")), text.toUtf8());
        qputenv("KALVORA_CONFIG", dir_.filePath(QStringLiteral("audit.conf")).toLocal8Bit());
    }
    ~AuditConfig() { qunsetenv("KALVORA_CONFIG"); }
    AuditConfig(const AuditConfig &) = delete;
    AuditConfig &operator=(const AuditConfig &) = delete;

    QString trailFolder() const { return dir_.filePath(QStringLiteral("trail")); }
    // A path no trail can be made at: below a regular file (refused even to root).
    QString unwritableFolder() const {
        WriteFile(dir_.filePath(QStringLiteral("plain-file")), "x");
        return dir_.filePath(QStringLiteral("plain-file/trail"));
    }
    QList<AuditFileBytes> files() const {
        QList<AuditFileBytes> files;
        const QDir folder(trailFolder());
        for (const QString &name :
             folder.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name))
            files.append({name, ReadAll(folder.filePath(name))});
        return files;
    }
    QList<QJsonObject> lines() const {
        QList<QJsonObject> all;
        for (const AuditFileBytes &file : files())
            all << AuditLines(file.bytes);
        return all;
    }

private:
    QTemporaryDir dir_;
};

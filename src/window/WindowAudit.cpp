#include "WindowAudit.h"

#include "PortUnit.h"
#include "core/AuditCommands.h"
#include "core/Errors.h"
#include "platform/AuditFile.h"
#include "platform/LogFolder.h"

#include <QApplication>
#include <QInputDialog>

std::optional<QString> AskAuditReason(const QString &words) {
    for (;;) {
        bool ok = false;
        const QString reason = QInputDialog::getText(
            QApplication::activeWindow(), QStringLiteral("Kalvora"),
            words + QStringLiteral("\nПричина изменения (записывается в журнал аудита):"),
            QLineEdit::Normal, QString(), &ok);
        if (!ok)
            return std::nullopt;
        if (!reason.trimmed().isEmpty())
            return reason.trimmed();
    }
}

std::function<std::optional<QString>(const QString &words)> AuditReasonHook = AskAuditReason;

bool RecordWindowCommand(int chamber, const QJsonObject &what) {
    using namespace PortUnit;
    const AuditSettings settings = ReadAuditSettings();
    if (!settings.error.isEmpty())
        throw KalvoraError(settings.error + QStringLiteral("; nothing was sent"));
    if (!settings.enabled)
        return true;
    QString reason;
    if (settings.reasonRequired) {
        const std::optional<QString> given =
            AuditReasonHook(what.value(QLatin1String("words")).toString());
        if (!given)
            return false;
        reason = *given;
    }
    const QString folder = !settings.folder.isEmpty() ? settings.folder
                           : LogFolder.isEmpty()      ? DefaultLogFolder()
                                                      : LogFolder;
    const QDateTime now = QDateTime::currentDateTime();
    const bool known = LastReadingAt.isValid() && LastReadingChamber == chamber;
    const KeptTexts kept{CurrentTemperatureText, SetTemperatureText, ProgramText, StepText,
                         CycleText};
    AppendAuditRecord(folder,
                      AuditRecord{now, CurrentProcessWho(QStringLiteral("kalvora")), what,
                                  BeforeReading(kept, known ? LastReadingAt : QDateTime(), now),
                                  QStringLiteral("sent"), reason, std::nullopt});
    return true;
}

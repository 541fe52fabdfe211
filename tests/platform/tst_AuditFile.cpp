// Appends to the audit trail from several writers at once: each its own descriptor, as separate
// processes have, so only the lock file keeps them apart.
#include "FileBytes.h"

#include "core/AuditTrail.h"
#include "core/Errors.h"
#include "platform/AuditFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>
#include <vector>

class tst_AuditFile : public QObject {
    Q_OBJECT
private slots:
    void concurrentWritersKeepOneWholeChain() {
        QTemporaryDir dir;
        constexpr int kWriters = 4;
        constexpr int kLinesEach = 40;
        std::vector<std::thread> writers;
        std::atomic<int> failures{0};
        for (int writer = 0; writer < kWriters; ++writer)
            writers.emplace_back([&dir, &failures, writer] {
                for (int i = 0; i < kLinesEach; ++i) {
                    try {
                        AppendAuditRecord(dir.path(),
                                          AuditRecord{QDateTime::currentDateTimeUtc(),
                                                      {{QStringLiteral("writer"), writer}},
                                                      {{QStringLiteral("chamber"), i}},
                                                      QJsonValue(QJsonValue::Null),
                                                      QStringLiteral("sent"),
                                                      QString(),
                                                      std::nullopt});
                    } catch (...) {
                        ++failures;
                    }
                }
            });
        for (std::thread &writer : writers)
            writer.join();
        QCOMPARE(failures.load(), 0);
        QList<AuditFileBytes> files;
        const QDir folder(dir.path());
        for (const QString &name :
             folder.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name))
            files.append({name, ReadAll(folder.filePath(name))});
        const AuditVerification verified = VerifyAuditFiles(files);
        QVERIFY2(verified.intact, qPrintable(verified.failure));
        QVERIFY(verified.notes.isEmpty());
        QCOMPARE(verified.lines, qint64(kWriters * kLinesEach));
        QCOMPARE(verified.head.sequence, qint64(kWriters * kLinesEach));
    }

    void unwritableFolderNamesTheFileAndTheReason() {
        QTemporaryDir dir;
        QVERIFY(WriteFile(dir.filePath(QStringLiteral("plain")), "x"));
        try {
            AppendAuditRecord(dir.filePath(QStringLiteral("plain/trail")),
                              AuditRecord{QDateTime::currentDateTimeUtc(),
                                          {},
                                          {},
                                          {},
                                          QStringLiteral("sent"),
                                          QString(),
                                          std::nullopt});
            QFAIL("appended below a regular file");
        } catch (const InOutError &error) {
            QVERIFY2(
                error.message().startsWith(QStringLiteral("The audit trail cannot be written (") +
                                           dir.filePath(QStringLiteral("plain/trail"))),
                qPrintable(error.message()));
        }
    }
};

QTEST_MAIN(tst_AuditFile)
#include "tst_AuditFile.moc"

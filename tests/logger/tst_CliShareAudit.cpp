// The logger's audit trail of the writes relayed through its shared links, with the real logger,
// the simulated chambers and real clients: a link made for one user is opened by that user
// alone and its writes carry that user; a link made for nobody in particular gives "unknown".
#include "CliProcess.h"
#include "FileBytes.h"
#include "HexBytes.h"
#include "ModbusFrames.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kLinkUser = "nobody"; // a user every Debian system has, with no rights here

// The trail's lines that a write through `link` left, in order.
QList<QJsonObject> TrailLinesOf(const QString &folder, const QString &link) {
    QList<QJsonObject> lines;
    const QDir dir(folder);
    for (const QString &name :
         dir.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name))
        for (const QByteArray &line : ReadAll(dir.filePath(name)).split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.value(QStringLiteral("who"))
                    .toObject()
                    .value(QStringLiteral("link"))
                    .toString() == link)
                lines.append(object);
        }
    return lines;
}

// The rows of the chamber's readings CSV files, headers left out.
int RecordedRows(const QString &folder) {
    int rows = 0;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files))
        rows += std::max<int>(0, ReadAll(dir.filePath(name)).count('\n') - 1);
    return rows;
}

} // namespace

class tst_CliShareAudit : public QObject {
    Q_OBJECT

    std::unique_ptr<SimulatedLine> line_;
    QTemporaryDir dir_;  // the logger's --dir
    QTemporaryDir open_; // the links and the client's copy, open to every user
    QProcess logger_;
    QString userLink_, anyLink_;
    bool asRoot_ = ::geteuid() == 0;

    // kalvora-cli as another user: the build folder may be closed to others, so a copy of it in
    // a folder they may read runs.
    CliRun runAs(const char *user, const QStringList &arguments) {
        const QString client = open_.filePath(QStringLiteral("kalvora-cli"));
        if (!QFileInfo::exists(client)) {
            QFile::copy(QStringLiteral(CLI_BINARY), client);
            QFile::setPermissions(client,
                                  QFile::permissions(client) | QFile::ExeOther | QFile::ReadOther);
        }
        const passwd *entry = ::getpwnam(user);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The client's own trail is not what is tested here.
        environment.insert(QStringLiteral("KALVORA_CONFIG"),
                           open_.filePath(QStringLiteral("none")));
        // A sanitizer's suppressions file may sit in a folder the other user cannot read: the
        // client gets a copy it can.
        for (const QString &name :
             {QStringLiteral("TSAN_OPTIONS"), QStringLiteral("LSAN_OPTIONS")}) {
            QStringList options =
                environment.value(name).split(QLatin1Char(':'), Qt::SkipEmptyParts);
            for (QString &option : options) {
                if (!option.startsWith(QStringLiteral("suppressions=")))
                    continue;
                const QString copy = open_.filePath(name + QStringLiteral(".supp"));
                QFile::remove(copy);
                QFile::copy(option.mid(13), copy);
                QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ReadOther);
                option = QStringLiteral("suppressions=") + copy;
            }
            if (!options.isEmpty())
                environment.insert(name, options.join(QLatin1Char(':')));
        }
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=%1").arg(entry->pw_uid),
                                  QStringLiteral("--regid=%1").arg(entry->pw_gid),
                                  QStringLiteral("--clear-groups"), QStringLiteral("--"), client} +
                          arguments);
        CliRun run;
        if (!process.waitForFinished(kEventTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid() && open_.isValid());
        QVERIFY(QFile::setPermissions(open_.path(), QFile::permissions(open_.path()) |
                                                        QFile::ExeOther | QFile::ReadOther |
                                                        QFile::ExeGroup | QFile::ReadGroup));
        line_ = std::make_unique<SimulatedLine>(std::vector<int>{1, 2});
        userLink_ = open_.filePath(QStringLiteral("COM-user"));
        anyLink_ = open_.filePath(QStringLiteral("COM-any"));
        QStringList arguments{"log",
                              "1",
                              "--period",
                              "1",
                              "--csv",
                              "--record-every",
                              "1",
                              "--dir",
                              dir_.path(),
                              "--port",
                              line_->slavePath(),
                              "--share",
                              anyLink_};
        // Only root may give a pty to another user.
        if (asRoot_)
            arguments << QStringLiteral("--share") << userLink_ + QLatin1Char(':') + kLinkUser;
        logger_.start(QStringLiteral(CLI_BINARY), arguments);
        QVERIFY(logger_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(anyLink_).isSymLink() &&
                                     (!asRoot_ || QFileInfo(userLink_).isSymLink()),
                                 kEventTimeoutMs);
        // A row of chamber 1 is written once the logger has read it: a write's "before" is known.
        QTRY_VERIFY_WITH_TIMEOUT(RecordedRows(dir_.path()) > 0, kEventTimeoutMs);
    }

    void cleanupTestCase() {
        if (logger_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(logger_.processId()), SIGTERM);
        QVERIFY(logger_.waitForFinished(kEventTimeoutMs));
        QCOMPARE(logger_.exitCode(), 0);
    }

    void writeThroughAUsersLinkCarriesTheUser() {
        if (!asRoot_)
            QSKIP("needs root: the link is given to another user, whose client runs as that user");
        const passwd *user = ::getpwnam(kLinkUser);
        QVERIFY(user);
        const uid_t uid = user->pw_uid;
        // The link is that user's alone.
        struct stat device {};
        QCOMPARE(::stat(QFile::encodeName(userLink_).constData(), &device), 0);
        QCOMPARE(device.st_uid, uid);
        QCOMPARE(device.st_mode & 077, mode_t(0));
        const CliRun other = runAs("daemon", {"read", "1", "--port", userLink_});
        QVERIFY2(other.exitCode != 0, qPrintable(other.out));

        const CliRun run = runAs(kLinkUser, {"set-point", "1", "-20", "--port", userLink_});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QList<QJsonObject> lines;
        QTRY_VERIFY_WITH_TIMEOUT((lines = TrailLinesOf(dir_.path(), userLink_)).size() == 2,
                                 kEventTimeoutMs);
        // Before the frame: who, what in words and numbers, the frame; after it, the answer.
        const QJsonObject sending = lines[0];
        const QJsonObject who = sending.value(QStringLiteral("who")).toObject();
        QCOMPARE(who.value(QStringLiteral("user")).toString(), QString::fromLatin1(kLinkUser));
        QCOMPARE(who.value(QStringLiteral("uid")).toInteger(), qint64(uid));
        QCOMPARE(who.value(QStringLiteral("program")).toString(),
                 QStringLiteral("kalvora-cli log"));
        const QJsonObject what = sending.value(QStringLiteral("what")).toObject();
        QCOMPARE(what.value(QStringLiteral("command")).toString(), QStringLiteral("set_point"));
        QCOMPARE(what.value(QStringLiteral("values")).toObject().value("temperature_c").toInt(),
                 -20);
        QCOMPARE(what.value(QStringLiteral("frames")).toArray().first().toString(),
                 HexText(WriteRequest(1, 13, {20, 0, 2})));
        QCOMPARE(sending.value(QStringLiteral("outcome")).toString(), QStringLiteral("sending"));
        // The logger's last reading of the chamber.
        QVERIFY(sending.value(QStringLiteral("before"))
                    .toObject()
                    .contains(QStringLiteral("set_temperature")));
        const QJsonObject answer = lines[1];
        QCOMPARE(answer.value(QStringLiteral("completes")).toInteger(),
                 sending.value(QStringLiteral("seq")).toInteger());
        QCOMPARE(answer.value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        QCOMPARE(line_->holdingRegisters(1)[13], std::uint16_t(20));
    }

    void writeThroughALinkWithoutAUserIsUnknown() {
        const CliRun run = RunCli({"set-point", "1", "25", "--port", anyLink_});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QList<QJsonObject> lines;
        QTRY_VERIFY_WITH_TIMEOUT((lines = TrailLinesOf(dir_.path(), anyLink_)).size() == 2,
                                 kEventTimeoutMs);
        const QJsonObject who = lines[0].value(QStringLiteral("who")).toObject();
        QCOMPARE(who.value(QStringLiteral("user")).toString(), QStringLiteral("unknown"));
        QVERIFY(who.value(QStringLiteral("uid")).isNull());
        // Every line of the logger's trail, both links', forms one whole chain.
        QStringList files{QStringLiteral("audit"), QStringLiteral("verify")};
        const QDir dir(dir_.path());
        for (const QString &name :
             dir.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name))
            files << dir.filePath(name);
        const CliRun verify = RunCli(files);
        QVERIFY2(verify.exitCode == 0, qPrintable(verify.out + verify.err));
    }

    // A write the trail cannot record is not sent: the client hears that the path to the chamber
    // is unavailable, and the journal says why. (The month's file made a folder: even root
    // cannot append to it.)
    void writeThatLeavesNoTraceIsNotSent() {
        const QDir dir(dir_.path());
        const QStringList trails =
            dir.entryList({QStringLiteral("audit-*.jsonl")}, QDir::Files, QDir::Name);
        QVERIFY(!trails.isEmpty());
        const QString trail = dir.filePath(trails.last());
        QVERIFY(QFile::rename(trail, trail + QStringLiteral(".kept")));
        QVERIFY(dir.mkdir(trails.last()));
        const CliRun run = RunCli({"set-point", "1", "33", "--port", anyLink_});
        QVERIFY(QDir(trail).removeRecursively());
        QVERIFY(QFile::rename(trail + QStringLiteral(".kept"), trail));
        QVERIFY2(run.exitCode != 0, qPrintable(run.out));
        QVERIFY2(run.err.contains(QStringLiteral("exception 10")) ||
                     run.err.contains(QStringLiteral("gateway")),
                 qPrintable(run.err));
        QVERIFY(line_->holdingRegisters(1)[13] != 33);
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(dir.filePath(QStringLiteral("events.jsonl")))
                                     .contains("\"client_write_refused\""),
                                 kEventTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(tst_CliShareAudit)
#include "tst_CliShareAudit.moc"

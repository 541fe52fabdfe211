#include "core/Errors.h"
#include "platform/LogFile.h"

#include "FileBytes.h"

#include <QtTest>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray kRecord("    14:05:33;\xd6\xc0 23,5;\r\n\r\n");

enum class Operation { Create, Append };

void Run(Operation operation, const QString &path, const QByteArray &bytes) {
    if (operation == Operation::Create)
        CreateLogFile(path, bytes);
    else
        AppendToLogFile(path, bytes);
}

// The error message of the operation, or an empty text when it succeeded.
QString ErrorOf(Operation operation, const QString &path, const QByteArray &bytes) {
    try {
        Run(operation, path, bytes);
    } catch (const InOutError &error) {
        return error.message();
    }
    return {};
}

// Root ignores file permissions, so the operation runs in a child that gave up root; its error
// message comes back through a pipe. Without root the permissions apply to this process.
QString ErrorOfUnprivileged(Operation operation, const QString &path) {
    if (::geteuid() != 0)
        return ErrorOf(operation, path, kRecord);
    int channel[2];
    if (::pipe(channel) != 0)
        return "<no pipe>";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const gid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(2);
        const QByteArray message = ErrorOf(operation, path, kRecord).toUtf8();
        const bool sent =
            ::write(channel[1], message.constData(), message.size()) == message.size();
        ::_exit(sent ? 0 : 3);
    }
    ::close(channel[1]);
    QByteArray message;
    char chunk[256];
    ssize_t got;
    while ((got = ::read(channel[0], chunk, sizeof chunk)) > 0)
        message.append(chunk, got);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2)
        return "<could not drop privileges>";
    return QString::fromUtf8(message);
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class tst_LogFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void writesExactBytes_data();
    void writesExactBytes();

    void failingStepThrowsAndCreatesNothing_data();
    void failingStepThrowsAndCreatesNothing();

    void deniedAccessIsReported_data();
    void deniedAccessIsReported();

    void messagesOfOtherErrors_data();
    void messagesOfOtherErrors();

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_LogFile::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void tst_LogFile::writesExactBytes_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("before"); // "<missing>": no file
    QTest::addColumn<QByteArray>("after");
    const QByteArray longer(1000, 'x');
    QTest::newRow("create new file") << Operation::Create << QByteArray("<missing>") << kRecord;
    QTest::newRow("create empties a longer file") << Operation::Create << longer << kRecord;
    QTest::newRow("append adds to the end") << Operation::Append << longer << longer + kRecord;
    QTest::newRow("append to an empty file") << Operation::Append << QByteArray() << kRecord;
}

void tst_LogFile::writesExactBytes() {
    QFETCH(Operation, operation);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QString path = dir_->filePath(QStringLiteral("ЖЫМ№3 09.12.2017 14_05_33.txt"));
    if (before != "<missing>")
        QVERIFY(WriteFile(path, before));
    Run(operation, path, kRecord);
    QCOMPARE(ReadAll(path), after);
}

void tst_LogFile::failingStepThrowsAndCreatesNothing_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    const QString notFound = "The specified file was not found";
    const QString badName = "The filename, directory name, or volume label syntax is incorrect";
    QTest::newRow("append to missing file") << Operation::Append << "log.txt" << notFound;
    QTest::newRow("create in missing folder") << Operation::Create << "none/log.txt" << notFound;
    QTest::newRow("create with unplaced number")
        << Operation::Create << "ЖЫМ№> 12_09_17 14_05_33.txt" << badName;
    QTest::newRow("append with unplaced number")
        << Operation::Append << "ЖЫМ№> 12_09_17 14_05_33.txt" << badName;
    QTest::newRow("create on a full disk") << Operation::Create << "full"
                                           << "Disk full";
    QTest::newRow("append on a full disk") << Operation::Append << "full"
                                           << "Disk full";
    QTest::newRow("create over a folder") << Operation::Create << "folder"
                                          << "I/O error 21";
}

void tst_LogFile::failingStepThrowsAndCreatesNothing() {
    QFETCH(Operation, operation);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QVERIFY(QFile::link("/dev/full", dir_->filePath("full")));
    QVERIFY(QDir(dir_->path()).mkdir("folder"));
    const QStringList entriesBefore = QDir(dir_->path()).entryList(QDir::AllEntries | QDir::System);

    QCOMPARE(ErrorOf(operation, dir_->filePath(name), kRecord), message);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::System), entriesBefore);
}

void tst_LogFile::deniedAccessIsReported_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("name");
    QTest::newRow("create in a read-only folder") << Operation::Create << "new.txt";
    QTest::newRow("append to a read-only file") << Operation::Append << "existing.txt";
}

void tst_LogFile::deniedAccessIsReported() {
    QFETCH(Operation, operation);
    QFETCH(QString, name);
    const QString existing = dir_->filePath("existing.txt");
    QVERIFY(WriteFile(existing, "header\r\n"));
    QCOMPARE(::chmod(QFile::encodeName(existing).constData(), 0444), 0);
    QCOMPARE(::chmod(QFile::encodeName(dir_->path()).constData(), 0555), 0);

    const QString message = ErrorOfUnprivileged(operation, dir_->filePath(name));
    ::chmod(QFile::encodeName(dir_->path()).constData(), 0755);
    if (message == "<could not drop privileges>")
        QSKIP("cannot run as an unprivileged user here");
    QCOMPARE(message, QString("File access denied"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"existing.txt"});
    QCOMPARE(ReadAll(existing), QByteArray("header\r\n"));
}

void tst_LogFile::messagesOfOtherErrors_data() {
    QTest::addColumn<int>("errorNumber");
    QTest::addColumn<QString>("message");
    QTest::newRow("EPERM") << EPERM << "File access denied";
    QTest::newRow("EROFS") << EROFS << "File access denied";
    QTest::newRow("EDQUOT") << EDQUOT << "Disk full";
    QTest::newRow("EIO") << EIO << "I/O error 5";
}

void tst_LogFile::messagesOfOtherErrors() {
    QFETCH(int, errorNumber);
    QFETCH(QString, message);
    QCOMPARE(InOutErrorMessage(errorNumber), message);
}

QTEST_GUILESS_MAIN(tst_LogFile)
#include "tst_LogFile.moc"

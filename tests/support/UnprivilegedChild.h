#pragma once
// Runs one test function (or one row of it, "function:row") of the current test program again
// in a child process: as the unprivileged user 65534, since root ignores file permissions, or as
// the same user for cases that change the whole process (resource limits, signal handling).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

struct ChildResult {
    bool passed = false; // exited normally with 0 and reported the function as passed
    QByteArray output;
};

enum class ChildUser { Same, Nobody };

constexpr uid_t kNobody = 65534;

inline ChildResult RunTestFunctionInChild(const QString &testFunction, const QString &envName,
                                          const QString &envValue, ChildUser user) {
    ChildResult result;
    // The checkout, the build and root's home may lie in folders that user 65534 may not enter
    // (setpriv starts the program before it drops its rights): the child gets a home, a runtime
    // folder and a working folder of its own, and nothing it does depends on where we are.
    QTemporaryDir home(QDir::temp().filePath(QStringLiteral("kalvora-child-XXXXXX")));
    if (!home.isValid()) {
        result.output = "cannot make the child's home folder: " + home.errorString().toLocal8Bit();
        return result;
    }
    if (user == ChildUser::Nobody &&
        ::chown(QFile::encodeName(home.path()).constData(), kNobody, kNobody) != 0) {
        result.output = "cannot give the child's home folder to user 65534";
        return result;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(envName, envValue);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    // A sanitizer build's suppressions lie in the checkout, which user 65534 may not read: the
    // child reads copies in its own home.
    if (user == ChildUser::Nobody)
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            QString options = env.value(QLatin1String(name));
            static const QRegularExpression suppressions(QStringLiteral("suppressions=([^:]+)"));
            const QRegularExpressionMatch match = suppressions.match(options);
            if (!match.hasMatch())
                continue;
            const QString copy = home.filePath(QLatin1String(name) + QStringLiteral(".supp"));
            if (!QFile::copy(match.captured(1), copy)) {
                result.output = "cannot copy " + match.captured(1).toLocal8Bit();
                return result;
            }
            QFile(copy).setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            options.replace(match.capturedStart(1), match.capturedLength(1), copy);
            env.insert(QLatin1String(name), options);
        }
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home.path());
    if (user == ChildUser::Nobody)
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=%1").arg(kNobody),
                     QStringLiteral("--regid=%1").arg(kNobody), QStringLiteral("--clear-groups"),
                     QCoreApplication::applicationFilePath(), testFunction});
    else
        child.start(QCoreApplication::applicationFilePath(), {testFunction});
    if (!child.waitForFinished(60000))
        return result;
    result.output = child.readAllStandardOutput() + child.readAllStandardError();
    // "function:row" is reported as "::function(row)".
    const qsizetype colon = testFunction.indexOf(QLatin1Char(':'));
    const QByteArray passLine =
        "::" + (colon < 0 ? testFunction + QStringLiteral("()")
                          : testFunction.left(colon) + QLatin1Char('(') +
                                testFunction.mid(colon + 1) + QLatin1Char(')'))
                   .toUtf8();
    bool reported = false;
    for (const QByteArray &line : result.output.split('\n'))
        reported = reported || (line.startsWith("PASS") && line.trimmed().endsWith(passLine));
    result.passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 && reported;
    return result;
}

inline ChildResult RunTestFunctionAsNobody(const QString &testFunction, const QString &envName,
                                           const QString &envValue) {
    return RunTestFunctionInChild(testFunction, envName, envValue, ChildUser::Nobody);
}

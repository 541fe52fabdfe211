#pragma once
// Runs one test function (or one row of it, "function:row") of the current test program again
// in a child process: as the unprivileged user 65534, since root ignores file permissions, or as
// the same user for cases that change the whole process (resource limits, signal handling).
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

struct ChildResult {
    bool passed = false; // exited normally with 0 and reported the function as passed
    QByteArray output;
};

enum class ChildUser { Same, Nobody };

inline ChildResult RunTestFunctionInChild(const QString &testFunction, const QString &envName,
                                          const QString &envValue, ChildUser user) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(envName, envValue);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir::tempPath());
    child.setProcessEnvironment(env);
    if (user == ChildUser::Nobody)
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                     QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                     testFunction});
    else
        child.start(QCoreApplication::applicationFilePath(), {testFunction});
    ChildResult result;
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

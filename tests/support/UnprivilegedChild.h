#pragma once
// Root ignores file permissions, so cases about refused access run one test function of the
// current test program again as the unprivileged user 65534.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

struct ChildResult {
    bool passed = false;  // exited normally with 0 and reported the function as passed
    QByteArray output;
};

inline ChildResult RunTestFunctionAsNobody(const QString &testFunction, const QString &envName,
                                           const QString &envValue) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(envName, envValue);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QDir::tempPath());
    child.setProcessEnvironment(env);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                 testFunction});
    ChildResult result;
    if (!child.waitForFinished(30000))
        return result;
    result.output = child.readAllStandardOutput() + child.readAllStandardError();
    const QByteArray passLine = "::" + testFunction.toLatin1() + "()";
    bool reported = false;
    for (const QByteArray &line : result.output.split('\n'))
        reported = reported || (line.startsWith("PASS") && line.trimmed().endsWith(passLine));
    result.passed = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 && reported;
    return result;
}

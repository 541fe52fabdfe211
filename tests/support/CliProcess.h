#pragma once
// Runs build/kalvora-cli as a real process, as a user or a script meets it.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

inline CliRun RunCli(const QStringList &arguments, int timeoutMs = 60000) {
    QProcess process;
    process.start(QStringLiteral(CLI_BINARY), arguments);
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Ends a child on every way out of a test: asked first, killed if it will not go.
struct StopOnExit {
    QProcess &process;
    ~StopOnExit() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(15000)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

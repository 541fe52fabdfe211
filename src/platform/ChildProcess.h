#pragma once
// A program run to its end, without a shell: its outcome, or why it has none. The logger's hooks
// run this way. A child reaped by someone else (a process that inherited SIGCHLD ignored gets
// its children reaped by the kernel) leaves its outcome unknown, and that is reported as such,
// never as a success.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <vector>

struct ChildOutcome {
    enum class End {
        Exited,        // code holds the exit status
        Signalled,     // code holds the signal
        TimedOut,      // killed, with its process group, at the time limit
        Stopped,       // killed, with its process group, because *stop was set
        CannotStart,   // error says why
        Unknown,       // it ran, but its end could not be learnt: error says why
    };
    End end = End::Unknown;
    int code = 0;
    QString error;

    bool succeeded() const { return end == End::Exited && code == 0; }
};

struct ChildRequest {
    QStringList command;              // program (searched in PATH) and arguments
    std::vector<QByteArray> environment; // "NAME=value", the whole environment
    std::chrono::milliseconds timeLimit{30000};
};

// Runs the command in a process group of its own with SIGINT, SIGTERM, SIGPIPE and SIGHUP at
// their defaults and no signal blocked, standard input from /dev/null, standard output onto
// standard error, and no other descriptor inherited. Waits for its end, at most timeLimit; when
// *stop is set the child's group is killed within a fraction of a second.
ChildOutcome RunChild(const ChildRequest &request, const std::atomic<bool> *stop = nullptr);

// The environment of this process, "NAME=value" each.
std::vector<QByteArray> CurrentEnvironment();

// SIGCHLD back to its default disposition: a program that runs children and waits for them
// must not inherit it ignored (the kernel would reap them, and their outcome would be lost).
void RestoreChildSignal();

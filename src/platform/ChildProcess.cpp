#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStopCheck{100};

bool Stopped(const std::atomic<bool> *stop) { return stop && stop->load(); }

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

enum class Wait { Ended, Late, Lost };

// Waits for the child's end, at most until the deadline or a stop. Lost: the child cannot be
// waited for (errno's reason in lostError).
Wait WaitForChild(pid_t pid, int pidfd, Clock::time_point deadline, const std::atomic<bool> *stop,
                  int &status, int &lostError) {
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return Wait::Ended;
        if (done < 0 && errno != EINTR) {
            lostError = errno;
            return Wait::Lost;
        }
        const auto now = Clock::now();
        if (now >= deadline || Stopped(stop))
            return Wait::Late;
        const auto slice =
            std::min<milliseconds>(kStopCheck, std::chrono::ceil<milliseconds>(deadline - now));
        if (pidfd >= 0) {
            pollfd watched{pidfd, POLLIN, 0};
            ::poll(&watched, 1, static_cast<int>(slice.count()));
        } else {
            std::this_thread::sleep_for(std::min<milliseconds>(slice, milliseconds(20)));
        }
    }
}

} // namespace

std::vector<QByteArray> CurrentEnvironment() {
    std::vector<QByteArray> environment;
    for (char **e = environ; *e; ++e)
        environment.emplace_back(*e);
    return environment;
}

void RestoreChildSignal() { std::signal(SIGCHLD, SIG_DFL); }

ChildOutcome RunChild(const ChildRequest &request, const std::atomic<bool> *stop) {
    ChildOutcome outcome;
    if (request.command.isEmpty()) {
        outcome.end = ChildOutcome::End::CannotStart;
        outcome.error = QStringLiteral("no command");
        return outcome;
    }
    std::vector<QByteArray> args;
    for (const QString &a : request.command)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> env = request.environment;
    std::vector<char *> envp;
    for (QByteArray &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // The caller may block SIGINT and SIGTERM and ignore SIGPIPE: the child starts with neither.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // A group of its own, so that a time-out ends whatever the child started as well.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    pid_t pid = -1;
    const int failed =
        ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        outcome.end = ChildOutcome::End::CannotStart;
        outcome.error = ErrorText(failed);
        return outcome;
    }

    // glibc's pidfd_open wrapper lacks C linkage in C++; the system call is the same.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    int lostError = 0;
    const Wait wait =
        WaitForChild(pid, pidfd, Clock::now() + request.timeLimit, stop, status, lostError);
    if (wait == Wait::Late) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (pidfd >= 0)
        ::close(pidfd);
    switch (wait) {
    case Wait::Late:
        outcome.end = Stopped(stop) ? ChildOutcome::End::Stopped : ChildOutcome::End::TimedOut;
        break;
    case Wait::Lost:
        outcome.end = ChildOutcome::End::Unknown;
        outcome.error = QStringLiteral("its end could not be waited for (%1)")
                            .arg(lostError == ECHILD ? QStringLiteral("reaped elsewhere")
                                                     : ErrorText(lostError));
        break;
    case Wait::Ended:
        if (WIFEXITED(status)) {
            outcome.end = ChildOutcome::End::Exited;
            outcome.code = WEXITSTATUS(status);
        } else {
            outcome.end = ChildOutcome::End::Signalled;
            outcome.code = WTERMSIG(status);
        }
        break;
    }
    return outcome;
}

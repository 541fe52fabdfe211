// `kalvora-cli log` as a notifying service: the test's own datagram socket is its NOTIFY_SOCKET,
// as the service manager's would be.
#include "CliProcess.h"
#include "SimulatedLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "TimingSlack.h"

using namespace std::chrono_literals;

namespace {

class ManagerSocket {
public:
    explicit ManagerSocket(const QString &path) : path_(QFile::encodeName(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.constData(), sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("cannot bind %s", path_.constData());
    }
    ~ManagerSocket() { ::close(fd_); }
    QByteArray path() const { return path_; }
    QByteArray next() const {
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, kEventTimeoutMs) != 1)
            return "<none>";
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? QByteArray("<error>") : QByteArray(buffer, n);
    }

private:
    QByteArray path_;
    int fd_ = -1;
};

struct Stopper {
    QProcess &process;
    ~Stopper() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.kill();
        process.waitForFinished();
    }
};

// Starts the logger on one chamber as the service manager would, with its watchdog interval.
void StartLogger(QProcess &cli, const ManagerSocket &manager, const QString &watchdogUsec,
                 const QString &period, const QString &dir, const QString &port) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(manager.path()));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), watchdogUsec);
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(CLI_BINARY),
              {"log", "1", "--period", period, "--timeout", "100", "--dir", dir, "--port", port});
}

} // namespace

class tst_CliService : public QObject {
    Q_OBJECT
private slots:
    void readyThenWatchdogEveryRoundThenStopping();
    void longPeriodsStillFeedTheWatchdog();
};

void tst_CliService::readyThenWatchdogEveryRoundThenStopping() {
    SimulatedLine line({1});
    QTemporaryDir dir;
    const ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    const QString logs = dir.filePath(QStringLiteral("logs"));
    QVERIFY(QDir().mkdir(logs));
    QProcess cli;
    Stopper stop{cli};
    StartLogger(cli, manager, QStringLiteral("60000000"), QStringLiteral("1"), logs,
                line.slavePath());
    QVERIFY(cli.waitForStarted());

    QCOMPARE(manager.next(), QByteArray("READY=1"));
    // Ready means its files exist.
    QCOMPARE(QDir(logs).entryList({"*.txt"}, QDir::Files).size(), 1);
    for (int round = 1; round <= 3; ++round) {
        QCOMPARE(manager.next(), QByteArray("WATCHDOG=1"));
        QVERIFY(line.received().size() >= static_cast<std::size_t>(round));
    }

    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QByteArray last;
    do
        last = manager.next();
    while (last == "WATCHDOG=1");
    QCOMPARE(last, QByteArray("STOPPING=1"));
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 0);
}

// With a period longer than the watchdog interval, the waits between rounds ping as well.
void tst_CliService::longPeriodsStillFeedTheWatchdog() {
    SimulatedLine line({1});
    QTemporaryDir dir;
    const ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    QProcess cli;
    Stopper stop{cli};
    StartLogger(cli, manager, QStringLiteral("1000000"), QStringLiteral("60"), dir.path(),
                line.slavePath());
    QVERIFY(cli.waitForStarted());
    QCOMPARE(manager.next(), QByteArray("READY=1"));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(manager.next(), QByteArray("WATCHDOG=1"));
    QCOMPARE(line.received().size(), std::size_t(1)); // one round so far
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_CliService)
#include "tst_CliService.moc"

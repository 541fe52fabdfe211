// Service manager notifications received on a datagram socket of the test's own, named by path
// or in the abstract namespace, as NOTIFY_SOCKET names them.
#include "platform/ServiceNotifier.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstddef>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "TimingSlack.h"

using namespace std::chrono_literals;

namespace {

// The manager's end: a datagram socket bound to `name` ("/path" or "@abstract").
class Listener {
public:
    explicit Listener(const QByteArray &name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), name.size());
        socklen_t length = offsetof(sockaddr_un, sun_path) + name.size();
        if (name.startsWith('@'))
            address.sun_path[0] = '\0';
        else
            ++length;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), length) != 0)
            qFatal("cannot bind %s", name.constData());
    }
    ~Listener() { ::close(fd_); }
    // The next datagram, or "<none>" after the time-out.
    QByteArray next(std::chrono::milliseconds timeout = kEventTimeout) const {
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(timeout.count())) != 1)
            return "<none>";
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? QByteArray("<error>") : QByteArray(buffer, n);
    }

private:
    int fd_ = -1;
};

QByteArray Pid() { return QByteArray::number(::getpid()); }

} // namespace

class tst_ServiceNotifier : public QObject {
    Q_OBJECT
private slots:
    void sendsToTheNamedSocket_data();
    void sendsToTheNamedSocket();
    void doesNothingWithoutAUsableSocket_data();
    void doesNothingWithoutAUsableSocket();
    void neverBlocks();
    void readsTheWatchdogInterval_data();
    void readsTheWatchdogInterval();
    void readsThisProcessEnvironment();
};

void tst_ServiceNotifier::sendsToTheNamedSocket_data() {
    QTest::addColumn<bool>("abstract");
    QTest::newRow("path") << false;
    QTest::newRow("abstract") << true;
}

void tst_ServiceNotifier::sendsToTheNamedSocket() {
    QFETCH(bool, abstract);
    QTemporaryDir dir;
    const QByteArray name = abstract ? "@kalvora-notify-test-" + Pid()
                                     : QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const Listener manager(name);
    const ServiceNotifier notifier(name, {}, {});
    QVERIFY(notifier.active());
    QVERIFY(notifier.ready());
    QCOMPARE(manager.next(), QByteArray("READY=1"));
    QVERIFY(notifier.watchdog());
    QVERIFY(notifier.watchdog());
    QCOMPARE(manager.next(), QByteArray("WATCHDOG=1"));
    QCOMPARE(manager.next(), QByteArray("WATCHDOG=1"));
    QVERIFY(notifier.send("STATUS=3 chambers\nREADY=1"));
    QCOMPARE(manager.next(), QByteArray("STATUS=3 chambers\nREADY=1"));
    QVERIFY(notifier.stopping());
    QCOMPARE(manager.next(), QByteArray("STOPPING=1"));
}

void tst_ServiceNotifier::doesNothingWithoutAUsableSocket_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("active");
    QTest::newRow("unset") << QByteArray() << false;
    QTest::newRow("relative path") << QByteArray("notify") << false;
    QTest::newRow("socket of another kind") << QByteArray("vsock:2:1234") << false;
    QTest::newRow("path longer than a socket name") << "/tmp/" + QByteArray(200, 'x') << false;
    QTest::newRow("nobody listens") << QByteArray("/nonexistent/notify") << true;
}

void tst_ServiceNotifier::doesNothingWithoutAUsableSocket() {
    QFETCH(QByteArray, name);
    QFETCH(bool, active);
    const ServiceNotifier notifier(name, {}, {});
    QCOMPARE(notifier.active(), active);
    QVERIFY(!notifier.ready());
    QVERIFY(!notifier.watchdog());
    QVERIFY(!notifier.stopping());
}

// A manager that does not read must not stop the logger: once its queue is full, messages are
// dropped instead of waited on.
void tst_ServiceNotifier::neverBlocks() {
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const Listener manager(name);
    const ServiceNotifier notifier(name, {}, {});
    int dropped = 0;
    for (int i = 0; i < 100000 && dropped < 10; ++i)
        dropped += notifier.watchdog() ? 0 : 1;
    QCOMPARE(dropped, 10);
    QCOMPARE(manager.next(), QByteArray("WATCHDOG=1"));
}

void tst_ServiceNotifier::readsTheWatchdogInterval_data() {
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<qint64>("expected"); // microseconds; 0: no watchdog
    QTest::newRow("60 s") << QByteArray("60000000") << QByteArray() << qint64(60000000);
    QTest::newRow("for this process") << QByteArray("1000") << Pid() << qint64(1000);
    QTest::newRow("for another process") << QByteArray("1000") << QByteArray("1") << qint64(0);
    QTest::newRow("unset") << QByteArray() << QByteArray() << qint64(0);
    QTest::newRow("zero") << QByteArray("0") << QByteArray() << qint64(0);
    QTest::newRow("negative") << QByteArray("-5") << QByteArray() << qint64(0);
    QTest::newRow("not a number") << QByteArray("60s") << QByteArray() << qint64(0);
}

void tst_ServiceNotifier::readsTheWatchdogInterval() {
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(qint64, expected);
    const ServiceNotifier notifier("/run/notify", usec, pid);
    QCOMPARE(notifier.watchdogInterval().value_or(0us).count(), expected);
}

void tst_ServiceNotifier::readsThisProcessEnvironment() {
    QTemporaryDir dir;
    const QByteArray name = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const Listener manager(name);
    qputenv("NOTIFY_SOCKET", name);
    qputenv("WATCHDOG_USEC", "30000000");
    qputenv("WATCHDOG_PID", Pid());
    const ServiceNotifier notifier;
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("WATCHDOG_PID");
    QCOMPARE(notifier.watchdogInterval().value_or(0us), 30s);
    QVERIFY(notifier.ready());
    QCOMPARE(manager.next(), QByteArray("READY=1"));
}

QTEST_GUILESS_MAIN(tst_ServiceNotifier)
#include "tst_ServiceNotifier.moc"

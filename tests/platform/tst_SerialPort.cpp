#include "PtyPair.h"
#include "platform/SerialPort.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "TimingSlack.h"

using namespace std::chrono_literals;

namespace {

QByteArray Snapshot(const SerialPort &port, int count = 256) {
    const ReceiveBuffer bytes = port.receivedSnapshot();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), count);
}

QByteArray Padded(const QByteArray &bytes) { return bytes + QByteArray(256 - bytes.size(), 0); }

std::vector<std::uint8_t> Bytes(const QByteArray &bytes) { return {bytes.begin(), bytes.end()}; }

QByteArray Pattern(int count, int first = 1) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>(first + i));
    return bytes;
}

// Terminal control bytes that a cooked or flow-controlled line would swallow or translate.
const QByteArray kControlBytes =
    QByteArray::fromHex("04 0a 0d 11 13 03 1a 1c 7f ff 00 15 12 17 16 0f");

// A fresh pty starts like a terminal: line editing, echo, translations, flow control.
void MakeCooked(const PtyPair &pty) {
    const int fd = ::open(QFile::encodeName(pty.slavePath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios tio{};
    QCOMPARE(::tcgetattr(fd, &tio), 0);
    tio.c_iflag |= ICRNL | IXON | IXOFF | PARMRK;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    tio.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    ::cfsetspeed(&tio, B9600);
    QCOMPARE(::tcsetattr(fd, TCSANOW, &tio), 0);
    ::close(fd);
}

int QueuedInput(int fd) {
    int count = -1;
    ::ioctl(fd, FIONREAD, &count);
    return count;
}

int DescriptorsOpenOn(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    for (const QFileInfo &link : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files))
        count += link.symLinkTarget() == target ? 1 : 0;
    return count;
}

QStringList ThreadIds() {
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

int ThreadCount() { return ThreadIds().size(); }

// Where the receive thread waits, as /proc shows its system call: the idle wait polls the port
// and the stop event without a time limit; the wait for silence and the pause after a hang-up
// poll the stop event alone, for kSilenceMs and for longer.
enum class ReceiverWait { Other, Idle, Silence, Pause };

ReceiverWait WaitOf(const QString &threadId) {
#ifdef SYS_poll
    QFile call(QStringLiteral("/proc/self/task/%1/syscall").arg(threadId));
    if (!call.open(QIODevice::ReadOnly))
        return ReceiverWait::Other;
    const QList<QByteArray> fields = call.readAll().simplified().split(' ');
    if (fields.size() < 4 || fields[0].toInt() != SYS_poll)
        return ReceiverWait::Other;
    const qulonglong descriptors = fields[2].toULongLong(nullptr, 0);
    const int timeoutMs = static_cast<int>(fields[3].toULongLong(nullptr, 0) & 0xFFFFFFFF);
    if (descriptors == 2 && timeoutMs < 0)
        return ReceiverWait::Idle;
    if (descriptors == 1)
        return timeoutMs == SerialPort::kSilenceMs ? ReceiverWait::Silence : ReceiverWait::Pause;
#else
    Q_UNUSED(threadId)
#endif
    return ReceiverWait::Other;
}

// Waits until the thread rests in its idle wait or in the pause.
ReceiverWait SettledWaitOf(const QString &threadId) {
    QDeadlineTimer deadline(kEventTimeout);
    while (!deadline.hasExpired()) {
        const ReceiverWait wait = WaitOf(threadId);
        if (wait == ReceiverWait::Idle || wait == ReceiverWait::Pause)
            return wait;
        std::this_thread::sleep_for(1ms);
    }
    return ReceiverWait::Other;
}

// The gaps are at least `gap`; a busy machine may make them longer, which changes nothing,
// since the pieces of one exchange are stored one after the other however far apart.
void SendInPieces(PtyPair &pty, const QByteArray &bytes, int pieceSize,
                  std::chrono::microseconds gap) {
    for (int at = 0; at < bytes.size(); at += pieceSize) {
        if (at > 0)
            std::this_thread::sleep_for(gap);
        pty.writeMaster(Bytes(bytes.mid(at, pieceSize)));
    }
}

} // namespace

class tst_SerialPort : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensRawLineAt57600();
    void holdsThePortExclusively();

    void writeSendsFrameUnchanged_data();
    void writeSendsFrameUnchanged();
    void stalledLineFailsTheWrite();
    void writeWithoutPortFails();

    void receivesReplyWhole_data();
    void receivesReplyWhole();
    void appendsReadsUntilCleared_data();
    void appendsReadsUntilCleared();
    void keepsAtMost256BytesAnExchange();
    void purgeInputDiscardsQueuedBytes();
    void openingDiscardsStaleInput();

    void failedOpeningLeavesNoPort_data();
    void failedOpeningLeavesNoPort();
    void closingWithoutPortKeepsStandardInput();
    void reopeningReplacesPortAndThread();

    void receiverWaitsWithoutSpinning_data();
    void receiverWaitsWithoutSpinning();
    void receiverPausesOnlyAfterAHangUp_data();
    void receiverPausesOnlyAfterAHangUp();

private:
    void openCookedPort();

    std::unique_ptr<PtyPair> pty_;
    std::unique_ptr<SerialPort> port_;
};

void tst_SerialPort::init() {
    pty_ = std::make_unique<PtyPair>();
    port_ = std::make_unique<SerialPort>();
}

void tst_SerialPort::cleanup() {
    port_.reset();
    pty_.reset();
}

void tst_SerialPort::openCookedPort() {
    MakeCooked(*pty_);
    QString reason;
    QVERIFY2(port_->open(pty_->slavePath(), &reason), qPrintable(reason));
}

void tst_SerialPort::opensRawLineAt57600() {
    openCookedPort();
    termios tio{};
    QCOMPARE(::tcgetattr(port_->handle(), &tio), 0);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B57600));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | PARMRK), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(int(tio.c_cc[VMIN]), 0);
    QCOMPARE(int(tio.c_cc[VTIME]), 0);
}

void tst_SerialPort::holdsThePortExclusively() {
    openCookedPort();
    // Another master of ours is refused, root or not (the window and the command-line tool).
    SerialPort second;
    QString busy;
    int busyError = 0;
    QVERIFY(!second.open(pty_->slavePath(), &busy, &busyError));
    QCOMPARE(busyError, EBUSY);
    QCOMPARE(busy, QString::fromLocal8Bit(std::strerror(EBUSY)));
    const QByteArray path = QFile::encodeName(pty_->slavePath());
    const int other = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (::geteuid() == 0) {
        // Root may open an exclusive terminal all the same; it can still see the flag.
        QVERIFY(other >= 0);
        int exclusive = 0;
        QCOMPARE(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
        port_->close();
        QCOMPARE(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
        ::close(other);
    } else {
        QCOMPARE(other, -1);
        QCOMPARE(errno, EBUSY);
        port_->close();
    }
    QString reason;
    QVERIFY2(port_->open(pty_->slavePath(), &reason), qPrintable(reason));
}

void tst_SerialPort::writeSendsFrameUnchanged_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read request") << QByteArray::fromHex("01 04 00 00 00 0f b0 0e");
    QTest::newRow("terminal control bytes") << kControlBytes;
    QTest::newRow("program frame of 35 bytes") << Pattern(35, 0xF0);
}

void tst_SerialPort::writeSendsFrameUnchanged() {
    QFETCH(QByteArray, frame);
    openCookedPort();
    port_->clearErrors();
    QVERIFY(port_->write(reinterpret_cast<const std::uint8_t *>(frame.constData()), frame.size()));
    QCOMPARE(port_->statistics().framesWritten, 1);
    const auto sent = pty_->readMaster(frame.size(), kEventTimeout);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(sent.data()), sent.size()), frame);
    QVERIFY(pty_->readMaster(1, 50ms).empty());
}

// Nobody reads the other end: the write gives up (a hang here ends the test by its time-out)
// and says so, instead of freezing the window or passing for a sent frame.
void tst_SerialPort::stalledLineFailsTheWrite() {
    openCookedPort();
    const std::vector<std::uint8_t> flood(1 << 20, 0x55); // far more than a pty buffers
    QVERIFY(!port_->write(flood.data(), flood.size()));
    QCOMPARE(errno, ETIMEDOUT);
    QCOMPARE(port_->statistics().failedWrites, 1);
    QCOMPARE(port_->statistics().framesWritten, 0);
}

void tst_SerialPort::writeWithoutPortFails() {
    QVERIFY(!port_->write(reinterpret_cast<const std::uint8_t *>("\x01\x04"), 2));
    QCOMPARE(errno, EBADF);
}

void tst_SerialPort::receivesReplyWhole_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("gapMicroseconds");
    const QByteArray reply35 = kControlBytes + Pattern(19, 0x80);
    QTest::newRow("in one piece") << reply35 << 35 << 0;
    QTest::newRow("byte by byte at line speed") << reply35 << 1 << 174;
    QTest::newRow("three pieces from an adapter") << reply35 << 12 << 1000;
    QTest::newRow("two pieces, a USB latency timer apart") << reply35 << 10 << 16000;
    QTest::newRow("two pieces, 60 ms apart") << reply35 << 10 << 60000;
}

void tst_SerialPort::receivesReplyWhole() {
    QFETCH(QByteArray, reply);
    QFETCH(int, pieceSize);
    QFETCH(int, gapMicroseconds);
    openCookedPort();
    port_->startReceiver();
    port_->clearReceived();
    SendInPieces(*pty_, reply, pieceSize, std::chrono::microseconds(gapMicroseconds));
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_), Padded(reply), kEventTimeoutMs);
    QVERIFY(pty_->readMaster(1, 20ms).empty()); // no echo
}

void tst_SerialPort::appendsReadsUntilCleared_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("clearBetween");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray ten(10, '\xAA');
    const QByteArray forty(40, '\xBB');
    const QByteArray five = Pattern(5);
    QTest::newRow("ten then 25 bytes") << ten << false << Pattern(25) << Padded(ten + Pattern(25));
    QTest::newRow("five after clearing") << forty << true << five << Padded(five);
    QTest::newRow("five after a longer read") << forty << false << five << Padded(forty + five);
}

void tst_SerialPort::appendsReadsUntilCleared() {
    QFETCH(QByteArray, first);
    QFETCH(bool, clearBetween);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, expected);
    openCookedPort();
    port_->startReceiver();
    pty_->writeMaster(Bytes(first));
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_, first.size()), first, kEventTimeoutMs);
    std::this_thread::sleep_for(50ms);
    if (clearBetween)
        port_->clearReceived();
    pty_->writeMaster(Bytes(second));
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_), expected, kEventTimeoutMs);
}

// What comes after the 256th byte of one exchange is dropped; the next exchange starts afresh.
void tst_SerialPort::keepsAtMost256BytesAnExchange() {
    openCookedPort();
    const QByteArray waiting = QByteArray(256, '\x11') + Pattern(44, 0x20);
    pty_->writeMaster(Bytes(waiting));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 300, kEventTimeoutMs);
    port_->startReceiver();
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 0, kEventTimeoutMs);
    std::this_thread::sleep_for(50ms);
    QCOMPARE(Snapshot(*port_), QByteArray(256, '\x11'));
    port_->clearReceived();
    pty_->writeMaster({0x05, 0x04});
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_), Padded("\x05\x04"), kEventTimeoutMs);
}

void tst_SerialPort::purgeInputDiscardsQueuedBytes() {
    openCookedPort();
    pty_->writeMaster(Bytes(Pattern(20)));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 20, kEventTimeoutMs);
    port_->purgeOutput();
    port_->purgeInput();
    QCOMPARE(QueuedInput(port_->handle()), 0);
    port_->startReceiver();
    std::this_thread::sleep_for(100ms);
    QCOMPARE(Snapshot(*port_), Padded({}));
    pty_->writeMaster({0x07, 0x04});
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_, 2), QByteArray("\x07\x04"), kEventTimeoutMs);
}

void tst_SerialPort::openingDiscardsStaleInput() {
    const int observer =
        ::open(QFile::encodeName(pty_->slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(observer >= 0);
    pty_->writeMaster(Bytes(Pattern(20)));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(observer), 20, kEventTimeoutMs);
    ::close(observer);
    QVERIFY(port_->open(pty_->slavePath(), nullptr));
    QCOMPARE(QueuedInput(port_->handle()), 0);
}

void tst_SerialPort::failedOpeningLeavesNoPort_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing device")
        << "/dev/kalvora-no-such-port" << QString::fromLocal8Bit(std::strerror(ENOENT));
    QTest::newRow("not a terminal") << "/dev/null" << QString::fromLocal8Bit(std::strerror(ENOTTY));
}

void tst_SerialPort::failedOpeningLeavesNoPort() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    const int descriptorsBefore = DescriptorsOpenOn(path);
    const int threadsBefore = ThreadCount();
    QString got;
    QVERIFY(!port_->open(path, &got));
    QCOMPARE(got, reason);
    QVERIFY(!port_->isOpen());
    QCOMPARE(port_->handle(), -1);
    QCOMPARE(DescriptorsOpenOn(path), descriptorsBefore);
    port_->startReceiver();
    QCOMPARE(ThreadCount(), threadsBefore);
}

void tst_SerialPort::closingWithoutPortKeepsStandardInput() {
    if (::fcntl(0, F_GETFD) < 0)
        QCOMPARE(::open("/dev/null", O_RDONLY), 0);
    port_->close();
    QVERIFY(port_->open(pty_->slavePath(), nullptr));
    QVERIFY(!port_->open("/dev/kalvora-no-such-port", nullptr));
    QCOMPARE(DescriptorsOpenOn(pty_->slavePath()), 1); // the pty's own keeper
    port_->close();
    port_.reset();
    QVERIFY(::fcntl(0, F_GETFD) >= 0);
}

void tst_SerialPort::reopeningReplacesPortAndThread() {
    PtyPair second;
    const int threadsBefore = ThreadCount();
    openCookedPort();
    port_->startReceiver();
    QCOMPARE(ThreadCount(), threadsBefore + 1);

    QString reason;
    QVERIFY2(port_->open(second.slavePath(), &reason), qPrintable(reason));
    QCOMPARE(ThreadCount(), threadsBefore);
    QCOMPARE(DescriptorsOpenOn(pty_->slavePath()), 1); // the pty's own keeper
    port_->startReceiver();
    QCOMPARE(ThreadCount(), threadsBefore + 1);

    pty_->writeMaster({0xAA, 0xAA, 0xAA});
    std::this_thread::sleep_for(100ms);
    QCOMPARE(Snapshot(*port_), Padded({}));
    second.writeMaster({0x05, 0x04});
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_), Padded("\x05\x04"), kEventTimeoutMs);
}

void tst_SerialPort::receiverWaitsWithoutSpinning_data() {
    QTest::addColumn<bool>("hangUp");
    QTest::addColumn<int>("maxCpuMs"); // in one second
    QTest::newRow("idle line") << false << 5;
    // After a hang-up the thread looks again a few times a second.
    QTest::newRow("hung-up line") << true << 20;
}

// CPU time, not wall-clock time: a busy machine delays the thread but adds none.
void tst_SerialPort::receiverWaitsWithoutSpinning() {
    QFETCH(bool, hangUp);
    QFETCH(int, maxCpuMs);
    openCookedPort();
    port_->startReceiver();
    if (hangUp)
        pty_->closeMaster();
    std::this_thread::sleep_for(100ms);
    const auto before = port_->receiverCpuTime();
    std::this_thread::sleep_for(1s);
    const auto used = port_->receiverCpuTime() - before;
    QVERIFY2(used < std::chrono::milliseconds(maxCpuMs) * kTimingSlack,
             qPrintable(QString::number(used.count())));

    port_->close();
    QCOMPARE(port_->receiverCpuTime(), std::chrono::nanoseconds{0});
}

void tst_SerialPort::receiverPausesOnlyAfterAHangUp_data() {
    QTest::addColumn<bool>("hangUp");
    // An exchange purges the input while the thread waits for silence: the read then finds the
    // queue empty and returns 0, which is no hang-up.
    QTest::newRow("input purged between the wake-up and the read") << false;
    QTest::newRow("hung-up line") << true;
}

void tst_SerialPort::receiverPausesOnlyAfterAHangUp() {
    QFETCH(bool, hangUp);
#ifndef SYS_poll
    QSKIP("the receive thread's waits are told apart by the poll system call's arguments");
#endif
    openCookedPort();
    const QStringList before = ThreadIds();
    port_->startReceiver();
    QStringList started = ThreadIds();
    for (const QString &id : before)
        started.removeAll(id);
    QCOMPARE(started.size(), 1);
    const QString receiver = started.front();
    QCOMPARE(SettledWaitOf(receiver), ReceiverWait::Idle);

    if (hangUp) {
        pty_->closeMaster();
        // The thread may still sit in its idle wait for a moment before it sees the hang-up.
        QDeadlineTimer deadline(kEventTimeout);
        bool paused = false;
        while (!paused && !deadline.hasExpired()) {
            paused = WaitOf(receiver) == ReceiverWait::Pause;
            std::this_thread::sleep_for(1ms);
        }
        QVERIFY(paused);
        return;
    }
    // The purge must come after the thread woke and before it read: a try whose byte was read
    // first is made again.
    for (int attempt = 0; attempt < 200; ++attempt) {
        port_->clearReceived();
        pty_->writeMaster({0x55});
        QDeadlineTimer deadline(1s);
        bool caught = false;
        while (!caught && !deadline.hasExpired())
            caught = WaitOf(receiver) == ReceiverWait::Silence;
        if (caught)
            port_->purgeInput();
        const ReceiverWait settled = SettledWaitOf(receiver);
        if (!caught || Snapshot(*port_, 1) != QByteArray(1, 0))
            continue;
        QCOMPARE(settled, ReceiverWait::Idle);
        pty_->writeMaster({0x07, 0x04});
        QTRY_COMPARE_WITH_TIMEOUT(Snapshot(*port_, 2), QByteArray("\x07\x04"), kEventTimeoutMs);
        return;
    }
    QSKIP("no purge fell between the receive thread's wake-up and its read");
}

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_SerialPort.moc"

#include "PtyPair.h"
#include "platform/SerialPort.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "TimingSlack.h"

using namespace std::chrono_literals;

namespace {


// The receive buffer with a guard after it, so that a read past 256 bytes shows.
struct GuardedRx {
    RxBufferBytes rx{};
    std::array<std::atomic<std::uint8_t>, 64> guard{};
};

QByteArray Snapshot(const RxBufferBytes &rx, std::size_t count = 256) {
    QByteArray bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes.append(static_cast<char>(rx[i].load()));
    return bytes;
}

void Clear(RxBufferBytes &rx) {
    for (auto &byte : rx)
        byte.store(0);
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

int ThreadCount() {
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// Returns the longest pause between two pieces as the sender managed it.
std::chrono::microseconds SendInPieces(PtyPair &pty, const QByteArray &bytes, int pieceSize,
                                       std::chrono::microseconds gap) {
    std::chrono::microseconds longest{0};
    auto last = std::chrono::steady_clock::now();
    for (int at = 0; at < bytes.size(); at += pieceSize) {
        if (at > 0)
            std::this_thread::sleep_for(gap);
        const auto now = std::chrono::steady_clock::now();
        longest =
            std::max(longest, std::chrono::duration_cast<std::chrono::microseconds>(now - last));
        last = now;
        pty.writeMaster(Bytes(bytes.mid(at, pieceSize)));
    }
    return longest;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensRawLineAt57600();
    void holdsThePortExclusively();

    void writeSendsFrameUnchanged_data();
    void writeSendsFrameUnchanged();
    void stalledLineDoesNotBlockWrite();

    void receivesReplyWhole_data();
    void receivesReplyWhole();
    void storesEachReadFromIndexZero_data();
    void storesEachReadFromIndexZero();
    void readsAtMost256BytesAtOnce();
    void purgeInputDiscardsQueuedBytes();
    void openingDiscardsStaleInput();

    void failedOpeningLeavesNoPort_data();
    void failedOpeningLeavesNoPort();
    void closingWithoutPortKeepsStandardInput();
    void reopeningReplacesPortAndThread();

    void idleReceiverUsesNoCpu();
    void hangUpDoesNotSpin();

private:
    void openCookedPort();

    std::unique_ptr<PtyPair> pty_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<GuardedRx> buffer_;
};

void TestSerialPort::init() {
    pty_ = std::make_unique<PtyPair>();
    port_ = std::make_unique<SerialPort>();
    buffer_ = std::make_unique<GuardedRx>();
}

void TestSerialPort::cleanup() {
    port_.reset();
    for (const auto &byte : buffer_->guard)
        QCOMPARE(byte.load(), std::uint8_t{0});
    pty_.reset();
}

void TestSerialPort::openCookedPort() {
    MakeCooked(*pty_);
    QString reason;
    QVERIFY2(port_->open(pty_->slavePath(), &reason), qPrintable(reason));
}

void TestSerialPort::opensRawLineAt57600() {
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

void TestSerialPort::holdsThePortExclusively() {
    openCookedPort();
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

void TestSerialPort::writeSendsFrameUnchanged_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read request") << QByteArray::fromHex("01 04 00 00 00 0f b0 0e");
    QTest::newRow("terminal control bytes") << kControlBytes;
    QTest::newRow("program frame of 35 bytes") << Pattern(35, 0xF0);
}

void TestSerialPort::writeSendsFrameUnchanged() {
    QFETCH(QByteArray, frame);
    openCookedPort();
    port_->clearErrors();
    port_->write(reinterpret_cast<const std::uint8_t *>(frame.constData()), frame.size());
    const auto sent = pty_->readMaster(frame.size(), 1s);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(sent.data()), sent.size()), frame);
    QVERIFY(pty_->readMaster(1, 50ms).empty());
}

void TestSerialPort::stalledLineDoesNotBlockWrite() {
    openCookedPort();
    const std::vector<std::uint8_t> flood(1 << 20, 0x55); // far more than a pty buffers
    QElapsedTimer clock;
    clock.start();
    port_->write(flood.data(), flood.size());
    QVERIFY2(clock.elapsed() < 3000 * kTimingSlack, qPrintable(QString::number(clock.elapsed())));
}

void TestSerialPort::receivesReplyWhole_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("gapMicroseconds");
    const QByteArray reply35 = kControlBytes + Pattern(19, 0x80);
    QTest::newRow("in one piece") << reply35 << 35 << 0;
    QTest::newRow("byte by byte at line speed") << reply35 << 1 << 174;
    QTest::newRow("three pieces from an adapter") << reply35 << 12 << 1000;
}

void TestSerialPort::receivesReplyWhole() {
    QFETCH(QByteArray, reply);
    QFETCH(int, pieceSize);
    QFETCH(int, gapMicroseconds);
    openCookedPort();
    port_->startReceiver(buffer_->rx);
    // A busy machine may hold the sending thread longer than the silence period, which a real
    // line never does: such an attempt proves nothing and is repeated.
    const auto tooLate = std::chrono::milliseconds(SerialPort::kSilenceMs) - 1ms;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::this_thread::sleep_for(50ms);
        Clear(buffer_->rx);
        if (SendInPieces(*pty_, reply, pieceSize, std::chrono::microseconds(gapMicroseconds)) >=
            tooLate)
            continue;
        QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx), Padded(reply), 1000);
        QVERIFY(pty_->readMaster(1, 20ms).empty()); // no echo
        return;
    }
    QSKIP("this machine could not keep the pace of the line");
}

void TestSerialPort::storesEachReadFromIndexZero_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("clearBetween");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray ten(10, '\xAA');
    const QByteArray forty(40, '\xBB');
    const QByteArray five = Pattern(5);
    QTest::newRow("ten then 25 bytes") << ten << false << Pattern(25) << Padded(Pattern(25));
    QTest::newRow("five after clearing") << forty << true << five << Padded(five);
    QTest::newRow("five over a longer read")
        << forty << false << five << Padded(five + forty.mid(5));
}

void TestSerialPort::storesEachReadFromIndexZero() {
    QFETCH(QByteArray, first);
    QFETCH(bool, clearBetween);
    QFETCH(QByteArray, second);
    QFETCH(QByteArray, expected);
    openCookedPort();
    port_->startReceiver(buffer_->rx);
    pty_->writeMaster(Bytes(first));
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx, first.size()), first, 1000);
    std::this_thread::sleep_for(50ms);
    if (clearBetween)
        Clear(buffer_->rx);
    pty_->writeMaster(Bytes(second));
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx), expected, 1000);
}

void TestSerialPort::readsAtMost256BytesAtOnce() {
    openCookedPort();
    const QByteArray waiting = QByteArray(256, '\x11') + Pattern(44, 0x20);
    pty_->writeMaster(Bytes(waiting));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 300, 1000);
    port_->startReceiver(buffer_->rx);
    // The first read takes 256 bytes, the next the remaining 44, again from index 0.
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 0, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx), Pattern(44, 0x20) + QByteArray(212, '\x11'),
                              1000);
}

void TestSerialPort::purgeInputDiscardsQueuedBytes() {
    openCookedPort();
    pty_->writeMaster(Bytes(Pattern(20)));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(port_->handle()), 20, 1000);
    port_->purgeOutput();
    port_->purgeInput();
    QCOMPARE(QueuedInput(port_->handle()), 0);
    port_->startReceiver(buffer_->rx);
    std::this_thread::sleep_for(100ms);
    QCOMPARE(Snapshot(buffer_->rx), Padded({}));
    pty_->writeMaster({0x07, 0x04});
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx, 2), QByteArray("\x07\x04"), 1000);
}

void TestSerialPort::openingDiscardsStaleInput() {
    const int observer =
        ::open(QFile::encodeName(pty_->slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(observer >= 0);
    pty_->writeMaster(Bytes(Pattern(20)));
    QTRY_COMPARE_WITH_TIMEOUT(QueuedInput(observer), 20, 1000);
    ::close(observer);
    QVERIFY(port_->open(pty_->slavePath(), nullptr));
    QCOMPARE(QueuedInput(port_->handle()), 0);
}

void TestSerialPort::failedOpeningLeavesNoPort_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing device")
        << "/dev/kalvora-no-such-port" << QString::fromLocal8Bit(std::strerror(ENOENT));
    QTest::newRow("not a terminal") << "/dev/null" << QString::fromLocal8Bit(std::strerror(ENOTTY));
}

void TestSerialPort::failedOpeningLeavesNoPort() {
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
    port_->startReceiver(buffer_->rx);
    QCOMPARE(ThreadCount(), threadsBefore);
    port_->write(reinterpret_cast<const std::uint8_t *>("\x01\x04"), 2);
}

void TestSerialPort::closingWithoutPortKeepsStandardInput() {
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

void TestSerialPort::reopeningReplacesPortAndThread() {
    PtyPair second;
    const int threadsBefore = ThreadCount();
    openCookedPort();
    port_->startReceiver(buffer_->rx);
    QCOMPARE(ThreadCount(), threadsBefore + 1);

    QString reason;
    QVERIFY2(port_->open(second.slavePath(), &reason), qPrintable(reason));
    QCOMPARE(ThreadCount(), threadsBefore);
    QCOMPARE(DescriptorsOpenOn(pty_->slavePath()), 1); // the pty's own keeper
    port_->startReceiver(buffer_->rx);
    QCOMPARE(ThreadCount(), threadsBefore + 1);

    pty_->writeMaster({0xAA, 0xAA, 0xAA});
    std::this_thread::sleep_for(100ms);
    QCOMPARE(Snapshot(buffer_->rx), Padded({}));
    second.writeMaster({0x05, 0x04});
    QTRY_COMPARE_WITH_TIMEOUT(Snapshot(buffer_->rx), Padded("\x05\x04"), 1000);
}

void TestSerialPort::idleReceiverUsesNoCpu() {
    openCookedPort();
    port_->startReceiver(buffer_->rx);
    std::this_thread::sleep_for(50ms);
    const auto before = port_->receiverCpuTime();
    std::this_thread::sleep_for(1s);
    const auto used = port_->receiverCpuTime() - before;
    QVERIFY2(used < 5ms * kTimingSlack, qPrintable(QString::number(used.count())));

    QElapsedTimer clock;
    clock.start();
    port_->close();
    QVERIFY(clock.elapsed() < 200 * kTimingSlack);
    QCOMPARE(port_->receiverCpuTime(), std::chrono::nanoseconds{0});
}

void TestSerialPort::hangUpDoesNotSpin() {
    openCookedPort();
    port_->startReceiver(buffer_->rx);
    pty_->closeMaster();
    std::this_thread::sleep_for(100ms);
    const auto before = port_->receiverCpuTime();
    std::this_thread::sleep_for(1s);
    const auto used = port_->receiverCpuTime() - before;
    QVERIFY2(used < 20ms * kTimingSlack, qPrintable(QString::number(used.count())));

    QElapsedTimer clock;
    clock.start();
    port_->close();
    QVERIFY(clock.elapsed() < 200 * kTimingSlack);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_SerialPort.moc"

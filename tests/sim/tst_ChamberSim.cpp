// The simulated chamber as the program meets it: through a pseudo-terminal, byte for byte.
#include "ChamberBus.h"
#include "FileBytes.h"
#include "HexBytes.h"
#include "ModbusFrames.h"
#include "PtyPair.h"
#include "SimCrc16.h"
#include "SimServer.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"
#include "platform/PseudoTerminal.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using chambersim::ChamberFaults;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(chambersim::ChamberFaults)

namespace {

constexpr auto kNoReplyWait = 150ms;

std::uint8_t u8(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

struct Step {
    int temperature;
    int stabilisationMinutes;
    int timeToModeMinutes;
};

// One step record as the control window writes it: magnitude and sign code, cycles as digits.
Bytes stepFrame(int address, int program, int row, int steps, int cycles, const Step &s) {
    return WriteRequest(address, 0,
                        {program, row, std::abs(s.temperature), s.stabilisationMinutes / 60,
                         s.stabilisationMinutes % 60, 0, steps, cycles / 100,
                         s.temperature < 0 ? 1 : 2, s.timeToModeMinutes / 60,
                         s.timeToModeMinutes % 60, cycles % 100 / 10, cycles % 10});
}

Bytes setPointFrame(int address, int temperature) {
    return WriteRequest(address, 13, {std::abs(temperature), 0, temperature < 0 ? 2 : 1});
}

// The line as the program sees it: the pty's slave side, raw.
class ProgramEnd {
public:
    explicit ProgramEnd(const QString &path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~ProgramEnd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ProgramEnd(const ProgramEnd &) = delete;
    ProgramEnd &operator=(const ProgramEnd &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void send(const Bytes &bytes) const {
        QCOMPARE_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    Bytes receive(std::size_t count, std::chrono::milliseconds timeout = kEventTimeout) const {
        return ReadFor(fd_, count, timeout);
    }

    Bytes exchange(const Bytes &request, std::size_t replyLength) const {
        send(request);
        return receive(replyLength);
    }

private:
    int fd_;
};

// At least `count` bytes came, and all of them noise.
bool allNoise(const Bytes &bytes, std::size_t count) {
    return bytes.size() >= count &&
           std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

class tst_ChamberSim : public QObject {
    Q_OBJECT

private slots:
    void crcMatchesKnownFrames_data();
    void crcMatchesKnownFrames();
    void answersReadRequest_data();
    void answersReadRequest();
    void staysSilent_data();
    void staysSilent();
    void exceptionReplies_data();
    void exceptionReplies();
    void storesStepRecordAndAcknowledges();
    void setPointMovesTemperature_data();
    void setPointMovesTemperature();
    void programRunsStepsAndCycles();
    void rawInputsOverrideRegisters();
    void replyShapeFaults_data();
    void replyShapeFaults();
    void silenceFaults_data();
    void silenceFaults();
    void deliveryTimingFaults_data();
    void deliveryTimingFaults();
    void recordsWhatArrived();
    void closeMasterHangsUpTheLine();
    void hungUpLineDoesNotSpin();
    void noiseRunsForItsTimeOrUntilStopped_data();
    void noiseRunsForItsTimeOrUntilStopped();
    void vanishedLineComesBackAtItsLink();
    void commandLineServesThroughItsLink();
    void commandLineNoiseAndVanishingLine();
    void commandLineTakesCommandsOnItsInput();
    void commandLineRejectsBadArguments_data();
    void commandLineRejectsBadArguments();
};

void tst_ChamberSim::crcMatchesKnownFrames_data() {
    QTest::addColumn<QByteArray>("frame"); // hex; its last two bytes are the CRC

    QTest::newRow("read 15 at 1") << QByteArray("01 04 00 00 00 0F B0 0E");
    QTest::newRow("read 3 at 1") << QByteArray("01 04 00 00 00 03 B0 0B");
    QTest::newRow("read 15 at 0") << QByteArray("00 04 00 00 00 0F B1 DF");
    QTest::newRow("read 15 at 250") << QByteArray("FA 04 00 00 00 0F A5 85");
    QTest::newRow("manual start") << QByteArray("01 10 00 10 00 01 02 00 01 65 00");
    QTest::newRow("program start") << QByteArray("01 10 00 11 00 02 04 00 01 00 03 22 AE");
    QTest::newRow("set-point -20") << QByteArray("01 10 00 0D 00 03 06 00 14 00 00 00 02 C6 B8");
    QTest::newRow("step record") << QByteArray("01 10 00 00 00 0D 1A 00 02 00 01 00 28 00 01 00 "
                                               "1E 00 00 00 03 00 01 00 01 00 00 00 2D 00 02 00 "
                                               "05 8D 09");
}

void tst_ChamberSim::crcMatchesKnownFrames() {
    QFETCH(QByteArray, frame);
    const Bytes bytes = HexBytes(frame.constData());
    QVERIFY(chambersim::hasValidCrc(bytes));
    Bytes damaged = bytes;
    damaged[2] ^= 0x01;
    QVERIFY(!chambersim::hasValidCrc(damaged));
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    QCOMPARE(chambersim::crc16Modbus(digits), std::uint16_t(0x4B37));
}

void tst_ChamberSim::answersReadRequest_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("quantity");

    QTest::newRow("scan probe of 3") << 1 << 0 << 3;
    QTest::newRow("reading cycle of 15") << 1 << 0 << 15;
    QTest::newRow("address 0 is a chamber, not a broadcast") << 0 << 0 << 15;
    QTest::newRow("highest address") << 250 << 0 << 15;
    QTest::newRow("one register from the middle") << 1 << 2 << 1;
}

void tst_ChamberSim::answersReadRequest() {
    QFETCH(int, address);
    QFETCH(int, start);
    QFETCH(int, quantity);
    SimulatedLine line({0, 1, 250});
    line.setRawInput(address, 14, 605);
    ProgramEnd port(line.slavePath());

    const Bytes reply = port.exchange(ReadRequest(address, start, quantity), 5 + 2 * quantity);

    QCOMPARE(reply.size(), std::size_t(5 + 2 * quantity));
    QCOMPARE(reply[0], u8(address));
    QCOMPARE(reply[1], u8(4));
    QCOMPARE(reply[2], u8(2 * quantity));
    QVERIFY(chambersim::hasValidCrc(reply));
    const chambersim::InputRegisters regs = line.bus().inputRegisters(address);
    for (int k = 0; k < quantity; ++k)
        QCOMPARE(reply[3 + 2 * k] << 8 | reply[4 + 2 * k], int(regs[start + k]));
    QCOMPARE(regs[0], std::uint16_t(200)); // a chamber at rest stands at 20.0 degrees
    QCOMPARE(regs[14], std::uint16_t(605));
    QVERIFY(port.receive(1, kNoReplyWait).empty()); // one reply, nothing more
}

void tst_ChamberSim::staysSilent_data() {
    QTest::addColumn<QByteArray>("request");

    const auto asArray = [](const Bytes &b) { return QByteArray::fromHex(HexText(b).toLatin1()); };
    Bytes badCrc = ReadRequest(1, 0, 15);
    badCrc.back() ^= 0x55;
    QTest::newRow("no chamber at the address") << asArray(ReadRequest(2, 0, 15));
    QTest::newRow("damaged CRC") << asArray(badCrc);
    QTest::newRow("torn frame") << asArray(Bytes{0x01, 0x04, 0x00, 0x00});
    QTest::newRow("noise") << QByteArray("\x55\xAA\x01", 3);
}

// Nothing is answered, and the next good request is answered at once: the framer found its
// feet again.
void tst_ChamberSim::staysSilent() {
    QFETCH(QByteArray, request);
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());

    port.send(Bytes(request.begin(), request.end()));
    QVERIFY(port.receive(1, kNoReplyWait).empty());

    const Bytes reply = port.exchange(ReadRequest(1, 0, 3), 11);
    QCOMPARE(reply.size(), std::size_t(11));
    QVERIFY(chambersim::hasValidCrc(reply));
}

void tst_ChamberSim::exceptionReplies_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("code");

    const auto asArray = [](const Bytes &b) { return QByteArray::fromHex(HexText(b).toLatin1()); };
    QTest::newRow("read holding registers: unknown function")
        << asArray(WithCrc({1, 3, 0, 0, 0, 1})) << 0x83 << 1;
    QTest::newRow("read of 16 registers") << asArray(ReadRequest(1, 0, 16)) << 0x84 << 2;
    QTest::newRow("read of 0 registers") << asArray(ReadRequest(1, 0, 0)) << 0x84 << 2;
    QTest::newRow("read past register 14") << asArray(ReadRequest(1, 14, 2)) << 0x84 << 2;
    QTest::newRow("write past register 18") << asArray(WriteRequest(1, 18, {1, 1})) << 0x90 << 2;
    QTest::newRow("write with a byte count that does not match")
        << asArray(WithCrc({1, 0x10, 0, 16, 0, 2, 2, 0, 1})) << 0x90 << 3;
}

void tst_ChamberSim::exceptionReplies() {
    QFETCH(QByteArray, request);
    QFETCH(int, function);
    QFETCH(int, code);
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());

    const Bytes reply = port.exchange(Bytes(request.begin(), request.end()), 5);

    QCOMPARE(HexText(Bytes(reply.begin(), reply.begin() + std::min<std::size_t>(3, reply.size()))),
             HexText(Bytes{1, u8(function), u8(code)}));
    QVERIFY(chambersim::hasValidCrc(reply));
    QVERIFY(line.holdingRegisters(1) == chambersim::HoldingRegisters{}); // nothing was taken
}

void tst_ChamberSim::storesStepRecordAndAcknowledges() {
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    const Bytes frame = HexBytes("01 10 00 00 00 0D 1A 00 02 00 01 00 28 00 01 00 1E 00 00 00 03 "
                                 "00 01 00 01 00 00 00 2D 00 02 00 05 8D 09");

    const Bytes reply = port.exchange(frame, 8);

    QCOMPARE(HexText(reply), HexText(WriteAck(frame))); // address, 0x10, start, quantity, CRC
    QCOMPARE(HexText(reply).left(17), QString("01 10 00 00 00 0D"));
    const chambersim::HoldingRegisters regs = line.holdingRegisters(1);
    const std::vector<int> expected{2, 1, 40, 1, 30, 0, 3, 1, 1, 0, 45, 2, 5};
    for (std::size_t r = 0; r < expected.size(); ++r)
        QCOMPARE(int(regs[r]), expected[r]);
    line.bus().withModel(1, [](const chambersim::ChamberModel &model) {
        const chambersim::Program &program = model.program(2);
        QCOMPARE(program.stepCount, 3);
        QCOMPARE(program.cycles, 125);
        QCOMPARE(program.steps[0].temperature, -40.0);
        QCOMPARE(program.steps[0].stabilisationMinutes, 90);
        QCOMPARE(program.steps[0].timeToModeMinutes, 45);
        QCOMPARE(model.program(1).stepCount, 0);
    });
}

void tst_ChamberSim::setPointMovesTemperature_data() {
    QTest::addColumn<int>("setPoint");
    QTest::addColumn<bool>("startManual");
    QTest::addColumn<double>("startTemperature");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("expectedCurrent"); // register 0
    QTest::addColumn<int>("expectedSet");     // register 2

    // 5 degrees a minute when running, a quarter of that when drifting back to 20.
    QTest::newRow("cooling to -20, one minute in") << -20 << true << 20.0 << 60 << 150 << 65336;
    QTest::newRow("cooling to -20, reached and held")
        << -20 << true << 20.0 << 900 << 65336 << 65336;
    QTest::newRow("heating to 25, half a minute in") << 25 << true << 20.0 << 30 << 225 << 250;
    QTest::newRow("set-point 0 from below") << 0 << true << -3.0 << 30 << 65536 - 5 << 0;
    QTest::newRow("not started: drifts to ambient") << -20 << false << 40.0 << 240 << 350 << 65336;
}

void tst_ChamberSim::setPointMovesTemperature() {
    QFETCH(int, setPoint);
    QFETCH(bool, startManual);
    QFETCH(double, startTemperature);
    QFETCH(int, seconds);
    QFETCH(int, expectedCurrent);
    QFETCH(int, expectedSet);
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    line.bus().withModel(
        1, [&](chambersim::ChamberModel &m) { m.setCurrentTemperature(startTemperature); });

    const Bytes setPoint15 = setPointFrame(1, setPoint);
    QCOMPARE(HexText(port.exchange(setPoint15, 8)), HexText(WriteAck(setPoint15)));
    if (startManual) {
        const Bytes start = WriteRequest(1, 16, {1});
        QCOMPARE(HexText(port.exchange(start, 8)), HexText(WriteAck(start)));
    }
    line.bus().advance(seconds);

    const chambersim::InputRegisters regs = line.bus().inputRegisters(1);
    QCOMPARE(int(regs[0]), expectedCurrent);
    QCOMPARE(int(regs[2]), expectedSet);
    QCOMPARE(int(regs[1]), 0); // no program runs
}

void tst_ChamberSim::programRunsStepsAndCycles() {
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    const auto regs = [&] { return line.bus().inputRegisters(1); };
    const auto send = [&](const Bytes &frame) {
        QCOMPARE(HexText(port.exchange(frame, 8)), HexText(WriteAck(frame)));
    };
    // Program 3: two steps, two cycles.
    send(stepFrame(1, 3, 1, 2, 2, {30, 10, 5}));
    send(stepFrame(1, 3, 2, 2, 2, {-10, 5, 20}));
    send(HexBytes("01 10 00 11 00 02 04 00 01 00 03 22 AE"));

    auto r = regs();
    QCOMPARE(int(r[1]), 3);
    QCOMPARE(int(r[2]), 300);
    QCOMPARE(int(r[10]), 1);
    QCOMPARE(int(r[11]), 2);
    QCOMPARE(int(r[12]), 1);
    QCOMPARE(int(r[13]), 2);
    QCOMPARE(int(r[8]), 0);
    QCOMPARE(int(r[9]), 10);
    QCOMPARE(int(r[14]), 5);

    line.bus().advance(60); // heating: 25 degrees, one minute on the way to the mode
    r = regs();
    QCOMPARE(int(r[0]), 250);
    QCOMPARE(int(r[6]), 0);
    QCOMPARE(int(r[7]), 1);
    QCOMPARE(int(r[5]), 0);

    line.bus().advance(60 + 5 * 60); // mode reached at 29.5 after 114 s, then stabilising
    r = regs();
    QCOMPARE(int(r[0]), 300);
    QCOMPARE(int(r[10]), 1);
    QCOMPARE(int(r[5]), 5);

    line.bus().advance(6 * 60); // ten minutes of stabilisation are over: step 2, cooling
    r = regs();
    QCOMPARE(int(r[10]), 2);
    QCOMPARE(int(r[12]), 1);
    QCOMPARE(int(r[2]), 65536 - 100);
    QCOMPARE(int(r[14]), 20);
    QCOMPARE(int(r[9]), 5);
    QCOMPARE(int(r[5]), 0);

    line.bus().advance(800); // 474 s to reach -9.5, 300 s of stabilisation: cycle 2, step 1
    r = regs();
    QCOMPARE(int(r[10]), 1);
    QCOMPARE(int(r[12]), 2);
    QCOMPARE(int(r[2]), 300);

    send(HexBytes("01 10 00 11 00 01 02 00 02 24 D0")); // program stop
    r = regs();
    QCOMPARE(int(r[1]), 0);
    QCOMPARE(int(r[10]), 0);
    QCOMPARE(int(r[12]), 0);

    send(HexBytes("01 10 00 11 00 02 04 00 01 00 03 22 AE"));
    line.bus().advance(4 * 3600); // two cycles take under an hour
    r = regs();
    QCOMPARE(int(r[1]), 0);
    QCOMPARE(int(r[11]), 0);
    line.bus().withModel(1, [](const chambersim::ChamberModel &m) {
        QVERIFY(m.mode() == chambersim::Mode::Stopped);
    });
}

void tst_ChamberSim::rawInputsOverrideRegisters() {
    SimulatedLine line({1, 2});
    const std::pair<int, int> raw[] = {{0, 64536}, {2, 2500}, {3, 50001}, {13, 65535}};
    for (auto [reg, value] : raw)
        line.setRawInput(1, reg, std::uint16_t(value));
    ProgramEnd port(line.slavePath());

    const Bytes reply = port.exchange(ReadRequest(1, 0, 15), 35);
    QCOMPARE(reply.size(), std::size_t(35));
    const auto reg = [&](int k) { return reply[3 + 2 * k] << 8 | reply[4 + 2 * k]; };
    QCOMPARE(reg(0), 64536);
    QCOMPARE(reg(2), 2500);
    QCOMPARE(reg(3), 50001);
    QCOMPARE(reg(13), 65535);
    QCOMPARE(reg(1), 0);
    QCOMPARE(int(line.bus().inputRegisters(2)[0]), 200); // the other chamber is untouched

    line.bus().clearRawInputs(1);
    QCOMPARE(int(line.bus().inputRegisters(1)[0]), 200);
}

void tst_ChamberSim::replyShapeFaults_data() {
    QTest::addColumn<ChamberFaults>("faults");
    QTest::addColumn<bool>("strayFirst");
    QTest::addColumn<bool>("crcRight");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("thirdByte"); // byte count, or the exception code
    QTest::addColumn<int>("length");

    const auto with = [](auto set) {
        ChamberFaults f;
        set(f);
        return f;
    };
    QTest::newRow("none") << ChamberFaults{} << false << true << 4 << 6 << 11;
    QTest::newRow("stray byte") << with([](auto &f) { f.strayByte = true; }) << true << true << 4
                                << 6 << 12;
    QTest::newRow("broken CRC") << with([](auto &f) { f.breakCrc = true; }) << false << false << 4
                                << 6 << 11;
    QTest::newRow("wrong byte count")
        << with([](auto &f) { f.wrongByteCount = true; }) << false << true << 4 << 8 << 11;
    QTest::newRow("exception reply")
        << with([](auto &f) { f.exceptionReply = true; }) << false << true << 0x84 << 4 << 5;
}

void tst_ChamberSim::replyShapeFaults() {
    QFETCH(ChamberFaults, faults);
    QFETCH(bool, strayFirst);
    QFETCH(bool, crcRight);
    QFETCH(int, function);
    QFETCH(int, thirdByte);
    QFETCH(int, length);
    SimulatedLine line({1});
    line.setFaults(1, faults);
    ProgramEnd port(line.slavePath());

    Bytes reply = port.exchange(ReadRequest(1, 0, 3), std::size_t(length));

    QCOMPARE(int(reply.size()), length);
    QVERIFY(port.receive(1, kNoReplyWait).empty());
    if (strayFirst) {
        QVERIFY(reply.front() != 1);
        reply.erase(reply.begin());
    }
    QCOMPARE(int(reply[0]), 1);
    QCOMPARE(int(reply[1]), function);
    QCOMPARE(int(reply[2]), thirdByte);
    QCOMPARE(chambersim::hasValidCrc(reply), crcRight);
}

void tst_ChamberSim::silenceFaults_data() {
    QTest::addColumn<int>("silentFirst");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<QString>("answered"); // one request per character: + answered, - silent

    QTest::newRow("first two unanswered") << 2 << 0 << "--+++";
    QTest::newRow("every third dropped") << 0 << 3 << "++-++-+";
    QTest::newRow("both at once") << 1 << 2 << "--+-+";
}

void tst_ChamberSim::silenceFaults() {
    QFETCH(int, silentFirst);
    QFETCH(int, dropEvery);
    QFETCH(QString, answered);
    SimulatedLine line({1});
    ChamberFaults faults;
    faults.silentFirst = silentFirst;
    faults.dropEvery = dropEvery;
    line.setFaults(1, faults);
    ProgramEnd port(line.slavePath());

    QString seen;
    for (int i = 0; i < answered.size(); ++i) {
        port.send(ReadRequest(1, 0, 3));
        seen += port.receive(11, answered[i] == '+' ? kEventTimeout : kNoReplyWait).size() == 11
                    ? '+'
                    : '-';
    }
    QCOMPARE(seen, answered);
    QCOMPARE(line.bus().requestCount(1), int(answered.size()));
}

void tst_ChamberSim::deliveryTimingFaults_data() {
    QTest::addColumn<ChamberFaults>("faults");
    QTest::addColumn<double>("minDelayMs");       // from the request's last byte to the first write
    QTest::addColumn<QList<int>>("writeLengths"); // the reply's writes, in order
    QTest::addColumn<double>("minSpreadMs");      // from the first write to the last

    ChamberFaults byteByByte;
    byteByByte.byteByByte = true;
    ChamberFaults split;
    split.splitGapMs = 50;
    split.splitFirstLength = 10;
    ChamberFaults delayed;
    delayed.replyDelayMs = 100;
    // Timed at the simulator's writes, not where the test reads: a reader that wakes late would
    // see the pieces closer together than they were sent. 34 character times of 174 us lie
    // between the first and the last of 35 bytes.
    QTest::newRow("byte by byte at line speed")
        << byteByByte << 0.0 << QList<int>(35, 1) << 34 * 0.174;
    QTest::newRow("split after 10 bytes, 50 ms apart")
        << split << 0.0 << QList<int>{10, 25} << 50.0;
    QTest::newRow("delayed by 100 ms") << delayed << 100.0 << QList<int>{35} << 0.0;
}

void tst_ChamberSim::deliveryTimingFaults() {
    QFETCH(ChamberFaults, faults);
    QFETCH(double, minDelayMs);
    QFETCH(QList<int>, writeLengths);
    QFETCH(double, minSpreadMs);
    SimulatedLine line({1});
    line.setFaults(1, faults);
    ProgramEnd port(line.slavePath());

    port.send(ReadRequest(1, 0, 15));
    const Bytes reply = port.receive(35);
    QCOMPARE(reply.size(), std::size_t(35));
    QVERIFY(chambersim::hasValidCrc(reply));

    QVERIFY(line.waitForSent(35, kEventTimeout));
    const std::vector<SentChunk> writes = line.sent();
    QList<int> lengths;
    for (const SentChunk &write : writes)
        lengths << int(write.bytes.size());
    QCOMPARE(lengths, writeLengths);
    QCOMPARE_GE(milliseconds(writes.front().at - line.received().front().at), minDelayMs);
    QCOMPARE_GE(milliseconds(writes.back().at - writes.front().at), minSpreadMs);
}

void tst_ChamberSim::recordsWhatArrived() {
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    const Bytes first = ReadRequest(1, 0, 15);
    const Bytes second = ReadRequest(7, 0, 3); // no chamber there: recorded all the same

    const auto before = Clock::now();
    port.send(first);
    QVERIFY(line.waitForReceived(1, kEventTimeout));
    std::this_thread::sleep_for(20ms);
    port.send(Bytes{0x42}); // noise, dropped once the line falls silent
    std::this_thread::sleep_for(20ms);
    port.send(second);
    QVERIFY(line.waitForReceived(3, kEventTimeout));

    const std::vector<ReceivedFrame> got = line.received();
    QCOMPARE(got.size(), std::size_t(3));
    QCOMPARE(HexText(got[0].bytes), HexText(first));
    QVERIFY(got[0].isRequest);
    QCOMPARE(HexText(got[1].bytes), QString("42"));
    QVERIFY(!got[1].isRequest);
    QCOMPARE(HexText(got[2].bytes), HexText(second));
    QVERIFY(got[0].at >= before);
    QCOMPARE_GE(milliseconds(got[2].at - got[0].at), 35.0);

    line.clearReceived();
    QVERIFY(line.received().empty());
}

void tst_ChamberSim::closeMasterHangsUpTheLine() {
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    QCOMPARE(port.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));

    // Stops the serving thread first: a stop it never noticed would leave this waiting, and the
    // test's time-out would end it.
    line.closeMaster();

    pollfd p{port.fd(), POLLIN, 0};
    QCOMPARE(poll(&p, 1, 1000), 1);
    QVERIFY(p.revents & POLLHUP);
}

// A pty master whose slave side was opened and closed again reports a hang-up on every poll,
// as when the program closes its port while nobody else holds the line.
void tst_ChamberSim::hungUpLineDoesNotSpin() {
    PseudoTerminal pty;
    pty.closeSlave();
    pollfd hangUp{pty.masterFd(), POLLIN, 0};
    QCOMPARE(poll(&hangUp, 1, 0), 1);
    chambersim::ChamberBus bus({1});
    chambersim::SimServer server(bus, pty.masterFd());
    std::thread serving([&server] { server.run(); });
    clockid_t cpuClock{};
    QCOMPARE(pthread_getcpuclockid(serving.native_handle(), &cpuClock), 0);

    std::this_thread::sleep_for(300ms);
    timespec used{};
    clock_gettime(cpuClock, &used);
    // The stop wakes its pause; one it never noticed would leave join() waiting until the
    // test's time-out.
    server.stop();
    serving.join();

    QCOMPARE_LT(used.tv_sec * 1000.0 + used.tv_nsec / 1e6, 30.0);
}

void tst_ChamberSim::noiseRunsForItsTimeOrUntilStopped_data() {
    QTest::addColumn<int>("durationMs"); // 0: until stopNoise()
    QTest::newRow("for 300 ms") << 300;
    QTest::newRow("until switched off") << 0;
}

void tst_ChamberSim::noiseRunsForItsTimeOrUntilStopped() {
    QFETCH(int, durationMs);
    SimulatedLine line({1});
    ProgramEnd port(line.slavePath());
    line.startNoise(500us, std::chrono::milliseconds(durationMs));

    QVERIFY(allNoise(port.receive(20), 20));
    // Requests are still answered, each reply whole among the noise.
    const Bytes request = ReadRequest(1, 0, 3);
    port.send(request);
    Bytes heard;
    const Bytes prefix{1, 4, 6};
    auto at = heard.end();
    for (int i = 0; i < 200 && (at == heard.end() || heard.end() - at < 11); ++i) {
        const Bytes more = port.receive(64, 50ms);
        heard.insert(heard.end(), more.begin(), more.end());
        at = std::search(heard.begin(), heard.end(), prefix.begin(), prefix.end());
    }
    QVERIFY(heard.end() - at >= 11);
    QVERIFY(chambersim::hasValidCrc(Bytes(at, at + 11)));

    if (durationMs == 0) {
        std::this_thread::sleep_for(100ms);
        QVERIFY(line.noiseOn());
        line.stopNoise();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!line.noiseOn(), kEventTimeoutMs);
    port.receive(1'000'000, 50ms); // what was on its way
    QVERIFY(port.receive(1, kNoReplyWait).empty());
    QCOMPARE_GE(line.noise().bytes, std::size_t(20));
}

// An unplugged adapter: the program's end hangs up, the link goes; a new terminal comes back
// behind the same link and serves as before.
void tst_ChamberSim::vanishedLineComesBackAtItsLink() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyUSB");
    SimulatedLine line({1}, link);
    const QString before = QFileInfo(link).symLinkTarget();
    QCOMPARE(before, line.slavePath());
    ProgramEnd old(link);
    QCOMPARE(old.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));

    line.vanish();
    QVERIFY(!line.isPresent());
    QVERIFY(!QFileInfo(link).isSymLink());
    pollfd p{old.fd(), POLLIN, 0};
    QCOMPARE(poll(&p, 1, 1000), 1);
    QVERIFY(p.revents & POLLHUP);
    std::uint8_t byte;
    QVERIFY(::read(old.fd(), &byte, 1) <= 0); // the end of the file, or EIO

    line.reappear();
    QVERIFY(line.isPresent());
    const QString after = QFileInfo(link).symLinkTarget();
    QVERIFY(after.startsWith("/dev/pts/"));
    QVERIFY(after != before); // the old terminal is still held open on this side
    ProgramEnd again(link);
    QCOMPARE(again.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));
    QCOMPARE(line.bus().requestCount(1), 2);

    // Away for a while, then back by itself.
    const auto vanished = Clock::now();
    line.vanish(300ms);
    QVERIFY(line.waitForReappearance(kEventTimeout));
    QCOMPARE_GE(milliseconds(Clock::now() - vanished), 300.0);
    ProgramEnd third(link);
    QCOMPARE(third.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));
}

// CPU time (user + system) of a process, in clock ticks.
static long cpuTicks(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

void tst_ChamberSim::commandLineServesThroughItsLink() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyCHAMBER");
    QVERIFY(QFile::link("/nonexistent", link)); // a stale link from an earlier run is replaced
    QProcess sim;
    const QString traceFile = dir.filePath("trace");
    sim.start(SIM_BINARY, {"--link", link, "--chamber", "2", "--chamber", "1", "--verbose",
                           "--fault-address", "2", "--raw", "0=64536", "--trace", traceFile});
    QVERIFY(sim.waitForStarted());
    QVERIFY(sim.waitForReadyRead(kEventTimeoutMs));

    const QString banner = QString::fromUtf8(sim.readLine()).trimmed();
    const QString target = QFileInfo(link).symLinkTarget();
    QVERIFY(target.startsWith("/dev/pts/"));
    QCOMPARE(banner, QString("kalvora-chamber-sim: chambers 1,2 on %1 (%2)").arg(link, target));

    {
        ProgramEnd port(link);
        QVERIFY(port.isOpen());
        const Bytes two = port.exchange(ReadRequest(2, 0, 15), 35);
        QCOMPARE(two.size(), std::size_t(35));
        QVERIFY(chambersim::hasValidCrc(two));
        QCOMPARE(two[3] << 8 | two[4], 64536);
        const Bytes one = port.exchange(ReadRequest(1, 0, 15), 35);
        QCOMPARE(one[3] << 8 | one[4], 200);
    }
    QByteArray trace;
    QTRY_VERIFY((trace += sim.readAllStandardOutput()).contains("tx 01 04 1E 00 C8"));
    QVERIFY(trace.contains("rx 02 04 00 00 00 0F"));
    // The trace file: the same lines, each after its monotonic time in microseconds, in order.
    const QStringList timed =
        QString::fromLatin1(ReadAll(traceFile)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(timed.size(), 4);
    qint64 last = 0;
    for (const QString &line : timed) {
        const qint64 us = line.section(' ', 0, 0).toLongLong();
        QVERIFY2(us >= last && us > 0, qPrintable(line));
        last = us;
    }
    QVERIFY(timed[0].section(' ', 1).startsWith("rx 02 04 00 00 00 0F"));
    QVERIFY(timed[3].section(' ', 1).startsWith("tx 01 04 1E 00 C8"));

    // Idle, with the program's end closed again: it sleeps in poll.
    const long ticksBefore = cpuTicks(sim.processId());
    std::this_thread::sleep_for(500ms);
    QCOMPARE_LE(cpuTicks(sim.processId()) - ticksBefore, 5);

    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished(kEventTimeoutMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

// Lines of the simulator's output, read as they come, until one holds `text`.
static bool waitForLine(QProcess &sim, QByteArray &output, const char *text) {
    QDeadlineTimer deadline(kEventTimeoutMs);
    while (!output.contains(text)) {
        if (deadline.hasExpired() || !sim.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        output += sim.readAllStandardOutput();
    }
    return true;
}

void tst_ChamberSim::commandLineNoiseAndVanishingLine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyUSB");
    QProcess sim;
    const auto started = Clock::now();
    sim.start(SIM_BINARY,
              {"--link", link, "--noise", "0.3", "--vanish-after", "1", "--vanish-for", "0.4"});
    QVERIFY(sim.waitForStarted());
    QByteArray output;
    QVERIFY(waitForLine(sim, output, "chambers 1 on"));
    const QString before = QFileInfo(link).symLinkTarget();
    ProgramEnd old(link);
    QVERIFY(old.isOpen());
    QVERIFY(allNoise(old.receive(10), 10));
    QVERIFY(output.contains("noise on the line") || waitForLine(sim, output, "noise on"));

    QVERIFY2(waitForLine(sim, output, "line vanished for 400 ms"), output.constData());
    QCOMPARE_GE(milliseconds(Clock::now() - started), 1000.0);
    QVERIFY(waitForLine(sim, output, "line back on"));
    QCOMPARE_GE(milliseconds(Clock::now() - started), 1400.0);
    pollfd p{old.fd(), POLLIN, 0};
    QCOMPARE(poll(&p, 1, 1000), 1);
    QVERIFY(p.revents & POLLHUP);
    const QString after = QFileInfo(link).symLinkTarget();
    QVERIFY(after.startsWith("/dev/pts/"));
    QVERIFY(after != before);
    QVERIFY(output.contains(QString("line back on %1 (%2)").arg(link, after).toUtf8()));
    {
        ProgramEnd port(link); // the noise ended long ago
        QCOMPARE(port.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));
    }

    // SIGUSR1 unplugs it once more.
    output.clear();
    ::kill(pid_t(sim.processId()), SIGUSR1);
    QVERIFY(waitForLine(sim, output, "line vanished for 400 ms"));
    QVERIFY(waitForLine(sim, output, "line back on"));
    {
        ProgramEnd port(link);
        QCOMPARE(port.exchange(ReadRequest(1, 0, 3), 11).size(), std::size_t(11));
    }

    sim.terminate();
    QVERIFY(sim.waitForFinished(kEventTimeoutMs));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_ChamberSim::commandLineTakesCommandsOnItsInput() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("ttyCHAMBER");
    QProcess sim;
    sim.start(SIM_BINARY, {"--link", link, "--chamber", "1", "--chamber", "2", "--commands"});
    QVERIFY(sim.waitForStarted());
    QByteArray output;
    QVERIFY(waitForLine(sim, output, "chambers 1,2 on"));
    // -1: no reply (a silent chamber's is awaited only kNoReplyWait).
    const auto registerOf = [&link](int address, int reg,
                                    std::chrono::milliseconds wait = kEventTimeout) {
        ProgramEnd port(link);
        port.send(ReadRequest(address, 0, 15));
        const Bytes reply = port.receive(35, wait);
        return reply.size() == 35 ? reply[3 + 2 * reg] << 8 | reply[4 + 2 * reg] : -1;
    };

    // Split across writes, with blanks around, and a bad line between that changes nothing.
    sim.write("raw 2 2=");
    sim.waitForBytesWritten();
    sim.write("800 \n\nbogus 1\nraw 9 0=1\nraw 1 0=70000\n  raw 1 0=65036\n");
    QVERIFY2(waitForLine(sim, output, "chamber 1 register 0 reads 65036"), output.constData());
    QVERIFY(output.contains("chamber 2 register 2 reads 800"));
    QCOMPARE(registerOf(2, 2), 800);
    QCOMPARE(registerOf(1, 0), 65036);
    const QString errors = QString::fromUtf8(sim.readAllStandardError());
    QVERIFY2(errors.contains("not a command: 'bogus 1'"), qPrintable(errors));
    QVERIFY(errors.contains("no chamber 9"));
    QVERIFY(errors.contains("not a command: 'raw 1 0=70000'"));

    sim.write("clear 1\n");
    QVERIFY(waitForLine(sim, output, "chamber 1 follows its model"));
    QCOMPARE(registerOf(1, 0), 200);

    // Silent and back, with its raw values still in force; an overlong line changes nothing.
    sim.write("silent 2\n" + QByteArray(5000, 'x') + "\nsilent 1\n");
    QVERIFY(waitForLine(sim, output, "chamber 1 is silent"));
    QVERIFY(output.contains("chamber 2 is silent"));
    QCOMPARE(registerOf(2, 2, kNoReplyWait), -1);
    QCOMPARE(registerOf(1, 0, kNoReplyWait), -1);
    sim.write("answer 2\n");
    QVERIFY(waitForLine(sim, output, "chamber 2 answers"));
    QCOMPARE(registerOf(2, 2), 800);
    QCOMPARE(registerOf(1, 0, kNoReplyWait), -1);
    QByteArray more;
    QTRY_VERIFY((more += sim.readAllStandardError()).contains("longer than 4096 bytes"));
    QVERIFY2(!more.contains("not a command"), more.constData()); // its end is no command

    // The end of the input ends no serving, and the simulator does not spin on it.
    sim.closeWriteChannel();
    std::this_thread::sleep_for(200ms);
    const long ticksBefore = cpuTicks(sim.processId());
    std::this_thread::sleep_for(500ms);
    QCOMPARE_LE(cpuTicks(sim.processId()) - ticksBefore, 5);
    QCOMPARE(registerOf(2, 2), 800);
    QCOMPARE(registerOf(1, 0, kNoReplyWait), -1);

    sim.terminate();
    QVERIFY(sim.waitForFinished(kEventTimeoutMs));
    QCOMPARE(sim.exitCode(), 0);
}

void tst_ChamberSim::commandLineRejectsBadArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // in the output, standard or error

    QTest::newRow("help") << QStringList{"--help"} << 0 << "--split-gap MS";
    QTest::newRow("help on line faults") << QStringList{"--help"} << 0 << "--vanish-after S";
    QTest::newRow("help on commands") << QStringList{"--help"} << 0 << "raw ADDR REG=VALUE";
    QTest::newRow("noise timing without noise")
        << QStringList{"--noise-every", "1"} << 2 << "need --noise";
    QTest::newRow("negative noise time") << QStringList{"--noise", "-1"} << 2 << "'-1'";
    QTest::newRow("vanish time not a number")
        << QStringList{"--vanish-after", "soon"} << 2 << "'soon'";
    QTest::newRow("version") << QStringList{"--version"} << 0
                             << "kalvora-chamber-sim " KALVORA_VERSION "\n";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "unknown option --bogus";
    QTest::newRow("address above 250") << QStringList{"--chamber", "251"} << 2 << "'251'";
    QTest::newRow("not a number") << QStringList{"--rate", "fast"} << 2 << "'fast'";
    QTest::newRow("decimal comma") << QStringList{"--speed-up", "1,5"} << 2 << "'1,5'";
    QTest::newRow("trailing blank") << QStringList{"--delay", "5 "} << 2 << "'5 '";
    QTest::newRow("missing value") << QStringList{"--link"} << 2 << "needs a value";
    QTest::newRow("raw without a value") << QStringList{"--raw", "3"} << 2 << "'3'";
    QTest::newRow("raw register 15") << QStringList{"--raw", "15=1"} << 2 << "'15=1'";
    QTest::newRow("faults for a chamber that is not there")
        << QStringList{"--chamber", "1", "--fault-address", "2"} << 2 << "not one of the chambers";
}

void tst_ChamberSim::commandLineRejectsBadArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QProcess sim;
    sim.start(SIM_BINARY, arguments);
    QVERIFY(sim.waitForFinished(kEventTimeoutMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), exitCode);
    const QString output =
        QString::fromUtf8(sim.readAllStandardOutput() + sim.readAllStandardError());
    QVERIFY2(output.contains(says), qPrintable(output));
}

QTEST_GUILESS_MAIN(tst_ChamberSim)
#include "tst_ChamberSim.moc"

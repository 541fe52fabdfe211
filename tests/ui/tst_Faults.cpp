// Faults around the finished program: a serial device that vanishes and returns, interference
// on the line, a log disk that refuses or fills up, and entries that no keyboard filter stops.
// Each case checks what the operator sees and that nothing already collected is lost or falsified.
#include "AppFixture.h"
#include "ChamberSelection.h"
#include "ControlLine.h"
#include "FileBytes.h"
#include "HexBytes.h"
#include "ModbusFrames.h"
#include "SimulatedLine.h"
#include "TypeCharacters.h"
#include "core/ControlFrames.h"
#include "core/LogFormat.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "TimingSlack.h"
#include "UnprivilegedChild.h"

using namespace PortUnit;
using namespace std::chrono_literals;

namespace {

void ClickLogCheckBox() {
    QTest::mouseClick(Form1->CheckBox1, Qt::LeftButton, {},
                      QPoint(8, Form1->CheckBox1->height() / 2));
}

// The bytes one write of the log puts on the disk: the text in Windows-1251 and its line end.
QByteArray LogBytes(const QString &text) { return LogLineBytes(text); }

// Ticks "Запись в файл" and points the log at `path`; the test then plays the timers itself.
// The tick names a file in the folder of `path`, not next to the executable, which an
// unprivileged child may not even enter.
void StartLoggingTo(const QString &path) {
    LogFolder = QFileInfo(path).absolutePath() + QLatin1Char('/');
    Form1->CheckBox1->setEnabled(true);
    Form1->CheckBox1->setChecked(true);
    Form1->Timer6->stop();
    LogFileName = path;
}

// A record composed as a reading cycle would with `temperature`, appended by a tick of Timer4.
// Returns the bytes the record adds to the file.
QByteArray AppendRecord(const QString &temperature) {
    CurrentTemperatureText = temperature;
    ProgramText = QStringLiteral("2");
    StepText = QStringLiteral("3(12)");
    CycleText = QStringLiteral("2(5)");
    PortUnit::ComposeLogRecord();
    RunHandler([] { Form1->Timer4Timer(); });
    return LogBytes(LogRecord);
}

// Writes a file until the file system has no page left.
void FillUp(const QString &path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    const std::vector<char> page(4096, 'x');
    while (::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size())) {
    }
    ::close(fd);
}

// --- The line ----------------------------------------------------------------------------

using Registers = std::array<std::uint16_t, 15>;

// Registers of the chamber under test: 23.5 °C. Register 3, which the program does not use,
// holds the bytes "address 1, function 4", and registers 4 and 5 go on as byte count 30 and a
// temperature of 30.0 °C. A reply knocked off index 0 thus still matches at index 9 (the cycle
// ends after one attempt; one without any match takes 16 s), a reply whose tail lands at index 0
// starts with a plausible header, and decoding anything but a whole, checked reply at index 0
// shows 30.
constexpr Registers kChamberRegisters{235, 2, 200, 0x0104, 0x1E01, 0x2C00, 1,  30,
                                      0,   0, 3,   12,     2,      5,      605};
const QString kRealTemperature = QStringLiteral("23,5");

// What each figure, kept text and log column holds now, with what the chamber's registers
// make of it and what it holds before any reply was accepted.
struct ShownValue {
    const char *where;
    QString text;
    QString real;
    QString start;
};

std::vector<ShownValue> ShownValues() {
    const auto logged = [](int column) {
        return LogRecord.section(QLatin1Char(';'), column, column).trimmed();
    };
    const QString zero = QStringLiteral("0"), noPair = QStringLiteral("0(0)"),
                  noTime = QStringLiteral("00:00"), none;
    return {{"Label5", Form1->Label5->text(), QStringLiteral("23,5"), zero},
            {"Label18", Form1->Label18->text(), QStringLiteral("20"), zero},
            {"Label17", Form1->Label17->text(), QStringLiteral("2"), zero},
            {"Label13", Form1->Label13->text(), QStringLiteral("3(12)"), noPair},
            {"Label20", Form1->Label20->text(), QStringLiteral("2(5)"), noPair},
            {"Label15", Form1->Label15->text(), QStringLiteral("01:30"), noTime},
            {"Label3", Form1->Label3->text(), QStringLiteral("10:05"), noTime},
            {"Label11", Form1->Label11->text(), noTime, noTime},
            {"Label19", Form1->Label19->text(), noTime, noTime},
            {"CurrentTemperatureText", CurrentTemperatureText, QStringLiteral("23,5"), none},
            {"SetTemperatureText", SetTemperatureText, QStringLiteral("20"), none},
            {"ProgramText", ProgramText, QStringLiteral("2"), none},
            {"StepText", StepText, QStringLiteral("3(12)"), none},
            {"CycleText", CycleText, QStringLiteral("2(5)"), none},
            {"logged temperature", logged(1), QStringLiteral("23,5"), none},
            {"logged program", logged(2), QStringLiteral("2"), none},
            {"logged step", logged(3), QStringLiteral("3(12)"), none},
            {"logged cycle", logged(4), QStringLiteral("2(5)"), none}};
}

// Every place that shows something other than the chamber's value or its start text.
QStringList WrongValuesShown() {
    QStringList wrong;
    for (const ShownValue &value : ShownValues()) {
        if (value.text != value.real && value.text != value.start && !value.text.isEmpty())
            wrong << QStringLiteral("%1 \"%2\"").arg(QLatin1String(value.where), value.text);
    }
    return wrong;
}

Registers WithTemperature(Registers registers, std::uint16_t temperature) {
    registers[0] = temperature;
    return registers;
}

void SetRegisters(SimulatedLine &line, int address, const Registers &registers) {
    for (int reg = 0; reg < 15; ++reg)
        line.setRawInput(address, reg, registers[static_cast<std::size_t>(reg)]);
}

enum class Interference { None, RandomBytes, StrayReply, ExceptionReply, BrokenCrcReply };

// Puts interference on the line after every other request the chamber receives, a random time
// after it (fixed seed), so that the bytes land before, inside or after the chamber's reply.
// The requests in between stay clean, so that every second attempt can be decoded.
class Interferer {
public:
    Interferer(SimulatedLine &line, Interference kind, int minDelayMs, int maxDelayMs)
        : line_(line), kind_(kind), delayMs_(minDelayMs, maxDelayMs), rng_(20171209),
          thread_([this] { run(); }) {}
    ~Interferer() {
        stop_ = true;
        thread_.join();
    }
    Interferer(const Interferer &) = delete;
    Interferer &operator=(const Interferer &) = delete;

private:
    void run() {
        std::size_t seen = 0;
        for (int request = 0; !stop_;) {
            if (!line_.waitForReceived(seen + 1, 50ms))
                continue;
            seen = line_.received().size();
            if (request++ % 2 != 0)
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_(rng_)));
            line_.injectNoise(bytes());
        }
    }

    std::vector<std::uint8_t> bytes() {
        switch (kind_) {
        case Interference::StrayReply:
            return ReadReply(2, WithTemperature(kChamberRegisters, 300));
        case Interference::ExceptionReply:
            return ExceptionReply(1, 4, 4);
        case Interference::BrokenCrcReply: {
            auto reply = ReadReply(1, WithTemperature(kChamberRegisters, 300));
            reply.back() ^= 0xFF;
            return reply;
        }
        default: {
            std::uniform_int_distribution<int> length(1, 4), value(0, 255);
            std::vector<std::uint8_t> noise(static_cast<std::size_t>(length(rng_)));
            for (auto &byte : noise)
                byte = static_cast<std::uint8_t>(value(rng_));
            return noise;
        }
        }
    }

    SimulatedLine &line_;
    Interference kind_;
    std::uniform_int_distribution<int> delayMs_;
    std::mt19937 rng_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// --- The control window --------------------------------------------------------------------

enum class Outcome { Frames, ErrorWindow, NotAnInteger };

// How the log's disk runs out of room.
enum class Shortage { DevFull, SmallTmpfs, FileSizeLimit };

QString NotAnIntegerText(const QString &text) {
    return QStringLiteral("'%1' is not a valid integer value.").arg(text);
}

// What the operator sees after a command: the frames on the line, a new error window, or the
// conversion message, and never two of them.
void CheckOutcome(ControlLine &control, std::size_t windowsBefore, Outcome outcome,
                  const std::vector<Frame> &expectedFrames, const QString &failedText) {
    if (outcome != Outcome::Frames)
        std::this_thread::sleep_for(100ms); // a frame written by mistake would arrive by now
    const auto frames = control.frames(expectedFrames.size());
    QCOMPARE(HexTexts(frames), HexTexts(expectedFrames));
    QCOMPARE(InputErrorWindows.size(), windowsBefore + (outcome == Outcome::ErrorWindow ? 1 : 0));
    if (outcome == Outcome::NotAnInteger)
        QCOMPARE(control.app.errorBoxes, QStringList{NotAnIntegerText(failedText)});
    else
        QCOMPARE(control.app.errorBoxes, QStringList());
}

} // namespace

Q_DECLARE_METATYPE(chambersim::ChamberFaults)
Q_DECLARE_METATYPE(Interference)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Shortage)

class tst_Faults : public QObject {
    Q_OBJECT

private slots:
    // Takes about 20 s: one reading cycle finds no reply in 20 attempts of 800 ms.
    void serialDeviceVanishesAndReturns() {
        AppFixture app;
        auto line = std::make_unique<SimulatedLine>(std::vector<int>{1});
        SetRegisters(*line, 1, kChamberRegisters);
        app.openPort(line->slavePath());
        SelectChamber(1);
        Form1->Button6Click();
        QCOMPARE(Form1->Label5->text(), kRealTemperature);

        line->closeMaster();
        std::this_thread::sleep_for(300ms); // the hang-up reaches the receive thread
        const auto before = Port.receiverCpuTime();
        std::this_thread::sleep_for(2s);
        const auto used = Port.receiverCpuTime() - before;
        const auto usedMs = std::chrono::duration_cast<std::chrono::milliseconds>(used).count();
        QVERIFY2(used < 50ms * kTimingSlack,
                 qPrintable(QStringLiteral("receive thread: %1 ms of CPU in 2 s").arg(usedMs)));

        QElapsedTimer cycle;
        cycle.start();
        Form1->Timer1Timer();
        QVERIFY(cycle.elapsed() >= kReadAttempts * kReadWaitMs);
        QVERIFY(Form5->isVisible());
        QCOMPARE(Form1->Label5->text(), QStringLiteral("0"));
        QCOMPARE(ReadingActive, 0);
        QVERIFY(!Form1->Timer1->isActive());
        QCOMPARE(PollBusy, 0);
        QVERIFY(app.errorBoxes.isEmpty());

        // The adapter comes back under another name; the operator opens it again.
        auto returned = std::make_unique<SimulatedLine>(std::vector<int>{1});
        QVERIFY(returned->slavePath() != line->slavePath());
        line = std::move(returned);
        SetRegisters(*line, 1, WithTemperature(kChamberRegisters, 236));
        qputenv("KALVORA_COM1", line->slavePath().toLocal8Bit());
        QVERIFY(!Form1->Button5->isEnabled());
        Form1->ComboBox1->activated(0);
        QVERIFY(Form1->Button5->isEnabled());
        QTest::mouseClick(Form1->Button5, Qt::LeftButton);
        QVERIFY(!Form1->Button5->isEnabled());
        QTest::mouseClick(Form1->Button6, Qt::LeftButton);
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,6"));
        QVERIFY(!Form5->isVisible());
        QCOMPARE(ReadingActive, 1);
        QCOMPARE(line->bus().requestCount(1), 1);
        QVERIFY(app.errorBoxes.isEmpty());
    }

    void interferenceNeverShowsAWrongValue_data() {
        QTest::addColumn<chambersim::ChamberFaults>("faults");
        QTest::addColumn<Interference>("interference");
        QTest::addColumn<int>("minDelayMs");
        QTest::addColumn<int>("maxDelayMs");
        QTest::addColumn<bool>("someCycleDecodes");

        chambersim::ChamberFaults byteByByte, split, delayed;
        byteByByte.byteByByte = true; // 6 ms on the line: noise can fall inside
        // Two reads, 40 ms apart: the second piece goes after the first, not over it.
        split.splitGapMs = 40;
        split.splitFirstLength = 9;
        delayed.replyDelayMs = 20; // interference 0..45 ms after the request: before or after it
        QTest::newRow("random bytes around and inside replies")
            << byteByByte << Interference::RandomBytes << 0 << 8 << true;
        QTest::newRow("reply in two reads")
            << split << Interference::None << 0 << 0 << true;
        QTest::newRow("stray reply of chamber 2")
            << delayed << Interference::StrayReply << 0 << 45 << true;
        QTest::newRow("exception reply")
            << delayed << Interference::ExceptionReply << 0 << 45 << true;
        QTest::newRow("reply with another value and a broken CRC")
            << delayed << Interference::BrokenCrcReply << 0 << 45 << true;
    }
    void interferenceNeverShowsAWrongValue() {
        QFETCH(chambersim::ChamberFaults, faults);
        QFETCH(Interference, interference);
        QFETCH(int, minDelayMs);
        QFETCH(int, maxDelayMs);
        QFETCH(bool, someCycleDecodes);
        constexpr int kCycles = 6;

        AppFixture app;
        SimulatedLine line({1});
        SetRegisters(line, 1, kChamberRegisters);
        line.setFaults(1, faults);
        std::optional<Interferer> interferer;
        if (interference != Interference::None)
            interferer.emplace(line, interference, minDelayMs, maxDelayMs);
        app.openPort(line.slavePath());
        SelectChamber(1);

        bool decoded = false;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            if (cycle == 0)
                Form1->Button6Click();
            else
                Form1->Timer1Timer();
            const QStringList wrong = WrongValuesShown();
            QVERIFY2(wrong.isEmpty(),
                     qPrintable(QStringLiteral("cycle %1: ").arg(cycle) + wrong.join(", ")));
            decoded = decoded || Form1->Label5->text() == kRealTemperature;
        }
        QCOMPARE(decoded, someCycleDecodes);
        QVERIFY(!Form5->isVisible());
        QCOMPARE(ReadingActive, 1);
        QVERIFY(app.errorBoxes.isEmpty());
    }

    // As root every file is writable, so the append runs in an unprivileged child.
    void fileMadeReadOnlyKeepsItsRecords() {
        if (geteuid() != 0)
            QSKIP("needs root to start the unprivileged child");
        const QString dir =
            QDir::temp().filePath(QStringLiteral("kalvora-ro-log-%1").arg(getpid()));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
        const QString path = dir + QStringLiteral("/ЖЫМ№1 09.12.2017 14_05_33.txt");
        QByteArray expected;
        {
            AppFixture app;
            StartLoggingTo(path);
            RunHandler([] { Form1->Timer6Timer(); });
            expected = LogBytes(LogHeader());
            expected += AppendRecord(QStringLiteral("23,5"));
            expected += AppendRecord(QStringLiteral("23,6"));
            QCOMPARE(ReadAll(path), expected);
            QVERIFY(app.errorBoxes.isEmpty());
        }
        QVERIFY(
            QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 0, 0), 0);

        const ChildResult child = RunTestFunctionAsNobody(
            QStringLiteral("readOnlyLogInChild"), QStringLiteral("KALVORA_TEST_READ_ONLY_LOG"), path);
        const QByteArray after = ReadAll(path);
        QDir(dir).removeRecursively();
        QVERIFY2(child.passed, child.output.constData());
        QCOMPARE(after, expected);
    }

    // Run by the case above as an unprivileged user: the append and a new creation are refused.
    void readOnlyLogInChild() {
        const QByteArray path = qgetenv("KALVORA_TEST_READ_ONLY_LOG");
        if (path.isEmpty())
            QSKIP("runs only as the child of fileMadeReadOnlyKeepsItsRecords");
        AppFixture app;
        StartLoggingTo(QString::fromLocal8Bit(path));
        Form1->Timer4->start();
        const qsizetype before = app.errorBoxes.size(); // only the two handlers' boxes count
        AppendRecord(QStringLiteral("23,7"));
        RunHandler([] { Form1->Timer6Timer(); });
        QCOMPARE(app.errorBoxes.mid(before), QStringList({QStringLiteral("File access denied."),
                                                          QStringLiteral("File access denied.")}));
        // The program goes on: logging stays ticked, the timers and the clock run.
        QVERIFY(Form1->CheckBox1->isChecked());
        QVERIFY(Form1->Timer4->isActive());
        Form1->Label8->clear();
        QTRY_VERIFY_WITH_TIMEOUT(!Form1->Label8->text().isEmpty(), kEventTimeoutMs);
    }

    void deletedFileIsNotRecreatedAndTickingAgainStartsANewOne() {
        AppFixture app;
        SimulatedLine line({3});
        SetRegisters(line, 3, kChamberRegisters);
        app.openPort(line.slavePath());
        SelectChamber(3);
        Form1->Button6Click();
        const QByteArray header = LogBytes(LogHeader());

        ClickLogCheckBox();
        Form1->Timer6->stop(); // the test plays Timer6 and Timer4
        Form1->Timer1Timer();
        const QString first = LogFileName;
        QString second;
        const auto removeFiles = qScopeGuard([&] {
            QFile::remove(first);
            QFile::remove(second);
        });
        QVERIFY(!first.contains(QLatin1Char('>')));
        RunHandler([] { Form1->Timer6Timer(); });
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(ReadAll(first), header + LogBytes(LogRecord));

        QVERIFY(QFile::remove(first));
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer4Timer(); });
        const QString notFound = QStringLiteral("The specified file was not found.");
        QCOMPARE(app.errorBoxes, QStringList{notFound});
        QVERIFY(!QFile::exists(first));
        // Reading goes on, and so do the attempts to append, each reported.
        SetRegisters(line, 3, WithTemperature(kChamberRegisters, 237));
        Form1->Timer1Timer();
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,7"));
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(app.errorBoxes, QStringList({notFound, notFound}));
        QVERIFY(!QFile::exists(first));

        ClickLogCheckBox();
        QVERIFY(!Form1->CheckBox1->isChecked());
        ClickLogCheckBox();
        QVERIFY(Form1->CheckBox1->isChecked());
        Form1->Timer6->stop();
        Form1->Timer1Timer();
        second = LogFileName;
        QVERIFY(second != first); // cycles of 800 ms since the first name: another second
        RunHandler([] { Form1->Timer6Timer(); });
        Form1->Timer1Timer();
        RunHandler([] { Form1->Timer4Timer(); });
        QCOMPARE(ReadAll(second), header + LogBytes(LogRecord));
        QVERIFY(LogRecord.contains(QStringLiteral(";           23,7;")));
        QCOMPARE(app.errorBoxes.size(), 2);
        QVERIFY(!QFile::exists(first));
    }

    void fullDiskKeepsEveryEarlierRecord_data() {
        QTest::addColumn<Shortage>("shortage");
        QTest::addColumn<QString>("message");
        const QString diskFull = QStringLiteral("Disk full.");
        QTest::newRow("symlink to /dev/full in place of the file") << Shortage::DevFull << diskFull;
        QTest::newRow("small tmpfs that fills up mid-record") << Shortage::SmallTmpfs << diskFull;
        // Runs anywhere, root or not, container or not: the write stops short at the limit.
        QTest::newRow("file size limit reached mid-record")
            << Shortage::FileSizeLimit << QStringLiteral("I/O error %1.").arg(EFBIG);
    }
    void fullDiskKeepsEveryEarlierRecord() {
        QFETCH(Shortage, shortage);
        QFETCH(QString, message);
        // A resource limit holds for the whole process: the row runs again in a child.
        const char *const inChild = "KALVORA_TEST_FILE_SIZE_LIMIT";
        if (shortage == Shortage::FileSizeLimit && qEnvironmentVariableIsEmpty(inChild)) {
            const ChildResult child = RunTestFunctionInChild(
                QStringLiteral("fullDiskKeepsEveryEarlierRecord:") +
                    QString::fromUtf8(QTest::currentDataTag()),
                QString::fromLatin1(inChild), QStringLiteral("1"), ChildUser::Same);
            QVERIFY2(child.passed, child.output.constData());
            return;
        }
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        const bool smallFileSystem = shortage == Shortage::SmallTmpfs;
        if (smallFileSystem &&
            ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs here: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        const auto unmount = qScopeGuard([&] {
            if (smallFileSystem)
                ::umount2(mountPoint.constData(), MNT_DETACH);
        });
        const QString path = dir.filePath(QStringLiteral("ЖЫМ№1 09.12.2017 14_05_33.txt"));
        const QString kept = path + QStringLiteral(".kept");
        const QString filler = dir.filePath(QStringLiteral("filler"));

        AppFixture app;
        StartLoggingTo(path);
        RunHandler([] { Form1->Timer6Timer(); });
        QByteArray expected = LogBytes(LogHeader());
        expected += AppendRecord(QStringLiteral("23,5"));
        expected += AppendRecord(QStringLiteral("-40"));
        QCOMPARE(ReadAll(path), expected);

        rlimit unlimited{};
        switch (shortage) {
        case Shortage::SmallTmpfs:
            FillUp(filler);
            // The log's last page still has room: records go in until one does not fit.
            for (int record = 0; record < 100 && app.errorBoxes.isEmpty(); ++record) {
                const QByteArray bytes = AppendRecord(QString::number(record));
                if (app.errorBoxes.isEmpty())
                    expected += bytes;
            }
            break;
        case Shortage::FileSizeLimit: {
            // The next record ends ten bytes past the limit: its first write stops short, the
            // one after it fails with EFBIG (SIGXFSZ ignored, as it would otherwise end us).
            std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
            rlimit limited = unlimited;
            limited.rlim_cur = static_cast<rlim_t>(expected.size()) + 10;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            AppendRecord(QStringLiteral("23,7"));
            break;
        }
        case Shortage::DevFull:
            QVERIFY(QFile::rename(path, kept));
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
            AppendRecord(QStringLiteral("23,7"));
            break;
        }
        QCOMPARE(app.errorBoxes, QStringList{message});
        QVERIFY(Form1->Timer4->isActive());
        QVERIFY(Form1->CheckBox1->isChecked());
        // No torn record: the file holds exactly what was written before.
        QCOMPARE(ReadAll(shortage == Shortage::DevFull ? kept : path), expected);

        // With room again, the next tick appends to the same file.
        switch (shortage) {
        case Shortage::SmallTmpfs:
            QVERIFY(QFile::remove(filler));
            break;
        case Shortage::FileSizeLimit:
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
            break;
        case Shortage::DevFull:
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::rename(kept, path));
            break;
        }
        expected += AppendRecord(QStringLiteral("23,8"));
        QCOMPARE(app.errorBoxes.size(), 1);
        QCOMPARE(ReadAll(path), expected);
    }

    // Entries that are pasted, or typed as the filter allows, reach the commands as they are.
    void setPointTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("value");
        const auto frame = [](const char *name, const QString &text, int value) {
            QTest::newRow(name) << text << Outcome::Frames << value;
        };
        const auto window = [](const char *name, const QString &text) {
            QTest::newRow(name) << text << Outcome::ErrorWindow << 0;
        };
        const auto notAnInteger = [](const char *name, const QString &text) {
            QTest::newRow(name) << text << Outcome::NotAnInteger << 0;
        };
        notAnInteger("10,000 nines", QString(10000, QLatin1Char('9')));
        frame("10,000 characters of leading zeros", QString(9999, QLatin1Char('0')) + u'7', 7);
        notAnInteger("99999999999", QStringLiteral("99999999999"));
        notAnInteger("2^31", QStringLiteral("2147483648"));
        window("2^31 - 1", QStringLiteral("2147483647"));
        window("-2^31", QStringLiteral("-2147483648"));
        notAnInteger("2^32 + 180 (no wrap to 180)", QStringLiteral("4294967476"));
        frame("-0", QStringLiteral("-0"), 0);
        frame("007", QStringLiteral("007"), 7);
        frame("0x0B4", QStringLiteral("0x0B4"), 180);
        frame("$B4", QStringLiteral("$B4"), 180);
        window("$FF", QStringLiteral("$FF"));
        window("-$B4", QStringLiteral("-$B4"));
        frame("$FFFFFFB4 (32-bit pattern)", QStringLiteral("$FFFFFFB4"), -76);
        notAnInteger("nine hex digits (no truncation to $B4)", QStringLiteral("$1000000B4"));
        notAnInteger("--7", QStringLiteral("--7"));
        notAnInteger("7-", QStringLiteral("7-"));
        frame("blank then 7", QStringLiteral(" 7"), 7);
        notAnInteger("7 then blank", QStringLiteral("7 "));
        notAnInteger("tab then 7", QStringLiteral("\t7"));
        notAnInteger("blanks only", QStringLiteral("   "));
        window("empty", QString());
        notAnInteger("Arabic-Indic three", QStringLiteral("٣"));
        notAnInteger("full-width seven", QStringLiteral("７"));
        notAnInteger("1e2", QStringLiteral("1e2"));
        frame("+5", QStringLiteral("+5"), 5);
    }
    void setPointTexts() {
        QFETCH(QString, text);
        QFETCH(Outcome, outcome);
        QFETCH(int, value);
        ControlLine control;
        const std::size_t windowsBefore = InputErrorWindows.size();
        Form3->Edit3->setText(text); // pasted: the keystroke filter sees typed characters only
        QTest::mouseClick(Form3->Button4, Qt::LeftButton);
        std::vector<Frame> frames;
        if (outcome == Outcome::Frames)
            frames.push_back(BuildSetPointFrame(1, value));
        CheckOutcome(control, windowsBefore, outcome, frames, text);
    }

    void programTexts_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("cycles");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QList<QList<int>>>("values"); // the converted cells of each frame
        QTest::addColumn<int>("cycleCount");
        QTest::addColumn<QString>("failedText");
        const QList<QList<int>> none;
        QTest::newRow("hex, signs and leading zeros in every column")
            << "+1"
            << "$3E7" << QList<QStringList>{{"0x0B4", " 07", "-0", "x63", "$3B"}} << Outcome::Frames
            << QList<QList<int>>{{180, 7, 0, 99, 59}} << 999 << "";
        QTest::newRow("10,000 characters for the number of steps")
            << QString(9999, QLatin1Char('0')) + u'2' << "1"
            << QList<QStringList>{{"-85", "0", "0", "0", "0"}, {"-1", "1", "1", "1", "1"}}
            << Outcome::Frames << QList<QList<int>>{{-85, 0, 0, 0, 0}, {-1, 1, 1, 1, 1}} << 1 << "";
        QTest::newRow("minutes -1 as a 32-bit pattern")
            << "1"
            << "1" << QList<QStringList>{{"20", "0", "$FFFFFFFF", "0", "0"}} << Outcome::ErrorWindow
            << none << 0 << "";
        QTest::newRow("Arabic-Indic digit in a cell")
            << "1"
            << "1" << QList<QStringList>{{"20", "٣", "0", "0", "0"}} << Outcome::NotAnInteger
            << none << 0 << "٣";
        QTest::newRow("cycles 2^32 + 1 (no wrap to 1)")
            << "1"
            << "4294967297" << QList<QStringList>{{"20", "0", "0", "0", "0"}}
            << Outcome::NotAnInteger << none << 0 << "4294967297";
        QTest::newRow("full-width digit as the number of steps")
            << "１"
            << "1" << QList<QStringList>{{"20", "0", "0", "0", "0"}} << Outcome::NotAnInteger
            << none << 0 << "１";
    }
    void programTexts() {
        QFETCH(QString, steps);
        QFETCH(QString, cycles);
        QFETCH(QList<QStringList>, rows);
        QFETCH(Outcome, outcome);
        QFETCH(QList<QList<int>>, values);
        QFETCH(int, cycleCount);
        QFETCH(QString, failedText);
        ControlLine control;
        const std::size_t windowsBefore = InputErrorWindows.size();
        Form3->ComboBox1->setCurrentIndex(4);
        Form3->Edit1->setText(steps);
        Form3->Edit2->setText(cycles);
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c)
                Form3->setCellText(r + 1, c + 1, rows[r][c]);
        QTest::mouseClick(Form3->Button1, Qt::LeftButton);

        std::vector<Frame> frames;
        const int stepCount = static_cast<int>(values.size());
        for (int r = 0; r < stepCount; ++r) {
            const QList<int> &v = values[r];
            const StepValues step{v[0], v[1], v[2], v[3], v[4]};
            frames.push_back(BuildStepFrame(1, 5, r + 1, step, stepCount, cycleCount));
        }
        CheckOutcome(control, windowsBefore, outcome, frames, failedText);
    }

    void foreignDigitsAreNotTyped_data() {
        QTest::addColumn<QString>("edit");
        QTest::newRow("number of steps") << "Edit1";
        QTest::newRow("number of cycles") << "Edit2";
        QTest::newRow("set-point") << "Edit3";
    }
    void foreignDigitsAreNotTyped() {
        QFETCH(QString, edit);
        AppFixture app;
        const QString typed = QStringLiteral("a+٣７ 1-2b٣٤");
        QLineEdit unfiltered;
        TypeCharacters(&unfiltered, typed);
        QCOMPARE(unfiltered.text(), typed); // the keys do carry these characters
        auto *box = Form3->findChild<QLineEdit *>(edit);
        QVERIFY(box);
        TypeCharacters(box, typed);
        QCOMPARE(box->text(), QStringLiteral("1-2"));
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_Faults.moc"

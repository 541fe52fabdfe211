// The window program on a bus that the logger shares: a real `kalvora-cli log --share` logs
// chambers 1 to 3 against the simulated line while the window, its COM2 mapped to the shared link
// in ports.conf, scans, reads chamber 2 and writes a program to it.
#include "AppFixture.h"
#include "FileBytes.h"
#include "HexBytes.h"
#include "SentFrames.h"
#include "SimulatedLine.h"
#include "TimingSlack.h"

#include "core/ControlFrames.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <optional>

using namespace PortUnit;
using Clock = std::chrono::steady_clock;
using Frame = std::vector<std::uint8_t>;

namespace {

constexpr int kPeriodSeconds = 4;

QStringList Entries() {
    QStringList entries;
    for (int i = 0; i < Form1->ListBox1->count(); ++i)
        entries << Form1->ListBox1->item(i)->text();
    return entries;
}

void ClickEntry(const QString &text) {
    const auto found = Form1->ListBox1->findItems(text, Qt::MatchExactly);
    QVERIFY(found.size() == 1);
    const QRect place = Form1->ListBox1->visualItemRect(found.first());
    QTest::mouseClick(Form1->ListBox1->viewport(), Qt::LeftButton, {}, place.center());
    QVERIFY(found.first()->isSelected());
}

// Seconds of day of a chamber's CSV rows.
QList<int> CsvSeconds(const QDir &dir, int chamber) {
    const QStringList files =
        dir.entryList({QStringLiteral("*%1 *.csv").arg(chamber)}, QDir::Files, QDir::Name);
    static const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT(\\d\\d):(\\d\\d):(\\d\\d)"));
    QList<int> seconds;
    for (const QString &file : files)
        for (const QByteArray &line : ReadAll(dir.filePath(file)).split('\n')) {
            const auto match = time.match(QString::fromUtf8(line));
            if (match.hasMatch())
                seconds << match.captured(1).toInt() * 3600 + match.captured(2).toInt() * 60 +
                               match.captured(3).toInt();
        }
    return seconds;
}

// The length of a chamber's reply to a request, none for an address without a chamber.
std::size_t ReplyLength(const Frame &request) {
    if (request.size() < 6 || request[0] < 1 || request[0] > 3)
        return 0;
    return request[1] == 4 ? 5 + 2 * std::size_t{request[5]} : 8;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

class tst_SharedBus : public QObject {
    Q_OBJECT

private slots:
    void windowWritesAProgramWhileTheLoggerLogs() {
        QTemporaryDir dir;
        SimulatedLine line({1, 2, 3});
        line.setLineSpeed(true);
        line.setTemperatures(2, 235, 200);
        const QString link = dir.filePath(QStringLiteral("bench1-COM2"));
        QDir(dir.path()).mkpath(QStringLiteral("config/kalvora"));
        QDir(dir.path()).mkpath(QStringLiteral("logs"));
        QFile ports(dir.filePath(QStringLiteral("config/kalvora/ports.conf")));
        QVERIFY(ports.open(QIODevice::WriteOnly));
        ports.write("COM2=" + QFile::encodeName(link) + "\n");
        ports.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
        qunsetenv("KALVORA_COM2");

        QProcess logger;
        logger.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        logger.start(QStringLiteral(CLI_BINARY),
                     {"log", "1,2,3", "--csv", "--period", QString::number(kPeriodSeconds), "--dir",
                      dir.filePath(QStringLiteral("logs")), "--port", line.slavePath(), "--share",
                      link});
        QVERIFY(logger.waitForStarted());
        const auto stopLogger = qScopeGuard([&logger] {
            if (logger.state() != QProcess::NotRunning) {
                logger.kill();
                logger.waitForFinished();
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), kEventTimeoutMs);
        const auto start = Clock::now();

        AppFixture app;
        SentFrames sending;
        Form1->ComboBox1->setCurrentIndex(1); // COM2
        Form1->ComboBox1Change();
        Form1->Button5->click();
        QVERIFY2(Port.isOpen(), qPrintable(app.errorBoxes.join(QLatin1Char('\n'))));

        for (int address = 0; address <= 5; ++address)
            ProbeAddress(address);
        QCOMPARE(Entries(), QStringList({QStringLiteral("Камера №1"), QStringLiteral("Камера №2"),
                                         QStringLiteral("Камера №3")}));

        ClickEntry(QStringLiteral("Камера №2"));
        Form1->Button6->click();
        QCOMPARE(Form1->Label5->text(), QStringLiteral("23,5"));
        Form1->Button6->click(); // reading off again

        Form1->Button2->click();
        Form3->ComboBox1->setCurrentIndex(4);
        Form3->Edit1->setText(QStringLiteral("3"));
        Form3->Edit2->setText(QStringLiteral("2"));
        const QStringList rows{"-40,1,30,0,45", "25,0,5,0,10", "80,2,0,1,0"};
        for (int r = 0; r < rows.size(); ++r) {
            const QStringList cells = rows[r].split(QLatin1Char(','));
            for (int c = 0; c < cells.size(); ++c)
                Form3->setCellText(r + 1, c + 1, cells[c]);
        }
        Form3->Button1->click();
        QVERIFY2(app.errorBoxes.isEmpty(), qPrintable(app.errorBoxes.join(QLatin1Char('\n'))));

        // The program as the window wrote it arrives whole, each step at least the window's
        // pause after the last.
        const auto isWrite = [](const Frame &f) { return f.size() > 1 && f[1] == 16; };
        std::vector<Frame> written;
        for (const Frame &f : sending.frames())
            if (isWrite(f))
                written.push_back(f);
        QCOMPARE(written.size(), std::size_t(3));
        std::vector<ReceivedFrame> arrived;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                arrived.clear();
                for (const ReceivedFrame &f : line.received())
                    if (isWrite(f.bytes))
                        arrived.push_back(f);
                return arrived.size() >= 3;
            }(),
            kEventTimeoutMs);
        QCOMPARE(arrived.size(), std::size_t(3));
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(HexText(arrived[i].bytes), HexText(written[i]));
            QCOMPARE(arrived[i].bytes[0], std::uint8_t(2));
            QCOMPARE(arrived[i].bytes[10], std::uint8_t(i + 1)); // the step
            if (i > 0)
                QVERIFY2(
                    arrived[i].at - arrived[i - 1].at >= std::chrono::milliseconds(kCommandPauseMs),
                    qPrintable(QString::number(Milliseconds(arrived[i].at - arrived[i - 1].at))));
        }
        QCOMPARE(line.holdingRegisters(2)[2], std::uint16_t(80)); // step 3's temperature

        // The logger's rounds go on for two more periods, then it stops.
        QTest::qWait(2 * kPeriodSeconds * 1000);
        ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
        QVERIFY(logger.waitForFinished(kEventTimeoutMs));
        QCOMPARE(logger.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        const double spanSeconds = std::chrono::duration<double>(Clock::now() - start).count();

        // No gap in any chamber's records: whole seconds, so a reading a moment late may show
        // one second more than it was.
        const QDir logs(dir.filePath(QStringLiteral("logs")));
        for (int chamber = 1; chamber <= 3; ++chamber) {
            const QList<int> seconds = CsvSeconds(logs, chamber);
            QVERIFY2(seconds.size() >= static_cast<int>(spanSeconds / kPeriodSeconds) - 1,
                     qPrintable(QStringLiteral("chamber %1: %2 rows in %3 s")
                                    .arg(chamber)
                                    .arg(seconds.size())
                                    .arg(spanSeconds)));
#ifndef KALVORA_SANITIZED
            for (qsizetype i = 1; i < seconds.size(); ++i)
                QVERIFY2(seconds[i] - seconds[i - 1] <= kPeriodSeconds * 3 / 2,
                         qPrintable(QStringLiteral("chamber %1: %2 s between rows")
                                        .arg(chamber)
                                        .arg(seconds[i] - seconds[i - 1])));
#endif
        }

        // The line never carried two frames at once: every request was taken whole, and what
        // the chambers sent between two requests was exactly the first one's reply.
        const auto received = line.received();
        const auto sent = line.sent();
        for (std::size_t i = 0; i < received.size(); ++i) {
            QVERIFY2(received[i].isRequest, qPrintable(HexText(received[i].bytes)));
            const auto until =
                i + 1 < received.size() ? received[i + 1].at : Clock::time_point::max();
            std::size_t bytes = 0;
            for (const SentChunk &chunk : sent)
                if (chunk.at >= received[i].at && chunk.at < until)
                    bytes += chunk.bytes.size();
            QVERIFY2(bytes == ReplyLength(received[i].bytes),
                     qPrintable(QStringLiteral("%1: %2 bytes before the next request")
                                    .arg(HexText(received[i].bytes))
                                    .arg(bytes)));
        }

        // How long the window's requests waited for the bus: the scan's probes and the program's
        // frames, whose bytes the logger never sends itself. Each request that reached the bus
        // is the window's latest of its bytes written before it: an older one not yet sent was
        // replaced by it.
        const auto windowTimes = sending.times();
        const auto windowFrames = sending.frames();
        std::vector<double> waits, writeWaits;
        for (const ReceivedFrame &r : received) {
            const Frame &f = r.bytes;
            if (!isWrite(f) && !(f.size() == 8 && f[1] == 4 && f[5] == 3))
                continue;
            // The window's record of a write is taken when the write has returned: on a busy
            // machine the relay may have passed it on a moment before.
            std::optional<Clock::time_point> writtenAt;
            for (std::size_t j = 0; j < windowFrames.size(); ++j)
                if (windowFrames[j] == f && (!writtenAt || windowTimes[j] <= r.at))
                    writtenAt = windowTimes[j];
            QVERIFY2(writtenAt, qPrintable(HexText(f)));
            waits.push_back(std::max(0.0, Milliseconds(r.at - *writtenAt)));
            if (isWrite(f))
                writeWaits.push_back(waits.back());
        }
        QVERIFY(!waits.empty());
        std::sort(waits.begin(), waits.end());
        qInfo("client requests through the shared link waited %.1f ms (median), %.1f ms (worst), "
              "%zu requests",
              waits[waits.size() / 2], waits.back(), waits.size());
        // A program step after the first is held on purpose: it keeps the window's own pause
        // after the step before, plus the relay's margin.
        std::sort(writeWaits.begin(), writeWaits.end());
        qInfo("of which the program's %zu writes waited %.1f ms (median), %.1f ms (worst)",
              writeWaits.size(), writeWaits[writeWaits.size() / 2], writeWaits.back());
    }
};

QTEST_MAIN(tst_SharedBus)
#include "tst_SharedBus.moc"

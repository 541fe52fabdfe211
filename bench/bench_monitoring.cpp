// Measures the monitoring path with the real windows (offscreen) against the simulator, which
// runs as a separate process so that its CPU time is not counted here.
//   kalvora-bench exchange           extra time of a probe and of a reading attempt
//   kalvora-bench cpu                CPU use while reading every 4 s, and idle after a cycle
//   kalvora-bench soak MINUTES [M]   reading and logging for MINUTES with two chambers,
//                                    switching chamber every M minutes (default 5)
//   kalvora-bench demo-log MINUTES   chamber 1 runs a short program (simulated time 15 times
//                                    faster, 0.5 °C a simulated minute) while the window logs;
//                                    keeps the log and prints its path (the README's chart)
#include "AppShell.h"
#include "ApplicationWindows.h"
#include "PortUnit.h"
#include "Unit3.h"
#include "main.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <unistd.h>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace PortUnit;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// A local loop: QApplication::quit() would close the windows, and the main window's closing
// closes the port.
void RunEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

class Simulator {
public:
    explicit Simulator(const QStringList &chambers,
                       const QStringList &pace = {QStringLiteral("--speed-up"),
                                                  QStringLiteral("60")}) {
        link_ = QDir::temp().filePath(QStringLiteral("kalvora-bench-%1").arg(getpid()));
        QStringList args = QStringList{QStringLiteral("--link"), link_} + pace;
        for (const QString &address : chambers)
            args << QStringLiteral("--chamber") << address;
        // KALVORA_BENCH_SIM_LOG=file keeps the simulator's frame trace for a failed run.
        if (const QString trace = qEnvironmentVariable("KALVORA_BENCH_SIM_LOG"); !trace.isEmpty()) {
            args << QStringLiteral("--verbose");
            process_.setStandardOutputFile(trace);
        }
        process_.start(QApplication::applicationDirPath() +
                           QStringLiteral("/../kalvora-chamber-sim"),
                       args);
        process_.waitForReadyRead(5000);
        qputenv("KALVORA_COM1", link_.toLocal8Bit());
    }
    ~Simulator() {
        process_.terminate();
        process_.waitForFinished(3000);
    }

private:
    QString link_;
    QProcess process_;
};

void OpenAndSelect(int chamber) {
    Form1->ComboBox1->setCurrentIndex(0);
    Form1->ComboBox1Change();
    Form1->Button5Click();
    Form1->ListBox1->addItem(QStringLiteral("Камера №1"));
    Form1->ListBox1->addItem(QStringLiteral("Камера №2"));
    Form1->ListBox1->item(chamber - 1)->setSelected(true);
    Form1->ListBox1Click();
}

int Exchange() {
    Simulator simulator({QStringLiteral("1")});
    OpenAndSelect(1);
    std::vector<double> probe, attempt;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        ProbeAddress(1);
        probe.push_back(t.nsecsElapsed() / 1e6 - kProbeWaitMs);
    }
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        ReadCurrentValues();
        attempt.push_back(t.nsecsElapsed() / 1e6 - kReadWaitMs);
    }
    std::printf("probe (answered at once): extra time beyond 160 ms, median %.2f ms, max %.2f ms "
                "over %zu probes\n",
                Median(probe), *std::max_element(probe.begin(), probe.end()), probe.size());
    std::printf("reading cycle (answered at once): extra time beyond 800 ms, median %.2f ms, "
                "max %.2f ms over %zu cycles\n",
                Median(attempt), *std::max_element(attempt.begin(), attempt.end()),
                attempt.size());
    return 0;
}

int Cpu() {
    Simulator simulator({QStringLiteral("1")});
    OpenAndSelect(1);
    std::printf("resident memory after start: %ld KiB\n", ResidentKiB());
    Form1->Button6Click();
    double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunEventLoopFor(60000);
    double used = CpuSeconds() - cpu;
    std::printf("reading every 4 s: %.3f s CPU in %.1f s = %.3f %% of one core (%ld cycles)\n",
                used, wall.elapsed() / 1000.0, 100.0 * used / (wall.elapsed() / 1000.0),
                Statistics.completed);
    Form1->Button6Click();  // reading off; the port stays open, the indicators have stopped
    cpu = CpuSeconds();
    wall.restart();
    RunEventLoopFor(60000);
    used = CpuSeconds() - cpu;
    std::printf("idle with the port open: %.3f s CPU in %.1f s = %.3f %% of one core\n", used,
                wall.elapsed() / 1000.0, 100.0 * used / (wall.elapsed() / 1000.0));
    std::printf("resident memory at the end: %ld KiB\n", ResidentKiB());
    return 0;
}

int CountRecords(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    int records = 0;
    for (const QByteArray &line : lines)
        if (line.startsWith("    ") && line.contains(';'))
            ++records;
    return records;
}

int Soak(int minutes, int minutesPerChamber) {
    Simulator simulator({QStringLiteral("1"), QStringLiteral("2")});
    OpenAndSelect(1);
    Form1->Button6Click();
    const long rssStart = ResidentKiB();
    long rssWarm = rssStart;  // after the first slice: fonts and caches have been loaded
    long appendTicks = 0;
    QObject::connect(Form1->Timer4, &QTimer::timeout, [&] {
        if (Form1->CheckBox1->isChecked() && !Form1->Timer6->isActive())
            ++appendTicks;
    });
    Form1->CheckBox1->setChecked(true);
    QStringList errors;
    ErrorBoxHook = [&](const QString &text) { errors << text; };
    QElapsedTimer wall;
    wall.start();
    // Every few minutes the operator picks the other chamber.
    for (int slice = 0; slice * minutesPerChamber < minutes; ++slice) {
        RunEventLoopFor(std::min(minutesPerChamber, minutes - slice * minutesPerChamber) * 60000);
        if (slice == 0)
            rssWarm = ResidentKiB();
        std::printf("%.0f s: %ld cycles, %ld link-lost, %ld KiB resident\n",
                    wall.elapsed() / 1000.0, Statistics.completed, Statistics.linkLost,
                    ResidentKiB());
        std::fflush(stdout);
        const int next = slice % 2 == 0 ? 2 : 1;
        Form1->ListBox1->clearSelection();
        Form1->ListBox1->item(next - 1)->setSelected(true);
    }
    const QString path = LogFileName;
    const int written = CountRecords(path);
    std::printf("soak of %d min (%.1f s): %ld cycles completed, %ld replies decoded, %ld "
                "link-lost events\n",
                minutes, wall.elapsed() / 1000.0, Statistics.completed, Statistics.decoded,
                Statistics.linkLost);
    std::printf("log records written %d, expected %ld (append ticks while logging), file %s\n",
                written, appendTicks, qPrintable(path));
    const long rssEnd = ResidentKiB();
    std::printf("resident memory: %ld KiB at start, %ld KiB after the first slice, %ld KiB at "
                "end (growth %ld KiB since the first slice)\n",
                rssStart, rssWarm, rssEnd, rssEnd - rssWarm);
    std::printf("error boxes: %lld\n", static_cast<long long>(errors.size()));
    for (const QString &error : errors)
        std::printf("  %s\n", qPrintable(error));
    QFile::remove(path);
    return written == appendTicks && errors.isEmpty() && Statistics.linkLost == 0 ? 0 : 1;
}

int DemoLog(int minutes) {
    Simulator simulator({QStringLiteral("1")},
                        {QStringLiteral("--speed-up"), QStringLiteral("15"), QStringLiteral("--rate"),
                         QStringLiteral("0.5")});
    OpenAndSelect(1);
    Form1->Button6Click();
    // Cool to -20 °C, heat to 60 °C, settle at 25 °C; 20 simulated minutes of stabilisation each.
    Form3->ComboBox1->setCurrentIndex(0);
    Form3->ComboBox1Change();
    Form3->Edit1->setText(QStringLiteral("3"));
    Form3->Edit2->setText(QStringLiteral("1"));
    const QStringList temperatures = {QStringLiteral("-20"), QStringLiteral("60"),
                                      QStringLiteral("25")};
    for (int row = 1; row <= 3; ++row) {
        const QStringList cells = {temperatures[row - 1], QStringLiteral("0"),
                                   QStringLiteral("20"), QStringLiteral("3"), QStringLiteral("0")};
        for (int column = 1; column <= 5; ++column)
            Form3->setCellText(row, column, cells[column - 1]);
    }
    Form3->Button1Click();
    Form3->ComboBox2->setCurrentIndex(0);
    Form3->Button5Click();
    Form1->CheckBox1->setChecked(true);
    RunEventLoopFor(minutes * 60000);
    std::printf("%s\n", qPrintable(LogFileName));
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    const QString mode = args.value(1);
    CreateApplicationWindows();
    Form1->show();
    int result = 2;
    if (mode == QLatin1String("exchange"))
        result = Exchange();
    else if (mode == QLatin1String("cpu"))
        result = Cpu();
    else if (mode == QLatin1String("soak"))
        result = Soak(args.value(2, QStringLiteral("30")).toInt(),
                      args.value(3, QStringLiteral("5")).toInt());
    else if (mode == QLatin1String("demo-log"))
        result = DemoLog(args.value(2, QStringLiteral("30")).toInt());
    else
        std::fprintf(stderr, "usage: kalvora-bench exchange | cpu | soak [MINUTES] | demo-log "
                             "[MINUTES]\n");
    Form1->FormClose();
    return result;
}

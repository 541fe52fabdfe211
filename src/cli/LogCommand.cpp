#include "AddressList.h"
#include "Bus.h"
#include "Commands.h"
#include "ConfigFile.h"
#include "MetricsServer.h"
#include "ReadingReport.h"

#include "core/Errors.h"
#include "core/LogFormat.h"
#include "core/ModbusRtu.h"
#include "core/ReadingsDecoder.h"
#include "platform/LogFile.h"
#include "platform/SystemRegionalSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One chamber's files and what its readings left for them.
struct Chamber {
    int address = 0;
    QString logPath;
    QString csvPath; // empty without --csv
    FigureTexts figures = StartFigureTexts();
    KeptTexts kept;
    QString record;
    bool recordPending = false; // a reading composed a record since the last write
    std::optional<bool> answering;
    ChamberMetrics metrics;
};

struct LogSettings {
    QString dir;
    std::chrono::seconds period{4};
    std::chrono::seconds recordEvery{60};
    bool csv = false;
    QString metrics;
    std::vector<int> addresses;
};

// SIGINT and SIGTERM become readable on a descriptor, so that every wait can end on them and
// no handler interrupts a file write. Blocked before any thread starts, so all inherit it.
class TerminationSignals {
public:
    TerminationSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (fd_ < 0)
            throw CliError{1, QStringLiteral("cannot watch for signals")};
        std::signal(SIGPIPE, SIG_IGN); // a scraper that hangs up must not end the run
    }
    ~TerminationSignals() { ::close(fd_); }
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;
    int fd() const { return fd_; }

    // Waits until the deadline; true when a signal came.
    bool waitUntil(Clock::time_point deadline) const {
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd watched{fd_, POLLIN, 0};
            const int ready = ::poll(&watched, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
            if (ready > 0)
                return true;
            if (ready == 0 && Clock::now() >= deadline)
                return false;
        }
    }
    bool arrived() const {
        pollfd watched{fd_, POLLIN, 0};
        return ::poll(&watched, 1, 0) > 0;
    }

private:
    int fd_ = -1;
};

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

QByteArray LogBytes(const QString &text) { return ToWindows1251(text + QStringLiteral("\r\n")); }

// A failed write ends the run naming the file: a service manager restarts it into new files.
void WriteFile(bool create, const QString &path, const QByteArray &bytes) {
    try {
        if (create)
            CreateLogFile(path, bytes);
        else
            AppendToLogFile(path, bytes);
    } catch (const InOutError &error) {
        throw CliError{kExitFile, path + QStringLiteral(": ") + error.message()};
    }
}

// 2026-12-10T14:03:04+03:00: the offset always written out, "+00:00" included.
QString IsoLocalTime(const QDateTime &moment) {
    const int offset = moment.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return moment.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

class Logger {
public:
    Logger(const LogSettings &settings, Bus &bus, MetricsServer *metrics)
        : settings_(settings), bus_(bus), metrics_(metrics),
          regional_(ReadSystemRegionalSettings()) {}

    void createFiles() {
        const std::tm now = LocalTime(std::time(nullptr));
        const QString stamp = FileTimeStamp(FormatDate(regional_, now), FormatTime(regional_, now));
        const QString folder = QDir(settings_.dir).absolutePath() + QLatin1Char('/');
        const QString name = NewLogFileName(folder, stamp);
        for (int address : settings_.addresses) {
            Chamber c;
            c.address = address;
            c.metrics.address = address;
            c.logPath = WithChamberNumber(name, address);
            WriteFile(true, c.logPath, LogBytes(LogHeader()));
            if (settings_.csv) {
                c.csvPath = c.logPath.chopped(4) + QStringLiteral(".csv");
                WriteFile(true, c.csvPath, CsvHeader().toUtf8());
            }
            chambers_.push_back(c);
        }
        publish();
    }

    // False when a signal ended the round.
    bool readRound() {
        for (Chamber &c : chambers_)
            if (!read(c))
                return false;
        return true;
    }

    void writeRecords() {
        for (Chamber &c : chambers_) {
            if (!c.recordPending || !c.answering.value_or(false))
                continue;
            WriteFile(false, c.logPath, LogBytes(c.record));
            c.recordPending = false;
        }
    }

private:
    bool read(Chamber &c) {
        const auto request = BuildReadRequest(static_cast<std::uint8_t>(c.address), 4, 15);
        ExchangeResult result;
        for (int attempt = 0; attempt < bus_.options().tries; ++attempt) {
            result = bus_.exchangeOnce(request);
            count(c, result);
            if (result.outcome != ExchangeResult::Outcome::Timeout &&
                result.outcome != ExchangeResult::Outcome::BadCrc &&
                result.outcome != ExchangeResult::Outcome::LineNeverQuiet)
                break;
        }
        switch (result.outcome) {
        case ExchangeResult::Outcome::Stopped:
            return false;
        case ExchangeResult::Outcome::WriteFailed:
        case ExchangeResult::Outcome::PortLost:
            throw CliError{kExitPort, bus_.outcomeText(result)};
        case ExchangeResult::Outcome::Ok:
            took(c, result.reply);
            break;
        default:
            missed(c, result);
            break;
        }
        publish();
        return true;
    }

    static void count(Chamber &c, const ExchangeResult &result) {
        ExchangeCounts &n = c.metrics.exchanges;
        switch (result.outcome) {
        case ExchangeResult::Outcome::Ok:
            ++n.ok;
            break;
        case ExchangeResult::Outcome::Timeout:
            ++n.timeout;
            break;
        case ExchangeResult::Outcome::BadCrc:
            ++n.badCrc;
            break;
        case ExchangeResult::Outcome::Exception:
            ++n.exception;
            break;
        default:
            break;
        }
    }

    void took(Chamber &c, const std::vector<std::uint8_t> &reply) {
        const QDateTime now = QDateTime::currentDateTime();
        const std::tm local = LocalTime(now.toSecsSinceEpoch());
        DecodeCurrentValues(reply.data(), c.figures, c.kept, regional_.decimalSeparator);
        c.record = ComposeLogRecord(FormatTime(regional_, local), c.kept.currentTemperature,
                                    c.kept.program, c.kept.step, c.kept.cycle);
        c.recordPending = true;
        const ReadingValues values = DecodeReadingValues(reply.data());
        if (!c.csvPath.isEmpty())
            WriteFile(false, c.csvPath,
                            CsvRow(IsoLocalTime(now), values).toUtf8());
        if (c.answering == false)
            PrintWarning(QStringLiteral("chamber %1 answers again").arg(c.address));
        c.answering = true;
        c.metrics.up = true;
        c.metrics.values = values;
        c.metrics.lastGoodReadingAt = now.toMSecsSinceEpoch() / 1000.0;
    }

    void missed(Chamber &c, const ExchangeResult &result) {
        if (c.answering != false)
            PrintWarning(QStringLiteral("chamber %1: %2; no records until it answers again")
                             .arg(c.address)
                             .arg(OutcomeText(result)));
        c.answering = false;
        c.recordPending = false; // never log an earlier reading under a later minute
        c.metrics.up = false;
        c.metrics.values.reset();
    }

    void publish() {
        if (!metrics_)
            return;
        std::vector<ChamberMetrics> snapshot;
        for (const Chamber &c : chambers_)
            snapshot.push_back(c.metrics);
        metrics_->update(std::move(snapshot));
    }

    const LogSettings &settings_;
    Bus &bus_;
    MetricsServer *metrics_;
    RegionalSettings regional_;
    std::vector<Chamber> chambers_;
};

// Options from --config come first, so that the command line wins.
QStringList WithConfigFile(const QStringList &arguments) {
    QString path;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--config") && i + 1 < arguments.size())
            path = arguments[i + 1];
        else if (a.startsWith(QLatin1String("--config=")))
            path = a.mid(9);
    }
    if (path.isEmpty())
        return arguments;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{kExitFile, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
    const ConfigArguments config = ParseConfigText(QString::fromUtf8(file.readAll()));
    if (!config.error.isEmpty())
        throw CliError{kExitUsage, path + QStringLiteral(": ") + config.error};
    if (config.arguments.contains(QStringLiteral("--config")))
        throw CliError{kExitUsage, path + QStringLiteral(": --config cannot be nested")};
    return config.arguments + arguments;
}

std::chrono::seconds Seconds(const CommandLine &line, const QString &name, int fallback) {
    return std::chrono::seconds(line.intValue(name, fallback, 1, 86400));
}

Clock::time_point NextAfter(Clock::time_point due, std::chrono::seconds every) {
    const auto now = Clock::now();
    do
        due += every;
    while (due <= now); // a late round or write skips the moments it missed
    return due;
}

} // namespace

int RunLog(const QStringList &arguments) {
    CommandLine line(
        QStringLiteral("log"), QStringLiteral("ADDRS"),
        QStringLiteral(
            "Reads every chamber of ADDRS (a list with ranges: 1,3,5-8) every --period seconds\n"
            "and writes one log file per chamber into --dir: the window's file name (the\n"
            "chamber number in place of \">\"), Windows-1251 text, its header and record\n"
            "format, a record every --record-every seconds carrying the time of the reading\n"
            "that composed it. A chamber that does not answer gets no record (and no CSV row)\n"
            "until it answers again; stderr gets one warning when its outage starts and one\n"
            "when it ends. Runs until SIGINT or SIGTERM, then exits 0 with every file whole.\n"
            "\n"
            "--config FILE reads options from FILE, one per line, as on the command line with\n"
            "or without the leading dashes (\"period=4\", \"--period 4\", \"csv\"); \"#\" starts\n"
            "a comment line; \"chambers=1,3,5-8\" gives ADDRS. The command line wins."),
        {2, 300});
    line.addValueOption(QStringLiteral("dir"), QStringLiteral("DIR"),
                        QStringLiteral("Folder for the files (default: the current folder)."));
    line.addValueOption(QStringLiteral("period"), QStringLiteral("S"),
                        QStringLiteral("Seconds between readings of every chamber (default: 4)."));
    line.addValueOption(QStringLiteral("record-every"), QStringLiteral("S"),
                        QStringLiteral("Seconds between log records (default: 60)."));
    line.addFlag(QStringLiteral("csv"),
                 QStringLiteral("Also append every good reading to a UTF-8 CSV file per chamber "
                                "beside its log (same name, .csv)."));
    line.addValueOption(QStringLiteral("metrics"), QStringLiteral("HOST:PORT"),
                        QStringLiteral("Serve Prometheus metrics at http://HOST:PORT/metrics "
                                       "(default: off)."));
    line.addValueOption(QStringLiteral("chambers"), QStringLiteral("ADDRS"),
                        QStringLiteral("The chambers, when ADDRS is not given (for --config)."));
    line.addValueOption(QStringLiteral("config"), QStringLiteral("FILE"),
                        QStringLiteral("Read options from FILE first (default: none)."));
    if (const auto done = line.parse(WithConfigFile(arguments)))
        return *done;

    LogSettings settings;
    const QStringList positional = line.positional();
    if (positional.size() > 1)
        throw CliError{kExitUsage, QStringLiteral("log takes one list of chambers (try: "
                                                  "kalvora-cli log --help)")};
    const QString list = positional.isEmpty() ? line.value(QStringLiteral("chambers"))
                                              : positional.first();
    if (list.isEmpty())
        throw CliError{kExitUsage, QStringLiteral("log needs ADDRS (try: kalvora-cli log --help)")};
    const AddressListResult addresses = ParseAddressList(list);
    if (!addresses.error.isEmpty())
        throw CliError{kExitUsage, addresses.error};
    settings.addresses = addresses.addresses;
    settings.dir = line.isSet(QStringLiteral("dir")) ? line.value(QStringLiteral("dir"))
                                                     : QStringLiteral(".");
    settings.period = Seconds(line, QStringLiteral("period"), 4);
    settings.recordEvery = Seconds(line, QStringLiteral("record-every"), 60);
    settings.csv = line.isSet(QStringLiteral("csv"));
    const CommonOptions common = line.common();
    if (!QFileInfo(settings.dir).isDir())
        throw CliError{kExitFile, QStringLiteral("--dir %1 is not a folder").arg(settings.dir)};

    TerminationSignals termination;
    Bus bus(common, termination.fd());
    std::unique_ptr<MetricsServer> metrics;
    if (line.isSet(QStringLiteral("metrics"))) {
        metrics = std::make_unique<MetricsServer>();
        metrics->start(line.value(QStringLiteral("metrics")));
    }
    Logger logger(settings, bus, metrics.get());
    {
        logger.createFiles();
        auto nextRound = Clock::now();
        auto nextRecord = nextRound + settings.recordEvery;
        while (!termination.arrived()) {
            if (Clock::now() >= nextRound) {
                if (!logger.readRound())
                    break;
                nextRound = NextAfter(nextRound, settings.period);
            } else if (Clock::now() >= nextRecord) {
                logger.writeRecords();
                nextRecord = NextAfter(nextRecord, settings.recordEvery);
            } else if (termination.waitUntil(std::min(nextRound, nextRecord))) {
                break;
            }
        }
    }
    return kExitOk;
}

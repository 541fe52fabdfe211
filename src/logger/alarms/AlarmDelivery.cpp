#include "logger/alarms/AlarmDelivery.h"

#include "logger/alarms/AlarmPayload.h"

#include <QUrl>
#include <QUuid>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <curl/curl.h>
#include <httplib.h>

#include <cerrno>
#include <csignal>
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

QString SecondsText(milliseconds ms) {
    return QString::number(static_cast<double>(ms.count()) / 1000, 'g', 6) + QStringLiteral(" s");
}

// --- the hook ---------------------------------------------------------------------------

// Waits for the child's end, at most until the deadline; true when it ended (status filled).
bool WaitForChild(pid_t pid, int pidfd, Clock::time_point deadline, const std::atomic<bool> *stop,
                  int &status) {
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return true;
        if (done < 0 && errno != EINTR) {
            status = 0;
            return true; // reaped elsewhere: nothing left to wait for
        }
        const auto now = Clock::now();
        if (now >= deadline || Stopped(stop))
            return false;
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

QString RunHook(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                const std::atomic<bool> *stop) {
    std::vector<QByteArray> args;
    for (const QString &a : settings.command)
        args.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // The logger's environment, with the notification's variables in place of any inherited.
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "KALVORA_ALARM_", 14) != 0)
            env.emplace_back(*e);
    for (const QString &v : AlarmEnvironment(n, settings.host))
        env.push_back(v.toUtf8());
    std::vector<char *> envp;
    for (QByteArray &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // The logger blocks SIGINT and SIGTERM and ignores SIGPIPE: the hook starts with neither.
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
    // A group of its own, so that a time-out ends whatever the hook started as well.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    // No input; its output goes to stderr beside the logger's, never into the logger's stdout;
    // the port and every other descriptor stay behind.
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
    if (failed != 0)
        return QStringLiteral("cannot run %1: %2")
            .arg(settings.command.value(0), QString::fromLocal8Bit(std::strerror(failed)));

    // glibc's pidfd_open wrapper lacks C linkage in C++; the system call is the same.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    const bool ended =
        WaitForChild(pid, pidfd, Clock::now() + settings.commandTimeout, stop, status);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (pidfd >= 0)
        ::close(pidfd);
    if (!ended)
        return Stopped(stop) ? QStringLiteral("killed: the logger stops")
                             : QStringLiteral("no end after %1: killed")
                                   .arg(SecondsText(settings.commandTimeout));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (WIFEXITED(status))
        return QStringLiteral("exit status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("ended by signal %1").arg(WTERMSIG(status));
}

// --- the webhook ------------------------------------------------------------------------

QString HttpErrorText(httplib::Error error) {
    switch (error) {
    case httplib::Error::Connection:
        return QStringLiteral("cannot connect");
    case httplib::Error::Read:
        return QStringLiteral("no answer, or the connection broke while reading");
    case httplib::Error::Write:
        return QStringLiteral("the connection broke while sending");
    case httplib::Error::SSLConnection:
        return QStringLiteral("TLS connection failed");
    case httplib::Error::SSLServerVerification:
        return QStringLiteral("the server's certificate is not trusted");
    case httplib::Error::Canceled:
        return QStringLiteral("cancelled");
    default:
        return QStringLiteral("request failed (%1)")
            .arg(QString::fromStdString(httplib::to_string(error)));
    }
}

QString PostWebhook(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                    const std::atomic<bool> *stop) {
    const QUrl url(settings.webhookUrl);
    const QString scheme = url.scheme();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return QStringLiteral("%1 is not an http:// or https:// address").arg(settings.webhookUrl);
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    const QString host = url.host().contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + url.host() + QLatin1Char(']')
                             : url.host();
    httplib::Client client(QStringLiteral("%1://%2:%3").arg(scheme, host).arg(port).toStdString());
    const auto timeout = std::chrono::duration_cast<std::chrono::seconds>(settings.requestTimeout);
    const auto usec =
        std::chrono::duration_cast<std::chrono::microseconds>(settings.requestTimeout - timeout);
    client.set_connection_timeout(timeout.count(), usec.count());
    client.set_read_timeout(timeout.count(), usec.count());
    client.set_write_timeout(timeout.count(), usec.count());
    if (!url.userName().isEmpty())
        client.set_basic_auth(url.userName().toStdString(), url.password().toStdString());
    QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    if (url.hasQuery())
        path += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    const std::string body = AlarmJson(n, settings.host).toStdString();

    // A transfer in flight is cut off by closing its socket from here when the logger stops.
    // The watcher is woken when the transfer ends: a plain sleep would hold up every delivery
    // by up to its slice.
    std::mutex watching;
    std::condition_variable ended;
    bool finished = false;
    std::thread watcher;
    if (stop)
        watcher = std::thread([&] {
            std::unique_lock lock(watching);
            while (!finished && !stop->load())
                ended.wait_for(lock, kStopCheck);
            if (!finished)
                client.stop();
        });
    const httplib::Result result = client.Post(path.toStdString(), body, "application/json");
    {
        std::lock_guard lock(watching);
        finished = true;
    }
    ended.notify_all();
    if (watcher.joinable())
        watcher.join();
    if (!result)
        return Stopped(stop) ? QStringLiteral("cancelled: the logger stops")
                             : HttpErrorText(result.error());
    if (result->status < 200 || result->status > 299)
        return QStringLiteral("HTTP status %1").arg(result->status);
    return {};
}

// --- mail -------------------------------------------------------------------------------

struct Upload {
    QByteArray bytes;
    qsizetype sent = 0;
};

size_t ReadUpload(char *buffer, size_t size, size_t count, void *data) {
    auto *upload = static_cast<Upload *>(data);
    const size_t room = size * count;
    const size_t left = static_cast<size_t>(upload->bytes.size() - upload->sent);
    const size_t n = std::min(room, left);
    std::memcpy(buffer, upload->bytes.constData() + upload->sent, n);
    upload->sent += static_cast<qsizetype>(n);
    return n;
}

int Progress(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Stopped(static_cast<const std::atomic<bool> *>(data)) ? 1 : 0;
}

QString MailAddress(const QString &text) {
    const qsizetype open = text.indexOf(QLatin1Char('<'));
    const qsizetype close = text.indexOf(QLatin1Char('>'), open + 1);
    return open >= 0 && close > open ? text.mid(open + 1, close - open - 1) : text.trimmed();
}

QString SendMail(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                 const std::atomic<bool> *stop) {
    const QString from = settings.mailFrom.isEmpty() ? QStringLiteral("kalvora@") + settings.host
                                                     : settings.mailFrom;
    MailEnvelope envelope{from, settings.mailTo, settings.host,
                          n.time.isValid() ? n.time : QDateTime::currentDateTime(),
                          QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('@') +
                              settings.host};
    Upload upload{AlarmMail(n, envelope)};

    CURL *curl = curl_easy_init();
    if (!curl)
        return QStringLiteral("cannot start a mail transfer");
    curl_slist *recipients = nullptr;
    for (const QString &to : settings.mailTo)
        recipients =
            curl_slist_append(recipients, ('<' + MailAddress(to).toUtf8() + '>').constData());
    const QByteArray url = settings.smtpUrl.toUtf8();
    const QByteArray sender = '<' + MailAddress(from).toUtf8() + '>';
    const QByteArray user = settings.smtpUser.toUtf8();
    const QByteArray password = settings.smtpPassword.toUtf8();
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, sender.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.requestTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings.requestTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // no SIGALRM in a threaded program
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stop);
    const CURLcode code = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    if (code == CURLE_OK)
        return {};
    if (code == CURLE_ABORTED_BY_CALLBACK)
        return QStringLiteral("cancelled: the logger stops");
    QString reason = QString::fromUtf8(error[0] ? error : curl_easy_strerror(code));
    if (response > 0 && !reason.contains(QString::number(response)))
        reason += QStringLiteral(" (server reply %1)").arg(response);
    return reason;
}

} // namespace

QString AlarmChannelName(AlarmChannel channel) {
    switch (channel) {
    case AlarmChannel::Command:
        return QStringLiteral("command");
    case AlarmChannel::Webhook:
        return QStringLiteral("webhook");
    case AlarmChannel::Mail:
        break;
    }
    return QStringLiteral("mail");
}

std::vector<AlarmChannel> AlarmDeliverySettings::channels() const {
    std::vector<AlarmChannel> result;
    if (!command.isEmpty())
        result.push_back(AlarmChannel::Command);
    if (!webhookUrl.isEmpty())
        result.push_back(AlarmChannel::Webhook);
    if (!mailTo.isEmpty())
        result.push_back(AlarmChannel::Mail);
    return result;
}

QString SendAlarmOnce(AlarmChannel channel, const AlarmNotification &notification,
                      const AlarmDeliverySettings &settings, const std::atomic<bool> *stop) {
    switch (channel) {
    case AlarmChannel::Command:
        return RunHook(notification, settings, stop);
    case AlarmChannel::Webhook:
        return PostWebhook(notification, settings, stop);
    case AlarmChannel::Mail:
        break;
    }
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return SendMail(notification, settings, stop);
}

class AlarmDelivery::Worker {
public:
    Worker(AlarmChannel channel, const AlarmDeliverySettings &settings,
           const ProblemHandler &onProblem)
        : channel_(channel), settings_(settings), onProblem_(onProblem),
          thread_([this] { run(); }) {}

    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopFlag_ = true;
        wake_.notify_all();
        thread_.join();
    }

    AlarmChannel channel() const { return channel_; }

    void post(const AlarmNotification &n) {
        std::optional<Item> dropped;
        {
            std::lock_guard lock(mutex_);
            queue_.push_back({n, Clock::now(), Clock::now(), 0});
            dropped = trimmed();
        }
        wake_.notify_all();
        if (dropped)
            report(DeliveryProblem::What::Dropped, dropped->notification,
                   QStringLiteral("queue full"), true);
    }

    unsigned long long failures() const { return failures_; }
    std::size_t pending() const {
        std::lock_guard lock(mutex_);
        return queue_.size() + (busy_ ? 1 : 0);
    }

private:
    struct Item {
        AlarmNotification notification;
        Clock::time_point postedAt;
        Clock::time_point due;
        int failures;
    };

    // Called locked: drops the oldest while the queue is over its bound.
    std::optional<Item> trimmed() {
        if (queue_.size() <= std::max<std::size_t>(settings_.queueCapacity, 1))
            return std::nullopt;
        Item oldest = queue_.front();
        queue_.pop_front();
        return oldest;
    }

    void report(DeliveryProblem::What what, const AlarmNotification &n, const QString &reason,
                bool gaveUp) {
        if (!onProblem_)
            return;
        DeliveryProblem problem;
        problem.what = what;
        problem.channel = channel_;
        problem.notification = n;
        problem.reason = reason;
        problem.gaveUp = gaveUp;
        onProblem_(problem);
    }

    milliseconds backOff(int failures) const {
        milliseconds wait = settings_.firstRetry;
        for (int i = 1; i < failures && wait < settings_.longestRetry; ++i)
            wait *= 2;
        return std::min(wait, settings_.longestRetry);
    }

    void run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (queue_.empty()) {
                wake_.wait(lock);
                continue;
            }
            if (Clock::now() < queue_.front().due) {
                wake_.wait_until(lock, queue_.front().due);
                continue;
            }
            Item item = queue_.front();
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            const QString reason =
                SendAlarmOnce(channel_, item.notification, settings_, &stopFlag_);
            lock.lock();
            busy_ = false;
            if (reason.isEmpty() || stop_)
                continue;
            ++failures_;
            ++item.failures;
            const auto now = Clock::now();
            const milliseconds wait = backOff(item.failures);
            const bool gaveUp = channel_ == AlarmChannel::Command ||
                                now + wait - item.postedAt > settings_.giveUpAfter;
            std::optional<Item> dropped;
            if (!gaveUp) {
                item.due = now + wait;
                queue_.push_front(item);
                dropped = trimmed();
            }
            lock.unlock();
            report(DeliveryProblem::What::Failed, item.notification, reason, gaveUp);
            if (dropped)
                report(DeliveryProblem::What::Dropped, dropped->notification,
                       QStringLiteral("queue full"), true);
            lock.lock();
        }
    }

    const AlarmChannel channel_;
    const AlarmDeliverySettings &settings_;
    const ProblemHandler &onProblem_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::atomic<bool> stopFlag_{false};
    std::atomic<unsigned long long> failures_{0};
    std::thread thread_;

public:
    void requestStop() { stopFlag_ = true; }
};

AlarmDelivery::AlarmDelivery(const AlarmDeliverySettings &settings, ProblemHandler onProblem)
    : settings_(settings), onProblem_(std::move(onProblem)) {
    for (AlarmChannel channel : settings_.channels())
        workers_.push_back(std::make_unique<Worker>(channel, settings_, onProblem_));
}

AlarmDelivery::~AlarmDelivery() {
    // Every channel is told first, so that they stop together rather than one after another.
    for (auto &worker : workers_)
        worker->requestStop();
    workers_.clear();
}

bool AlarmDelivery::hasChannels() const { return !workers_.empty(); }

void AlarmDelivery::post(const AlarmNotification &notification) {
    for (auto &worker : workers_)
        worker->post(notification);
}

unsigned long long AlarmDelivery::failures(AlarmChannel channel) const {
    for (const auto &worker : workers_)
        if (worker->channel() == channel)
            return worker->failures();
    return 0;
}

std::size_t AlarmDelivery::pending() const {
    std::size_t n = 0;
    for (const auto &worker : workers_)
        n += worker->pending();
    return n;
}

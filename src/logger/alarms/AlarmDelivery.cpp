#include "logger/alarms/AlarmDelivery.h"

#include "logger/alarms/AlarmPayload.h"

#include "platform/ChildProcess.h"

#include <QUrl>
#include <QUuid>

#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <thread>

#include <curl/curl.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool Stopped(const std::atomic<bool> *stop) { return stop && stop->load(); }

QString SecondsText(milliseconds ms) {
    return QString::number(static_cast<double>(ms.count()) / 1000, 'g', 6) + QStringLiteral(" s");
}

const QString kCancelled = QStringLiteral("cancelled: the logger stops");

// One attempt's outcome: empty reason when delivered; final when trying the same again is no use.
struct Attempt {
    QString reason;
    bool final = false;
};

// --- the hook ---------------------------------------------------------------------------

Attempt RunHook(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                const std::atomic<bool> *stop) {
    ChildRequest child;
    child.command = settings.command;
    child.timeLimit = settings.commandTimeout;
    // The logger's environment, with the notification's variables in place of any inherited.
    for (QByteArray &variable : CurrentEnvironment())
        if (!variable.startsWith("KALVORA_ALARM_"))
            child.environment.push_back(std::move(variable));
    for (const QString &v : AlarmEnvironment(n, settings.host))
        child.environment.push_back(v.toUtf8());
    const ChildOutcome outcome = RunChild(child, stop);
    switch (outcome.end) {
    case ChildOutcome::End::Exited:
        if (outcome.code == 0)
            return {};
        return {QStringLiteral("exit status %1").arg(outcome.code), true};
    case ChildOutcome::End::Signalled:
        return {QStringLiteral("ended by signal %1").arg(outcome.code), true};
    case ChildOutcome::End::TimedOut:
        return {QStringLiteral("no end after %1: killed").arg(SecondsText(settings.commandTimeout)),
                true};
    case ChildOutcome::End::Stopped:
        return {QStringLiteral("killed: the logger stops"), true};
    case ChildOutcome::End::CannotStart:
        return {QStringLiteral("cannot run %1: %2").arg(settings.command.value(0), outcome.error),
                true};
    case ChildOutcome::End::Unknown:
        break;
    }
    return {QStringLiteral("outcome unknown: ") + outcome.error, true};
}

// --- libcurl, shared by the webhook and mail ---------------------------------------------

int Progress(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Stopped(static_cast<const std::atomic<bool> *>(data)) ? 1 : 0;
}

// Time limits, no signals (a threaded program), and an end within a fraction of a second
// once *stop is set.
void CommonOptions(CURL *curl, const AlarmDeliverySettings &settings,
                   const std::atomic<bool> *stop, char *errorBuffer) {
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.requestTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings.requestTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stop);
    // A lab's own authority, named as OpenSSL's programs take it; else the system's store.
    // (libcurl keeps its own copies of the texts.)
    const QByteArray caFile = qgetenv("SSL_CERT_FILE");
    const QByteArray caFolder = qgetenv("SSL_CERT_DIR");
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    if (!caFolder.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAPATH, caFolder.constData());
}

QString CurlReason(CURLcode code, const char *errorBuffer) {
    return QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
}

void CurlReady() {
    static std::once_flag ready;
    std::call_once(ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// --- the webhook ------------------------------------------------------------------------

QString WebhookErrorText(CURLcode code, const char *errorBuffer) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("cannot resolve the host");
    case CURLE_COULDNT_CONNECT:
        return QStringLiteral("cannot connect");
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("no answer in time");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
        return QStringLiteral("no answer, or the connection broke while reading");
    case CURLE_SEND_ERROR:
        return QStringLiteral("the connection broke while sending");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("TLS connection failed");
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("the server's certificate is not trusted");
    default:
        return QStringLiteral("request failed (%1)").arg(CurlReason(code, errorBuffer));
    }
}

size_t IgnoreBody(char *, size_t size, size_t count, void *) { return size * count; }

Attempt PostWebhook(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                    const std::atomic<bool> *stop) {
    const QUrl url(settings.webhookUrl);
    const QString scheme = url.scheme();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return {QStringLiteral("%1 is not an http:// or https:// address").arg(settings.webhookUrl),
                true};
    CurlReady();
    CURL *curl = curl_easy_init();
    if (!curl)
        return {QStringLiteral("cannot start a web transfer")};
    const QByteArray target = url.toEncoded();
    const QByteArray body = AlarmJson(n, settings.host);
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, target.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // the lab's hook is reached directly
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_slist *headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Expect:"); // no wait for a 100 Continue
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, IgnoreBody);
    CommonOptions(curl, settings, stop, error);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (code == CURLE_ABORTED_BY_CALLBACK || (code != CURLE_OK && Stopped(stop)))
        return {kCancelled};
    if (code != CURLE_OK)
        return {WebhookErrorText(code, error)};
    if (status >= 200 && status <= 299)
        return {};
    // Only the server's own trouble may pass; a refusal of this payload stays a refusal.
    return {QStringLiteral("HTTP status %1").arg(status), status < 500 || status > 599};
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

QString MailAddress(const QString &text) {
    const qsizetype open = text.indexOf(QLatin1Char('<'));
    const qsizetype close = text.indexOf(QLatin1Char('>'), open + 1);
    return open >= 0 && close > open ? text.mid(open + 1, close - open - 1) : text.trimmed();
}

bool PasswordNeedsTls(const AlarmDeliverySettings &settings) {
    return !settings.smtpUser.isEmpty() && !settings.smtpPasswordUnencrypted;
}

Attempt SendMail(const AlarmNotification &n, const AlarmDeliverySettings &settings,
                 const std::atomic<bool> *stop) {
    const QString from = settings.mailFrom.isEmpty() ? QStringLiteral("kalvora@") + settings.host
                                                     : settings.mailFrom;
    MailEnvelope envelope{from, settings.mailTo, settings.host,
                          n.time.isValid() ? n.time : QDateTime::currentDateTime(),
                          QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('@') +
                              settings.host};
    Upload upload{AlarmMail(n, envelope)};

    CurlReady();
    CURL *curl = curl_easy_init();
    if (!curl)
        return {QStringLiteral("cannot start a mail transfer")};
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
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, sender.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    // A password goes out only inside TLS, unless the lab said otherwise in so many words.
    const bool tlsRequired = PasswordNeedsTls(settings);
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     static_cast<long>(tlsRequired ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    CommonOptions(curl, settings, stop, error);
    const CURLcode code = curl_easy_perform(curl);
    long response = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    if (code == CURLE_OK)
        return {};
    if (code == CURLE_ABORTED_BY_CALLBACK || Stopped(stop))
        return {kCancelled};
    if (code == CURLE_USE_SSL_FAILED && tlsRequired)
        return {QStringLiteral("the server offers no TLS, and the password is not sent "
                               "unencrypted (--smtp-auth-unencrypted allows it)")};
    QString reason = CurlReason(code, error);
    if (response > 0 && !reason.contains(QString::number(response)))
        reason += QStringLiteral(" (server reply %1)").arg(response);
    return {reason};
}

Attempt AttemptOnce(AlarmChannel channel, const AlarmNotification &notification,
                    const AlarmDeliverySettings &settings, const std::atomic<bool> *stop) {
    switch (channel) {
    case AlarmChannel::Command:
        return RunHook(notification, settings, stop);
    case AlarmChannel::Webhook:
        return PostWebhook(notification, settings, stop);
    case AlarmChannel::Mail:
        break;
    }
    return SendMail(notification, settings, stop);
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

QString MailSecurityText(const AlarmDeliverySettings &settings) {
    if (settings.smtpUser.isEmpty())
        return {};
    return PasswordNeedsTls(settings)
               ? QStringLiteral("password only over TLS")
               : QStringLiteral("password unencrypted if the server offers no TLS");
}

QString SendAlarmOnce(AlarmChannel channel, const AlarmNotification &notification,
                      const AlarmDeliverySettings &settings, const std::atomic<bool> *stop) {
    return AttemptOnce(channel, notification, settings, stop).reason;
}

class AlarmDelivery::Worker {
public:
    Worker(AlarmChannel channel, const AlarmDeliverySettings &settings,
           const ProblemHandler &onProblem)
        : channel_(channel), settings_(settings), onProblem_(onProblem),
          thread_([this] { run(); }) {}

    ~Worker() {
        requestStop();
        if (thread_.joinable())
            thread_.join();
    }

    AlarmChannel channel() const { return channel_; }

    void post(const AlarmNotification &n) {
        std::optional<Item> dropped;
        QString why = QStringLiteral("queue full");
        {
            std::lock_guard lock(mutex_);
            if (stop_ || finishing_) {
                dropped = Item{n, Clock::now(), Clock::now(), 0, false};
                why = QStringLiteral("stopped");
            } else {
                queue_.push_back({n, Clock::now(), Clock::now(), 0, false});
                dropped = trimmed();
            }
        }
        wake_.notify_all();
        if (dropped)
            report(DeliveryProblem::What::Dropped, dropped->notification, why, true);
    }

    unsigned long long failures() const { return failures_; }
    std::size_t pending() const {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

    // Every waiting notification falls due now and gets one more try.
    void startFinishing() {
        {
            std::lock_guard lock(mutex_);
            finishing_ = true;
        }
        wake_.notify_all();
    }
    bool finishedBy(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return wake_.wait_until(lock, deadline, [this] { return queue_.empty(); });
    }
    void requestStop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopFlag_ = true;
        wake_.notify_all();
    }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct Item {
        AlarmNotification notification;
        Clock::time_point postedAt;
        Clock::time_point due;
        int failures;
        bool inFlight;
    };
    using Queue = std::list<Item>; // in the order posted; the one in flight stays in place

    // Called locked: drops the oldest waiting one while the queue is over its bound.
    std::optional<Item> trimmed() {
        const std::size_t waiting = queue_.size() - (busy_ ? 1 : 0);
        if (waiting <= std::max<std::size_t>(settings_.queueCapacity, 1))
            return std::nullopt;
        for (auto it = queue_.begin(); it != queue_.end(); ++it)
            if (!it->inFlight) {
                Item oldest = *it;
                queue_.erase(it);
                return oldest;
            }
        return std::nullopt;
    }

    // Called locked: the first notification that is due and not behind an earlier one of its
    // own alarm; else end(), with *wakeAt the earliest moment one falls due.
    Queue::iterator nextDue(Clock::time_point now, Clock::time_point &wakeAt) {
        std::set<std::pair<int, AlarmKind>> held;
        wakeAt = Clock::time_point::max();
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            const auto alarm = std::make_pair(it->notification.chamber, it->notification.kind);
            if (!held.insert(alarm).second)
                continue;
            if (finishing_ || it->due <= now)
                return it;
            wakeAt = std::min(wakeAt, it->due);
        }
        return queue_.end();
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
            Clock::time_point wakeAt;
            const auto it = nextDue(Clock::now(), wakeAt);
            if (it == queue_.end()) {
                if (wakeAt == Clock::time_point::max())
                    wake_.wait(lock);
                else
                    wake_.wait_until(lock, wakeAt);
                continue;
            }
            it->inFlight = true;
            busy_ = true;
            const bool lastTry = finishing_;
            const AlarmNotification notification = it->notification;
            lock.unlock();
            const Attempt attempt = AttemptOnce(channel_, notification, settings_, &stopFlag_);
            lock.lock();
            busy_ = false;
            it->inFlight = false;
            if (attempt.reason.isEmpty()) {
                queue_.erase(it);
                wake_.notify_all();
                continue;
            }
            if (stopFlag_)
                break; // cut off by the stop: reported with the rest below
            ++failures_;
            ++it->failures;
            const auto now = Clock::now();
            const milliseconds wait = backOff(it->failures);
            const bool gaveUp = !lastTry && (attempt.final || channel_ == AlarmChannel::Command ||
                                             now + wait - it->postedAt > settings_.giveUpAfter);
            Item item = *it;
            if (gaveUp || lastTry)
                queue_.erase(it);
            else
                it->due = now + wait;
            lock.unlock();
            report(DeliveryProblem::What::Failed, item.notification, attempt.reason, gaveUp);
            if (lastTry)
                report(DeliveryProblem::What::Dropped, item.notification,
                       QStringLiteral("stopped"), true);
            lock.lock();
            wake_.notify_all();
        }
        // Whatever is left when the delivery stops is reported, never lost in silence.
        Queue left;
        left.swap(queue_);
        lock.unlock();
        for (const Item &item : left)
            report(DeliveryProblem::What::Dropped, item.notification, QStringLiteral("stopped"),
                   true);
        lock.lock();
        wake_.notify_all();
    }

    const AlarmChannel channel_;
    const AlarmDeliverySettings &settings_;
    const ProblemHandler &onProblem_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Queue queue_;
    bool busy_ = false;
    bool stop_ = false;
    bool finishing_ = false;
    std::atomic<bool> stopFlag_{false};
    std::atomic<unsigned long long> failures_{0};
    std::thread thread_;
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

void AlarmDelivery::finish() {
    const auto deadline = Clock::now() + settings_.finishWithin;
    for (auto &worker : workers_)
        worker->startFinishing();
    for (auto &worker : workers_)
        worker->finishedBy(deadline);
    for (auto &worker : workers_)
        worker->requestStop();
    for (auto &worker : workers_)
        worker->join();
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

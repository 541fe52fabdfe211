#pragma once
// Listeners on 127.0.0.1 that alarm notifications are delivered to in tests: a small SMTP
// server and an HTTP(S) server (libmicrohttpd; link PkgConfig::MICROHTTPD), each on a port of
// the system's choice in threads of their own.
#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

struct ReceivedMail {
    QByteArray from;                          // MAIL FROM:<...>
    QList<QByteArray> to;                     // RCPT TO:<...>
    QByteArray login;                         // AUTH PLAIN's decoded "\0user\0password"
    QByteArray message;                       // DATA, dot-unstuffed, CR LF kept
    std::chrono::steady_clock::time_point at; // when its closing "." came
};

// A header of a mail, unfolded and its RFC 2047 encoded words decoded; empty if it is missing.
inline QString DecodedMailHeader(const QByteArray &message, const QByteArray &name) {
    const QByteArray headers = message.left(message.indexOf("\r\n\r\n"));
    const qsizetype start = headers.indexOf("\r\n" + name + ": ");
    if (start < 0)
        return {};
    QByteArray value = headers.mid(start + name.size() + 4);
    for (qsizetype end = 0; (end = value.indexOf("\r\n", end)) >= 0;) {
        if (!value.mid(end + 2).startsWith(' ')) {
            value.truncate(end);
            break;
        }
        value.remove(end, 3);
    }
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([^?]*)\\?="));
    QByteArray utf8;
    for (const auto &match : word.globalMatch(QString::fromLatin1(value)))
        utf8 += QByteArray::fromBase64(match.captured(1).toLatin1());
    return QString::fromUtf8(utf8);
}

// It offers no STARTTLS: whatever a client sends it goes in clear.
class SmtpListener {
public:
    enum class Mode {
        Accept,
        RefuseRecipients, // 550 to every RCPT TO
        Mute,             // accepts the connection and never says a word
    };

    explicit SmtpListener(Mode mode = Mode::Accept) : mode_(mode) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd_, 8);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~SmtpListener() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    QString url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(port_); }
    QList<ReceivedMail> mails() const {
        std::lock_guard lock(mutex_);
        return mails_;
    }
    int connections() const { return connections_; }
    // Mute connections whose client stayed for the whole hold rather than hanging up.
    int heldToTheEnd() const { return heldToTheEnd_; }
    static constexpr std::chrono::seconds kMuteHold{60};
    // Every log-in received, mail or no mail: AUTH PLAIN's decoded "\0user\0password".
    QList<QByteArray> logins() const {
        std::lock_guard lock(mutex_);
        return logins_;
    }

private:
    // Waits for readable bytes in slices, so that the destructor is never kept waiting.
    bool readable(int fd) const {
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0)
                return true;
        }
        return false;
    }

    void serve() {
        while (readable(fd_)) {
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++connections_;
            converse(client);
            ::close(client);
        }
    }

    void remember(const QByteArray &login) {
        std::lock_guard lock(mutex_);
        logins_.append(login);
    }

    static void say(int fd, const char *line) { (void)!::write(fd, line, std::strlen(line)); }

    void converse(int fd) {
        if (mode_ == Mode::Mute) {
            // Silent for a minute at most: a client still connected then has waited it out.
            const auto until = std::chrono::steady_clock::now() + kMuteHold;
            while (!stop_ && std::chrono::steady_clock::now() < until) {
                pollfd p{fd, POLLIN, 0};
                char sink[256];
                if (::poll(&p, 1, 50) > 0 && ::read(fd, sink, sizeof sink) <= 0)
                    return;
            }
            if (!stop_)
                ++heldToTheEnd_;
            return;
        }
        say(fd, "220 test ESMTP\r\n");
        QByteArray buffer;
        ReceivedMail mail;
        bool data = false;
        bool loggingIn = false; // AUTH PLAIN without an initial response: the next line is it
        while (readable(fd)) {
            char chunk[1024];
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                return;
            buffer.append(chunk, n);
            qsizetype end;
            while ((end = buffer.indexOf("\r\n")) >= 0) {
                QByteArray line = buffer.left(end);
                buffer.remove(0, end + 2);
                if (data) {
                    if (line == ".") {
                        data = false;
                        mail.at = std::chrono::steady_clock::now();
                        {
                            std::lock_guard lock(mutex_);
                            mails_.append(mail);
                        }
                        say(fd, "250 queued\r\n");
                        continue;
                    }
                    if (line.startsWith('.'))
                        line.remove(0, 1);
                    mail.message += line + "\r\n";
                    continue;
                }
                if (loggingIn) {
                    loggingIn = false;
                    mail.login = QByteArray::fromBase64(line);
                    remember(mail.login);
                    say(fd, "235 ok\r\n");
                    continue;
                }
                const QByteArray verb = line.split(' ').value(0).toUpper();
                if (verb == "EHLO") {
                    say(fd, "250-test\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n");
                } else if (verb == "HELO") {
                    say(fd, "250 test\r\n");
                } else if (verb == "AUTH") {
                    const QList<QByteArray> words = line.split(' ');
                    if (words.size() > 2) {
                        mail.login = QByteArray::fromBase64(words[2]);
                        remember(mail.login);
                        say(fd, "235 ok\r\n");
                    } else {
                        loggingIn = true;
                        say(fd, "334 \r\n");
                    }
                } else if (line.toUpper().startsWith("MAIL FROM:")) {
                    mail.from = line.mid(10);
                    say(fd, "250 ok\r\n");
                } else if (line.toUpper().startsWith("RCPT TO:")) {
                    if (mode_ == Mode::RefuseRecipients) {
                        say(fd, "550 5.1.1 no such mailbox here\r\n");
                    } else {
                        mail.to.append(line.mid(8));
                        say(fd, "250 ok\r\n");
                    }
                } else if (verb == "DATA") {
                    data = true;
                    say(fd, "354 go on\r\n");
                } else if (verb == "RSET") {
                    mail = {};
                    say(fd, "250 ok\r\n");
                } else if (verb == "QUIT") {
                    say(fd, "221 bye\r\n");
                    return;
                } else {
                    say(fd, "502 not here\r\n");
                }
            }
        }
    }

    Mode mode_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> heldToTheEnd_{0};
    mutable std::mutex mutex_;
    QList<ReceivedMail> mails_;
    QList<QByteArray> logins_;
    std::thread thread_;
};

// Takes POSTs at /hook and answers them with the statuses given, in turn; the last one stays.
// A status of 0 means: answer nothing for a minute (a server that hangs). Or the status comes
// from a rule that reads each body. With a certificate and key (PEM), it speaks HTTPS.
class HttpListener {
public:
    struct ByBody {
        explicit ByBody(std::function<int(const QByteArray &body)> rule)
            : status(std::move(rule)) {}
        std::function<int(const QByteArray &body)> status;
    };

    explicit HttpListener(QList<int> statuses) : statuses_(std::move(statuses)) { start({}, {}); }
    explicit HttpListener(ByBody rule) : rule_(std::move(rule.status)) { start({}, {}); }
    HttpListener(QList<int> statuses, const QByteArray &certificatePem, const QByteArray &keyPem)
        : statuses_(std::move(statuses)) {
        start(certificatePem, keyPem);
    }
    ~HttpListener() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
        if (daemon_)
            MHD_stop_daemon(daemon_);
    }
    HttpListener(const HttpListener &) = delete;
    HttpListener &operator=(const HttpListener &) = delete;

    bool running() const { return daemon_ != nullptr; }
    QString url() const {
        return QStringLiteral("%1://127.0.0.1:%2/hook").arg(https_ ? "https" : "http").arg(port_);
    }
    QList<QByteArray> bodies() const {
        std::lock_guard lock(mutex_);
        return bodies_;
    }
    QStringList contentTypes() const {
        std::lock_guard lock(mutex_);
        return types_;
    }
    QList<std::chrono::steady_clock::time_point> times() const {
        std::lock_guard lock(mutex_);
        return times_;
    }
    // Status 0 holds the answer this long, or until the listener ends; how many ran it out.
    static constexpr std::chrono::seconds kHold{60};
    int heldToTheEnd() const {
        std::lock_guard lock(mutex_);
        return heldToTheEnd_;
    }

private:
    void start(const QByteArray &certificatePem, const QByteArray &keyPem) {
        certificate_ = certificatePem;
        key_ = keyPem;
        https_ = !certificate_.isEmpty();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION |
                         MHD_USE_ERROR_LOG;
        if (https_)
            flags |= MHD_USE_TLS;
        // A hanging answer keeps only its own connection's thread.
        daemon_ = https_ ? MHD_start_daemon(
                               flags, 0, nullptr, nullptr, &HttpListener::answer, this,
                               MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_NOTIFY_COMPLETED,
                               &HttpListener::completed, this, MHD_OPTION_HTTPS_MEM_CERT,
                               certificate_.constData(), MHD_OPTION_HTTPS_MEM_KEY,
                               key_.constData(), MHD_OPTION_END)
                         : MHD_start_daemon(flags, 0, nullptr, nullptr, &HttpListener::answer,
                                            this, MHD_OPTION_SOCK_ADDR, &address,
                                            MHD_OPTION_NOTIFY_COMPLETED, &HttpListener::completed,
                                            this, MHD_OPTION_END);
        if (daemon_)
            port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
    }

    static MHD_Result answer(void *self, MHD_Connection *connection, const char *url,
                             const char *method, const char *, const char *uploadData,
                             size_t *uploadSize, void **state) {
        auto *listener = static_cast<HttpListener *>(self);
        if (!*state) {
            *state = new QByteArray;
            return MHD_YES;
        }
        auto *body = static_cast<QByteArray *>(*state);
        if (*uploadSize > 0) {
            body->append(uploadData, static_cast<qsizetype>(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        int status = 404;
        if (std::strcmp(method, "POST") == 0 && std::strcmp(url, "/hook") == 0)
            status = listener->received(
                *body, MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                   MHD_HTTP_HEADER_CONTENT_TYPE));
        static const char answerBody[] = "{}";
        MHD_Response *response = MHD_create_response_from_buffer(
            sizeof answerBody - 1, const_cast<char *>(answerBody), MHD_RESPMEM_PERSISTENT);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
        const MHD_Result queued =
            MHD_queue_response(connection, static_cast<unsigned>(status), response);
        MHD_destroy_response(response);
        return queued;
    }

    static void completed(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
        delete static_cast<QByteArray *>(*state);
        *state = nullptr;
    }

    int received(const QByteArray &body, const char *contentType) {
        std::unique_lock lock(mutex_);
        bodies_.append(body);
        types_.append(QString::fromUtf8(contentType ? contentType : ""));
        times_.append(std::chrono::steady_clock::now());
        int status = rule_                   ? rule_(body)
                     : statuses_.size() > 1 ? statuses_.takeFirst()
                                            : statuses_.value(0, 200);
        if (status == 0) {
            if (!released_.wait_for(lock, kHold, [this] { return release_; }))
                ++heldToTheEnd_;
            status = 200;
        }
        return status;
    }

    QList<int> statuses_;
    std::function<int(const QByteArray &body)> rule_;
    QByteArray certificate_, key_;
    bool https_ = false;
    MHD_Daemon *daemon_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    int heldToTheEnd_ = 0;
    QList<QByteArray> bodies_;
    QStringList types_;
    QList<std::chrono::steady_clock::time_point> times_;
    int port_ = 0;
};

#pragma once
// Listeners on 127.0.0.1 that alarm notifications are delivered to in tests: a small SMTP
// server and an HTTP server, each on a port of the system's choice in a thread of its own.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct ReceivedMail {
    QByteArray from;                          // MAIL FROM:<...>
    QList<QByteArray> to;                     // RCPT TO:<...>
    QByteArray login;                         // AUTH PLAIN's decoded "\0user\0password"
    QByteArray message;                       // DATA, dot-unstuffed, CR LF kept
    std::chrono::steady_clock::time_point at; // when its closing "." came
};

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

    static void say(int fd, const char *line) { (void)!::write(fd, line, std::strlen(line)); }

    void converse(int fd) {
        if (mode_ == Mode::Mute) {
            while (readable(fd)) {
                char sink[256];
                if (::read(fd, sink, sizeof sink) <= 0)
                    return;
            }
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
    mutable std::mutex mutex_;
    QList<ReceivedMail> mails_;
    std::thread thread_;
};

// Takes POSTs at /hook and answers them with the statuses given, in turn; the last one stays.
// A status of 0 means: answer nothing for a minute (a server that hangs).
class HttpListener {
public:
    explicit HttpListener(QList<int> statuses) : statuses_(std::move(statuses)) {
        server_.Post("/hook", [this](const httplib::Request &request, httplib::Response &response) {
            int status;
            {
                std::lock_guard lock(mutex_);
                bodies_.append(QByteArray::fromStdString(request.body));
                types_.append(QString::fromStdString(request.get_header_value("Content-Type")));
                times_.append(std::chrono::steady_clock::now());
                status = statuses_.size() > 1 ? statuses_.takeFirst() : statuses_.value(0, 200);
            }
            if (status == 0) {
                std::unique_lock lock(mutex_);
                released_.wait_for(lock, std::chrono::minutes(1), [this] { return release_; });
                status = 200;
            }
            response.status = status;
            response.set_content("{}", "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~HttpListener() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
        server_.stop();
        thread_.join();
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/hook").arg(port_); }
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

private:
    httplib::Server server_;
    QList<int> statuses_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
    QList<QByteArray> bodies_;
    QStringList types_;
    QList<std::chrono::steady_clock::time_point> times_;
    int port_ = 0;
    std::thread thread_;
};

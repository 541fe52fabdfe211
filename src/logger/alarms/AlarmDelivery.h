#pragma once
// Delivery of alarm notifications: a hook command, a webhook, mail. Each channel has its own
// bounded queue and thread, so that a dead mail server delays neither the hook nor the caller:
// post() only queues. Webhook and mail are retried with back-off until a notification is
// giveUpAfter old; the hook runs once (a second run of a half-done hook could send twice), and
// a webhook's answer other than 5xx is final (the same payload would only be refused again).
// A notification waiting for its retry holds back only the later ones of the same alarm (a
// peer never gets a clear before its raise); the others go ahead.
#include "core/AlarmRules.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

enum class AlarmChannel { Command, Webhook, Mail };

// "command", "webhook", "mail": the names of the events journal and the metrics.
QString AlarmChannelName(AlarmChannel channel);

struct AlarmDeliverySettings {
    QStringList command; // the hook: program and arguments, run without a shell; empty: none
    std::chrono::milliseconds commandTimeout{30000};
    QString webhookUrl; // http:// or https://; empty: none
    QStringList mailTo; // empty: no mail
    QString smtpUrl;    // smtp://host:port (STARTTLS when offered) or smtps://host:port
    QString smtpUser;   // empty: no log-in
    QString smtpPassword;
    // With a log-in, mail goes only over TLS (smtps://, or STARTTLS on smtp://) unless the lab
    // allows the password to go out unencrypted to a server that offers no TLS.
    bool smtpPasswordUnencrypted = false;
    QString mailFrom;
    QString host; // this machine, named in every notification
    // One webhook or mail attempt, connection included.
    std::chrono::milliseconds requestTimeout{30000};
    std::chrono::milliseconds firstRetry{10000};    // then doubled after each failure...
    std::chrono::milliseconds longestRetry{120000}; // ...up to this
    std::chrono::milliseconds giveUpAfter{600000};  // since the notification was posted
    std::size_t queueCapacity = 100;                // per channel
    std::chrono::milliseconds finishWithin{5000};   // finish(): the last tries at a stop

    std::vector<AlarmChannel> channels() const;
};

// Sends once through one channel and waits for the outcome: empty when delivered, else why
// not. Setting *stop ends a transfer in flight or kills the hook within a fraction of a second.
QString SendAlarmOnce(AlarmChannel channel, const AlarmNotification &notification,
                      const AlarmDeliverySettings &settings,
                      const std::atomic<bool> *stop = nullptr);

// How the mail channel treats the log-in's password, in words for alarm-test's output; empty
// without a log-in.
QString MailSecurityText(const AlarmDeliverySettings &settings);

struct DeliveryProblem {
    enum class What {
        Failed,  // an attempt failed: reason; gaveUp when no attempt follows
        Dropped, // not delivered and no longer tried: reason "queue full" (the oldest
                 // waiting notification) or "stopped" (the delivery stopped first)
    };
    What what = What::Failed;
    AlarmChannel channel = AlarmChannel::Command;
    AlarmNotification notification;
    QString reason; // the failure, or "queue full", or "stopped"
    bool gaveUp = false;
};

class AlarmDelivery {
public:
    // Called for every failed attempt and every drop: from a channel's thread, or for a drop
    // from post()'s caller. It must be thread-safe, and should be quick.
    using ProblemHandler = std::function<void(const DeliveryProblem &)>;

    AlarmDelivery(const AlarmDeliverySettings &settings, ProblemHandler onProblem);
    // Stops at once (unless finish() came first): transfers in flight are aborted, hooks
    // killed, and every notification not delivered is reported Dropped, "stopped".
    ~AlarmDelivery();
    AlarmDelivery(const AlarmDelivery &) = delete;
    AlarmDelivery &operator=(const AlarmDelivery &) = delete;

    bool hasChannels() const;
    // Queues the notification for every channel; never waits for a delivery.
    void post(const AlarmNotification &notification);
    // Failed attempts so far, per channel: the metrics' delivery-failure counter.
    unsigned long long failures(AlarmChannel channel) const;
    // Notifications waiting or in flight on every channel: zero when all are done.
    std::size_t pending() const;
    // The stop: every waiting notification is tried once more at once, without back-off,
    // within settings.finishWithin; what is then still not delivered is reported Dropped,
    // "stopped". Later posts are dropped the same way. Returns when every channel is done.
    void finish();

private:
    class Worker;
    AlarmDeliverySettings settings_;
    ProblemHandler onProblem_;
    std::vector<std::unique_ptr<Worker>> workers_;
};

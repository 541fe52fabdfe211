#pragma once
// What became of one request on the bus, and every name the program gives it: the value the
// events journal stores, the "result" label of the metrics, and the words of the page, the
// report, the alarms and stderr. One table, so that all of them say the same thing.
//
// Journal values and metric labels are read by stored files, dashboards and alert rules: a row's
// names are the ones in use and do not change. A reader also takes the older spellings a
// journal may hold.
#include <QJsonObject>
#include <QString>
#include <QStringView>
#include <optional>
#include <span>

enum class ExchangeOutcome {
    Ok,             // the complete, valid reply
    Timeout,        // the line stayed silent (or held only noise) for the time-out
    BadCrc,         // a reply came but was damaged (CRC or layout)
    Exception,      // the slave answered with an exception
    WriteFailed,    // the request could not be written
    Stopped,        // the program was told to stop
    LineNeverQuiet, // bytes kept coming until the give-up time: the request was not sent
    PortLost,       // the device hung up or vanished
};

struct ExchangeOutcomeNames {
    ExchangeOutcome outcome;
    // chamber_lost's "reason" and client_write's "answer". "%1" stands for an exception's code.
    const char *journal;
    // "result" of kalvora_chamber_exchanges_total and kalvora_client_requests_total; nullptr
    // for an outcome in which the request never reached a chamber.
    const char *metric;
    const char *russian; // UTF-8; "%1" as in journal
    const char *english;
};

// Every outcome once, in the order of the enumeration.
std::span<const ExchangeOutcomeNames> ExchangeOutcomeTable();
const ExchangeOutcomeNames &NamesOf(ExchangeOutcome outcome);

// "silence", "exception 2". A write that failed is stored as the lost port it nearly always is.
QString OutcomeJournalValue(ExchangeOutcome outcome, int exceptionCode = 0);

struct JournalOutcome {
    ExchangeOutcome outcome;
    int exceptionCode = 0;
    bool operator==(const JournalOutcome &) const = default;
};
// The outcome a stored value names, older spellings included; none for any other text.
std::optional<JournalOutcome> ParseOutcomeJournalValue(QStringView value);

// The words for a stored value: "нет ответа", "ответ-исключение 2" / "no answer",
// "exception 2". A value the table does not know (a newer logger's) comes back unchanged.
QString OutcomeRussian(QStringView journalValue);
QString OutcomeEnglish(QStringView journalValue);
QString OutcomeRussian(ExchangeOutcome outcome, int exceptionCode = 0);
QString OutcomeEnglish(ExchangeOutcome outcome, int exceptionCode = 0);

// The "result" label: "bad_crc".
QString OutcomeMetricLabel(ExchangeOutcome outcome);
// The label of a client's request on a shared link: the outcome's own, or "not_sent" for one in
// which the request never reached a chamber.
QString ClientRequestLabel(ExchangeOutcome outcome);

// Stored value (older spellings included) -> Russian words, for the overview page; the
// exception's key and words hold "%1" for its code.
QJsonObject OutcomeRussianByJournalValue();

#include "ExchangeOutcome.h"

#include <array>

namespace {

using O = ExchangeOutcome;

constexpr std::array<ExchangeOutcomeNames, 8> kTable{{
    {O::Ok, "ok", "ok", "ответ получен", "answered"},
    {O::Timeout, "silence", "timeout", "нет ответа", "no answer"},
    {O::BadCrc, "damaged replies", "bad_crc", "искажённые ответы", "damaged reply"},
    {O::Exception, "exception %1", "exception", "ответ-исключение %1", "exception %1"},
    {O::WriteFailed, "port lost", nullptr, "не удалось записать в порт",
     "cannot write to the port"},
    {O::Stopped, "stopped", nullptr, "остановлено", "stopped"},
    {O::LineNeverQuiet, "line never quiet", "line_never_quiet", "линия не затихает",
     "line never quiet"},
    {O::PortLost, "port lost", nullptr, "порт потерян", "port lost"},
}};

// Spellings older loggers stored: client_write's answer for a damaged reply.
constexpr std::array<std::pair<const char *, O>, 1> kOlderSpellings{{{"damaged", O::BadCrc}}};

constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < kTable.size(); ++i)
        if (static_cast<std::size_t>(kTable[i].outcome) != i)
            return false;
    return true;
}
static_assert(InEnumOrder());

QString WithCode(const char *pattern, int exceptionCode) {
    QString text = QString::fromUtf8(pattern);
    return text.contains(QLatin1String("%1")) ? text.arg(exceptionCode) : text;
}

// The code of "<prefix><digits>", where the pattern is "<prefix>%1".
std::optional<int> CodeAfter(QStringView value, const QString &pattern) {
    const qsizetype mark = pattern.indexOf(QLatin1String("%1"));
    if (mark < 0 || !value.startsWith(QStringView(pattern).left(mark)))
        return std::nullopt;
    const QStringView digits = value.mid(mark);
    if (digits.isEmpty() || digits.size() > 3)
        return std::nullopt;
    int code = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        code = code * 10 + (c.unicode() - u'0');
    }
    return code;
}

} // namespace

std::span<const ExchangeOutcomeNames> ExchangeOutcomeTable() { return kTable; }

const ExchangeOutcomeNames &NamesOf(ExchangeOutcome outcome) {
    return kTable[static_cast<std::size_t>(outcome)];
}

QString OutcomeJournalValue(ExchangeOutcome outcome, int exceptionCode) {
    return WithCode(NamesOf(outcome).journal, exceptionCode);
}

std::optional<JournalOutcome> ParseOutcomeJournalValue(QStringView value) {
    for (const ExchangeOutcomeNames &row : kTable) {
        if (row.outcome == O::WriteFailed)
            continue; // stored as, and read back as, a lost port
        const QString pattern = QString::fromUtf8(row.journal);
        if (value == pattern)
            return JournalOutcome{row.outcome};
        if (const auto code = CodeAfter(value, pattern))
            return JournalOutcome{row.outcome, *code};
    }
    for (const auto &[spelling, outcome] : kOlderSpellings)
        if (value == QLatin1String(spelling))
            return JournalOutcome{outcome};
    return std::nullopt;
}

QString OutcomeRussian(ExchangeOutcome outcome, int exceptionCode) {
    return WithCode(NamesOf(outcome).russian, exceptionCode);
}

QString OutcomeEnglish(ExchangeOutcome outcome, int exceptionCode) {
    return WithCode(NamesOf(outcome).english, exceptionCode);
}

QString OutcomeRussian(QStringView journalValue) {
    const auto known = ParseOutcomeJournalValue(journalValue);
    return known ? OutcomeRussian(known->outcome, known->exceptionCode) : journalValue.toString();
}

QString OutcomeEnglish(QStringView journalValue) {
    const auto known = ParseOutcomeJournalValue(journalValue);
    return known ? OutcomeEnglish(known->outcome, known->exceptionCode) : journalValue.toString();
}

QString OutcomeMetricLabel(ExchangeOutcome outcome) {
    const char *label = NamesOf(outcome).metric;
    return label ? QString::fromLatin1(label) : QString();
}

QString ClientRequestLabel(ExchangeOutcome outcome) {
    const char *label = NamesOf(outcome).metric;
    // A line never quiet is counted for a chamber, but a client's request it kept back was
    // not sent: the shared link's families lump it with the lost port.
    if (!label || outcome == O::LineNeverQuiet)
        return QStringLiteral("not_sent");
    return QString::fromLatin1(label);
}

QJsonObject OutcomeRussianByJournalValue() {
    QJsonObject words;
    for (const ExchangeOutcomeNames &row : kTable)
        if (row.outcome != O::WriteFailed)
            words.insert(QString::fromUtf8(row.journal), QString::fromUtf8(row.russian));
    for (const auto &[spelling, outcome] : kOlderSpellings)
        words.insert(QLatin1String(spelling), QString::fromUtf8(NamesOf(outcome).russian));
    return words;
}

// The one table of an exchange's outcomes: the names stored files, dashboards and rules use are
// kept, every stored value (older spellings too) reads back, and unknown values pass through.
#include "core/ExchangeOutcome.h"

#include <QtTest>

Q_DECLARE_METATYPE(ExchangeOutcome)

class tst_ExchangeOutcome : public QObject {
    Q_OBJECT
private slots:
    void names_data();
    void names();
    void readBack_data();
    void readBack();
    void everyOutcomeReadsBack();
    void pageWords();
};

void tst_ExchangeOutcome::names_data() {
    QTest::addColumn<ExchangeOutcome>("outcome");
    QTest::addColumn<QString>("journal"); // with exception code 2
    QTest::addColumn<QString>("metric");
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("russian");
    QTest::addColumn<QString>("english");
    using O = ExchangeOutcome;
    QTest::newRow("ok") << O::Ok << "ok"
                        << "ok"
                        << "ok"
                        << "ответ получен"
                        << "answered";
    QTest::newRow("timeout") << O::Timeout << "silence"
                             << "timeout"
                             << "timeout"
                             << "нет ответа"
                             << "no answer";
    QTest::newRow("bad crc") << O::BadCrc << "damaged replies"
                             << "bad_crc"
                             << "bad_crc"
                             << "искажённые ответы"
                             << "damaged reply";
    QTest::newRow("exception") << O::Exception << "exception 2"
                               << "exception"
                               << "exception"
                               << "ответ-исключение 2"
                               << "exception 2";
    QTest::newRow("line never quiet") << O::LineNeverQuiet << "line never quiet"
                                      << "line_never_quiet"
                                      << "not_sent"
                                      << "линия не затихает"
                                      << "line never quiet";
    QTest::newRow("port lost") << O::PortLost << "port lost" << QString() << "not_sent"
                               << "порт потерян"
                               << "port lost";
    QTest::newRow("write failed") << O::WriteFailed << "port lost" << QString() << "not_sent"
                                  << "не удалось записать в порт"
                                  << "cannot write to the port";
    QTest::newRow("stopped") << O::Stopped << "stopped" << QString() << "not_sent"
                             << "остановлено"
                             << "stopped";
}

void tst_ExchangeOutcome::names() {
    QFETCH(ExchangeOutcome, outcome);
    QFETCH(QString, journal);
    QFETCH(QString, metric);
    QFETCH(QString, client);
    QFETCH(QString, russian);
    QFETCH(QString, english);
    QCOMPARE(OutcomeJournalValue(outcome, 2), journal);
    QCOMPARE(OutcomeMetricLabel(outcome), metric);
    QCOMPARE(ClientRequestLabel(outcome), client);
    QCOMPARE(OutcomeRussian(outcome, 2), russian);
    QCOMPARE(OutcomeEnglish(outcome, 2), english);
    QCOMPARE(NamesOf(outcome).outcome, outcome);
}

void tst_ExchangeOutcome::readBack_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("known");
    QTest::addColumn<ExchangeOutcome>("outcome");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("russian");
    QTest::addColumn<QString>("english");
    using O = ExchangeOutcome;
    QTest::newRow("silence") << "silence" << true << O::Timeout << 0 << "нет ответа"
                             << "no answer";
    QTest::newRow("older client_write answer")
        << "damaged" << true << O::BadCrc << 0 << "искажённые ответы"
        << "damaged reply";
    QTest::newRow("exception 11") << "exception 11" << true << O::Exception << 11
                                  << "ответ-исключение 11"
                                  << "exception 11";
    QTest::newRow("port lost") << "port lost" << true << O::PortLost << 0 << "порт потерян"
                               << "port lost";
    // Anything else is no outcome of ours, and is shown as it is.
    QTest::newRow("exception without code") << "exception" << false << O::Ok << 0 << "exception"
                                            << "exception";
    QTest::newRow("exception with a word") << "exception x" << false << O::Ok << 0 << "exception x"
                                           << "exception x";
    QTest::newRow("exception, blank after")
        << "exception 2 " << false << O::Ok << 0 << "exception 2 "
        << "exception 2 ";
    QTest::newRow("other case") << "Silence" << false << O::Ok << 0 << "Silence"
                                << "Silence";
    QTest::newRow("a newer logger's") << "brownout" << false << O::Ok << 0 << "brownout"
                                      << "brownout";
    QTest::newRow("empty") << "" << false << O::Ok << 0 << ""
                           << "";
}

void tst_ExchangeOutcome::readBack() {
    QFETCH(QString, value);
    QFETCH(bool, known);
    QFETCH(ExchangeOutcome, outcome);
    QFETCH(int, code);
    QFETCH(QString, russian);
    QFETCH(QString, english);
    const auto read = ParseOutcomeJournalValue(value);
    QCOMPARE(read.has_value(), known);
    if (known)
        QCOMPARE(*read, (JournalOutcome{outcome, code}));
    QCOMPARE(OutcomeRussian(value), russian);
    QCOMPARE(OutcomeEnglish(value), english);
}

void tst_ExchangeOutcome::everyOutcomeReadsBack() {
    for (const ExchangeOutcomeNames &row : ExchangeOutcomeTable()) {
        const auto read = ParseOutcomeJournalValue(OutcomeJournalValue(row.outcome, 3));
        QVERIFY(read);
        // A failed write is stored as the lost port it nearly always is.
        QCOMPARE(read->outcome, row.outcome == ExchangeOutcome::WriteFailed
                                    ? ExchangeOutcome::PortLost
                                    : row.outcome);
        QCOMPARE(read->exceptionCode, row.outcome == ExchangeOutcome::Exception ? 3 : 0);
    }
}

// The overview page takes its words from this map: every stored value, older ones included.
void tst_ExchangeOutcome::pageWords() {
    const QJsonObject words = OutcomeRussianByJournalValue();
    QCOMPARE(words.value(QStringLiteral("silence")).toString(), QStringLiteral("нет ответа"));
    QCOMPARE(words.value(QStringLiteral("damaged")).toString(),
             QStringLiteral("искажённые ответы"));
    QCOMPARE(words.value(QStringLiteral("exception %1")).toString(),
             QStringLiteral("ответ-исключение %1"));
    for (auto it = words.begin(); it != words.end(); ++it)
        QCOMPARE(
            OutcomeRussian(QString(it.key()).replace(QStringLiteral("%1"), QStringLiteral("7"))),
            it.value().toString().replace(QStringLiteral("%1"), QStringLiteral("7")));
}

QTEST_APPLESS_MAIN(tst_ExchangeOutcome)
#include "tst_ExchangeOutcome.moc"

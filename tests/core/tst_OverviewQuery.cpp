// The overview server's request parameters as clients send them: a chamber number in a path,
// a history's minutes, and the moment events are wanted from.
#include "core/OverviewQuery.h"

#include <QtTest>

class tst_OverviewQuery : public QObject {
    Q_OBJECT
private slots:
    void chamberInPath_data();
    void chamberInPath();
    void historyMinutes_data();
    void historyMinutes();
    void sinceTime_data();
    void sinceTime();
};

void tst_OverviewQuery::chamberInPath_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<int>("address"); // -1: no such chamber
    QTest::newRow("1") << "1" << true << 1;
    QTest::newRow("0") << "0" << true << 0;
    QTest::newRow("250") << "250" << true << 250;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("251") << "251" << true << -1;
    QTest::newRow("huge") << "123456789012345678901234567890" << true << -1;
    QTest::newRow("zeros then huge") << "000000000000000000000012" << true << 12;
    QTest::newRow("empty") << "" << false << -1;
    QTest::newRow("plus") << "+1" << false << -1;
    QTest::newRow("minus") << "-1" << false << -1;
    QTest::newRow("space") << " 1" << false << -1;
    QTest::newRow("trailing space") << "1 " << false << -1;
    QTest::newRow("hexadecimal") << "0x10" << false << -1;
    QTest::newRow("fraction") << "1.0" << false << -1;
    QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("\xd9\xa1") << false << -1;
}

void tst_OverviewQuery::chamberInPath() {
    QFETCH(QString, text);
    QFETCH(bool, isNumber);
    QFETCH(int, address);
    const ChamberInPath parsed = ParseChamberInPath(text);
    QCOMPARE(parsed.isNumber, isNumber);
    QCOMPARE(parsed.address.value_or(-1), address);
}

void tst_OverviewQuery::historyMinutes_data() {
    QTest::addColumn<QString>("text"); // "<absent>": no parameter
    QTest::addColumn<int>("minutes");  // 0: a bad request
    QTest::newRow("absent") << "<absent>" << 60;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("a day") << "1440" << 1440;
    QTest::newRow("leading zero") << "090" << 90;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("over a day") << "1441" << 0;
    QTest::newRow("huge") << "99999999999999999999" << 0;
    QTest::newRow("negative") << "-5" << 0;
    QTest::newRow("plus") << "+5" << 0;
    QTest::newRow("fraction") << "1.5" << 0;
    QTest::newRow("unit") << "60m" << 0;
}

void tst_OverviewQuery::historyMinutes() {
    QFETCH(QString, text);
    QFETCH(int, minutes);
    const auto parsed = ParseHistoryMinutes(
        text == QLatin1String("<absent>") ? std::nullopt : std::optional<QString>(text));
    QCOMPARE(parsed.value_or(0), minutes);
}

void tst_OverviewQuery::sinceTime_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("msecs"); // -1: malformed
    // 2026-12-10T16:03:04Z
    const qint64 utc = QDateTime(QDate(2026, 12, 10), QTime(16, 3, 4), Qt::UTC).toMSecsSinceEpoch();
    QTest::newRow("as the journal writes it") << "2026-12-10T17:03:04+01:00" << utc;
    QTest::newRow("behind UTC") << "2026-12-10T11:03:04-05:00" << utc;
    QTest::newRow("+00:00") << "2026-12-10T16:03:04+00:00" << utc;
    QTest::newRow("Z") << "2026-12-10T16:03:04Z" << utc;
    QTest::newRow("half-hour offset") << "2026-12-10T21:33:04+05:30" << utc;
    QTest::newRow("fraction") << "2026-12-10T17:03:04.250+01:00" << utc + 250;
    QTest::newRow("long fraction") << "2026-12-10T17:03:04.2509+01:00" << utc + 250;
    QTest::newRow("unescaped plus") << "2026-12-10T17:03:04 01:00" << utc;
    QTest::newRow("no offset") << "2026-12-10T17:03:04" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
    QTest::newRow("date only") << "2026-12-10" << qint64(-1);
    QTest::newRow("no seconds") << "2026-12-10T17:03+01:00" << qint64(-1);
    QTest::newRow("bad day") << "2026-02-30T17:03:04+01:00" << qint64(-1);
    QTest::newRow("bad hour") << "2026-12-10T24:03:04+01:00" << qint64(-1);
    QTest::newRow("offset without colon") << "2026-12-10T17:03:04+0100" << qint64(-1);
    QTest::newRow("offset hours too large") << "2026-12-10T17:03:04+24:00" << qint64(-1);
    QTest::newRow("empty fraction") << "2026-12-10T17:03:04.+01:00" << qint64(-1);
    QTest::newRow("space instead of T") << "2026-12-10 17:03:04+01:00" << qint64(-1);
    QTest::newRow("trailing text") << "2026-12-10T17:03:04+01:00x" << qint64(-1);
    QTest::newRow("signed year") << "+026-12-10T17:03:04+01:00" << qint64(-1);
}

void tst_OverviewQuery::sinceTime() {
    QFETCH(QString, text);
    QFETCH(qint64, msecs);
    QCOMPARE(ParseSinceTime(text).value_or(-1), msecs);
}

QTEST_GUILESS_MAIN(tst_OverviewQuery)
#include "tst_OverviewQuery.moc"

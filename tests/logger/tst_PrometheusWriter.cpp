// The one Prometheus text writer of /metrics: each family's # HELP and # TYPE once, its samples
// together, label values and help escaped; and the whole text of a run with alarms and shared
// links whose paths hold the characters to escape, accepted by promtool.
#include "logger/metrics/MetricsText.h"
#include "logger/metrics/PrometheusWriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class tst_PrometheusWriter : public QObject {
    Q_OBJECT
private slots:
    void labelValuesAreEscaped_data();
    void labelValuesAreEscaped();
    void familyNamedTwiceIsWrittenOnce();
    void valuesAsTheFormatSpellsThem();
    void promtoolAcceptsARunWithAwkwardLinks();
};

void tst_PrometheusWriter::labelValuesAreEscaped_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "/run/kalvora/COM2" << R"(/run/kalvora/COM2)";
    QTest::newRow("double quote") << R"(/tmp/a"b)" << R"(/tmp/a\"b)";
    QTest::newRow("backslash") << R"(C:\COM2)" << R"(C:\\COM2)";
    QTest::newRow("backslash before a quote") << R"(a\"b)" << R"(a\\\"b)";
    QTest::newRow("line feed") << "a\nb" << R"(a\nb)";
    QTest::newRow("Cyrillic and braces") << "камера {1}" << "камера {1}";
}

void tst_PrometheusWriter::labelValuesAreEscaped() {
    QFETCH(QString, value);
    QFETCH(QString, written);
    PrometheusWriter out;
    out.family(QStringLiteral("m"), PrometheusWriter::Type::Counter, QStringLiteral("Help."))
        .addCount({{QStringLiteral("link"), value}, {QStringLiteral("result"), "ok"}}, 7);
    QCOMPARE(out.text(), QStringLiteral("# HELP m Help.\n# TYPE m counter\n"
                                        "m{link=\"%1\",result=\"ok\"} 7\n")
                             .arg(written));
}

void tst_PrometheusWriter::familyNamedTwiceIsWrittenOnce() {
    PrometheusWriter out;
    using Type = PrometheusWriter::Type;
    out.family("a", Type::Gauge, "First \\ help\nline.").add({{"chamber", "1"}}, 1);
    out.family("b", Type::Counter, "B.").addCount({}, 2);
    out.family("a", Type::Counter, "Other help.").add({{"chamber", "2"}}, 0);
    out.family("c", Type::Gauge, "Empty.");
    QCOMPARE(out.text(), QStringLiteral("# HELP a First \\\\ help\\nline.\n# TYPE a gauge\n"
                                        "a{chamber=\"1\"} 1\na{chamber=\"2\"} 0\n"
                                        "# HELP b B.\n# TYPE b counter\nb 2\n"
                                        "# HELP c Empty.\n# TYPE c gauge\n"));
}

void tst_PrometheusWriter::valuesAsTheFormatSpellsThem() {
    PrometheusWriter out;
    auto &f = out.family("v", PrometheusWriter::Type::Gauge, "V.");
    for (double value : {-40.0, 23.5, 1765000000.25, -0.0, qQNaN(), qInf(), -qInf()})
        f.add({}, value);
    f.addCount({}, 18446744073709551615ULL);
    QCOMPARE(out.text().section(QLatin1Char('\n'), 2),
             QStringLiteral("v -40\nv 23.5\nv 1765000000.25\nv 0\nv NaN\nv +Inf\nv -Inf\n"
                            "v 18446744073709551615\n"));
}

void tst_PrometheusWriter::promtoolAcceptsARunWithAwkwardLinks() {
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool is missing (./test.sh installs Debian's prometheus)");
    ChamberMetrics chamber;
    chamber.address = 3;
    chamber.up = true;
    chamber.values = ReadingValues{};
    chamber.values->currentTemperature = -12.5;
    chamber.lastGoodReadingAt = 1765000000.5;
    chamber.sensorOk = true;
    BusMetrics bus;
    bus.chambers = {chamber};
    bus.alarms = AlarmMetrics{{{3, AlarmKind::Silent, true}, {3, AlarmKind::High, false}},
                              {{QStringLiteral("webhook"), 2}}};
    SharedLinkMetrics quoted;
    quoted.path = QStringLiteral(R"(/run/kalvora/bench "1"/COM2)");
    quoted.ok = 4;
    quoted.busSeconds = 0.125;
    SharedLinkMetrics backslashed;
    backslashed.path = QStringLiteral("/run/kalvora/a\\b\\\nCOM3\\");
    bus.sharedLinks = {quoted, backslashed};
    const QString text = PrometheusText(bus);
    QVERIFY(text.contains(
        QStringLiteral(R"(kalvora_client_requests_total{link="/run/kalvora/bench \"1\"/COM2",)")));
    QVERIFY(text.contains(QStringLiteral(R"(kalvora_client_wait_seconds_total{link="/run/kalvora/a\\b\\\nCOM3\\"} 0)")));
    QVERIFY(text.contains(QStringLiteral("kalvora_alarm_active{chamber=\"3\",kind=\"silent\"} 1\n")));

    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(check.waitForStarted());
    check.write(text.toUtf8());
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), said.constData());
    // Each family once, however many links and alarms.
    for (const QString &line : text.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("# TYPE ")))
            QCOMPARE(text.count(line + QLatin1Char('\n')), 1);
}

QTEST_APPLESS_MAIN(tst_PrometheusWriter)
#include "tst_PrometheusWriter.moc"

// A report from files the real logger wrote against the simulated chamber: one outage, one
// program change, a journal beside them. The PDF is read back with pdftotext and drawn with
// pdftoppm, as a customer's viewer would.
#include "FileBytes.h"
#include "SimulatedLine.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <thread>

using chambersim::ChamberFaults;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome RunTool(const QString &program, const QStringList &arguments, const QString &runtime) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QByteArray Sha256Hex(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

QByteArray JournalLine(const QDateTime &at, const QByteArray &rest) {
    return "{\"time\":\"" + at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate).toUtf8() +
           "\"," + rest + "}\n";
}

// The text of the PDF with runs of blanks made one, each table row on its line.
QString PdfText(const QString &pdf) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    QString text = QString::fromUtf8(process.readAllStandardOutput());
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return text.replace(blanks, QStringLiteral(" "));
}

} // namespace

class tst_ReportEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void reportOfARealLog() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QFAIL("pdftotext and pdftoppm (poppler-utils) are needed; ./test.sh installs them");
        QTemporaryDir dir, runtime;
        QVERIFY(dir.isValid() && runtime.isValid());

        SimulatedLine line({1});
        // 23.5 °C against a set 24.5 °C, program 2 at step 3(12), cycle 2(5); the time to mode
        // (00:30) is past its set-point (00:20): the step holds.
        const std::vector<std::pair<int, std::uint16_t>> registers{
            {0, 235}, {1, 2}, {2, 245}, {4, 0},   {5, 5},  {6, 0},  {7, 30},
            {8, 1},   {9, 0}, {10, 3},  {11, 12}, {12, 2}, {13, 5}, {14, 20}};
        for (const auto &[reg, value] : registers)
            line.setRawInput(1, reg, value);

        QByteArray journal =
            JournalLine(QDateTime::currentDateTime(), "\"event\":\"started\",\"version\":\"test\","
                                                      "\"port\":\"COM1\",\"chambers\":[1]");
        QProcess logger;
        logger.start(QStringLiteral(CLI_BINARY),
                     {"log", "1", "--period", "1", "--record-every", "2", "--csv", "--timeout",
                      "150", "--dir", dir.path(), "--port", line.slavePath(), "--alarm",
                      "1 silent 2 repeat=2s"});
        QVERIFY(logger.waitForStarted());
        std::this_thread::sleep_for(5000ms);
        ChamberFaults silent;
        silent.silentFirst = 1 << 30;
        line.setFaults(1, silent);
        journal += JournalLine(QDateTime::currentDateTime(),
                               "\"event\":\"chamber_lost\",\"chamber\":1,\"reason\":\"silence\"");
        std::this_thread::sleep_for(7000ms);
        line.setFaults(1, ChamberFaults{});
        journal += JournalLine(QDateTime::currentDateTime(),
                               "\"event\":\"chamber_back\",\"chamber\":1,\"outage_seconds\":7");
        std::this_thread::sleep_for(5000ms);
        line.setRawInput(1, 1, 3); // the chamber goes on to program 3
        std::this_thread::sleep_for(5000ms);
        ::kill(static_cast<pid_t>(logger.processId()), SIGTERM);
        QVERIFY(logger.waitForFinished(10000));
        QCOMPARE(logger.exitCode(), 0);
        journal += JournalLine(QDateTime::currentDateTime(),
                               "\"event\":\"stopped\",\"signal\":\"SIGTERM\"");

        const QDir folder(dir.path());
        const QStringList logs = folder.entryList({"*1 *.txt"}, QDir::Files);
        const QStringList csvs = folder.entryList({"*1 *.csv"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        QCOMPARE(csvs.size(), 1);
        const QString log = folder.filePath(logs.first());
        const QString csv = folder.filePath(csvs.first());
        const QString events = folder.filePath(QStringLiteral("events.jsonl"));
        // The silence raised the logger's alarm, repeated it every 2 s, and cleared it: its
        // lines as the logger wrote them join the journal.
        int repeats = 0;
        for (const QByteArray &written : ReadAll(events).split('\n')) {
            if (!written.contains("\"event\":\"alarm_"))
                continue;
            journal += written + '\n';
            repeats += written.contains("\"repeated\":true");
        }
        QVERIFY2(repeats >= 1, ReadAll(events).constData());
        QFile journalFile(events);
        QVERIFY(journalFile.open(QIODevice::WriteOnly));
        journalFile.write(journal);
        journalFile.close();

        const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
        const QString html = folder.filePath(QStringLiteral("report.html"));
        const Outcome made = RunTool(QStringLiteral(KALVORA_PLOT_PATH),
                                     {"report", log, csv, events, "-o", pdf, "--html", html,
                                      "--title", "Испытание 7", "--customer", "ООО «Север»"},
                                     runtime.path());
        QCOMPARE(made.err, QString());
        QCOMPARE(made.exitCode, 0);

        const QString text = PdfText(pdf);
        QVERIFY2(!text.isEmpty(), "pdftotext read nothing");
        auto has = [&text](const QString &pattern) {
            const QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
            if (!expression.match(text).hasMatch())
                qWarning("not in the PDF: %s", qPrintable(pattern));
            return expression.match(text).hasMatch();
        };
        // The header.
        QVERIFY(has(QStringLiteral("Испытание 7\\. Камера №1")));
        QVERIFY(has(QStringLiteral("Заказчик ООО «Север»")));
        for (const QString &path : {log, csv, events}) {
            QVERIFY(has(QRegularExpression::escape(QFileInfo(path).fileName())));
            QVERIFY(has(QStringLiteral("SHA-256 ") + QString::fromLatin1(Sha256Hex(path))));
        }
        QVERIFY(has(QStringLiteral("Сформировано программой kalvora-plot " PROJECT_VERSION_TEXT)));
        QVERIFY(has(QStringLiteral("Отчёт составлен \\S+ \\S+")));
        // The summary's figures.
        QVERIFY(has(QStringLiteral("Минимальная температура 23[.,]5 °C")));
        QVERIFY(has(QStringLiteral("Максимальная температура 23[.,]5 °C")));
        QVERIFY(has(QStringLiteral("Средняя температура 23[.,]5 °C")));
        QVERIFY(has(QStringLiteral("Программы 2–3$")));
        QVERIFY(has(QStringLiteral("Шаги 3$")));
        QVERIFY(has(QStringLiteral("Циклы 2$")));
        QVERIFY(has(QStringLiteral("Время в пределах ±2 °C от .*[\\d.,]+ мин из [\\d.,]+ мин "
                                   "записанного времени")));
        QVERIFY(has(QStringLiteral("температурой \\(100 %\\)")));
        QVERIFY(has(QStringLiteral("Наибольшее отклонение на .*-1 °C \\(")));
        QVERIFY(has(QStringLiteral("Пропущено повреждённых .*0$")));
        // The events: the outage as the journal tells it, both programs, the logger's run.
        QVERIFY(has(QStringLiteral("Перерыв связи .*нет ответа")));
        QVERIFY(has(QStringLiteral("^ ?Программа 2 ")));
        QVERIFY(has(QStringLiteral("^ ?Программа 3 ")));
        QVERIFY(has(QStringLiteral("Регистратор .*остановлен: SIGTERM")));
        // The repeated alarm is one row, with its end.
        QCOMPARE(int(text.count(QStringLiteral("Авария"))), 1);
        QVERIFY(has(
            QStringLiteral("^ ?Авария (\\S+ ){2,4}0:00:\\d\\d нет ответа; значение \\d+ с;")));
        const int outageRows = int(text.count(QStringLiteral("Перерыв связи ")));
        QVERIFY(has(QStringLiteral("Перерывы связи %1, всего 0:00:\\d\\d").arg(outageRows)));
        QVERIFY(has(QStringLiteral("Страница 1 из \\d")));
        QVERIFY(has(QStringLiteral("Оператор: _+ Подпись: _+ Дата: _+")));

        // The chart is drawn on the first page.
        const QString page = folder.filePath(QStringLiteral("page"));
        QProcess render;
        render.start(QStringLiteral("pdftoppm"),
                     {"-r", "150", "-f", "1", "-l", "1", "-png", "-singlefile", pdf, page});
        QVERIFY(render.waitForFinished(60000));
        QCOMPARE(render.exitCode(), 0);
        const QImage image(page + QStringLiteral(".png"));
        QVERIFY(!image.isNull());
        // The current temperature's green line and the set temperature's red one, over the
        // quarter of the time axis that this short run fills.
        int green = 0, red = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                green += c.green() - c.red() > 40 && c.green() - c.blue() > 40;
                red += c.red() - c.green() > 40 && c.red() - c.blue() > 40;
            }
        QVERIFY2(green > 300 && red > 150,
                 qPrintable(QStringLiteral("green %1, red %2").arg(green).arg(red)));

        // The HTML holds the same content in one file.
        QFile htmlFile(html);
        QVERIFY(htmlFile.open(QIODevice::ReadOnly));
        const QString markup = QString::fromUtf8(htmlFile.readAll());
        QVERIFY(markup.contains(QStringLiteral("data:image/svg+xml;base64,")));
        QVERIFY(markup.contains(QString::fromLatin1(Sha256Hex(log))));
        QVERIFY(markup.contains(QStringLiteral("нет ответа")));
        QVERIFY(!markup.contains(QStringLiteral("src=\"http")));
    }
};

QTEST_GUILESS_MAIN(tst_ReportEndToEnd)
#include "tst_ReportEndToEnd.moc"

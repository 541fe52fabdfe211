#include "ReportWords.h"

#include "core/AlarmRules.h"
#include "core/AuditWords.h"
#include "core/ExchangeOutcome.h"
#include "core/IntegerText.h"
#include "core/NumberText.h"

#include <QFileInfo>
#include <cmath>

namespace ReportWords {

namespace {

QString Decimal(const RegionalSettings &settings, double value, int decimals = 1) {
    const double scale = std::pow(10.0, decimals);
    return FloatToText(std::round(value * scale) / scale, settings.decimalSeparator);
}

QString Minutes(const RegionalSettings &settings, qint64 seconds) {
    return Decimal(settings, static_cast<double>(seconds) / 60.0);
}

const QString kNoSetTemperature = QStringLiteral("в данных нет заданной температуры");
const QString kNoData = QStringLiteral("нет данных");

// The journal's reason in the words of the program's one outcome table, as the page says it.
QString OutageReason(const QString &reason) {
    if (reason.isEmpty())
        return QStringLiteral("пропуск в записях");
    if (reason.startsWith(QStringLiteral("port lost: ")))
        return OutcomeRussian(ExchangeOutcome::PortLost) + QStringLiteral(": ") + reason.mid(11);
    return OutcomeRussian(reason);
}

} // namespace

QString Text(Label label) {
    switch (label) {
    case Label::Chamber:
        return QStringLiteral("Камера");
    case Label::Customer:
        return QStringLiteral("Заказчик");
    case Label::Period:
        return QStringLiteral("Период");
    case Label::FirstAndLastRecord:
        return QStringLiteral("Первая и последняя запись");
    case Label::SourceFiles:
        return QStringLiteral("Исходные файлы");
    case Label::MadeBy:
        return QStringLiteral("Сформировано программой");
    case Label::MadeAt:
        return QStringLiteral("Отчёт составлен");
    case Label::Overview:
        return QStringLiteral("Сводка по камерам");
    case Label::Summary:
        return QStringLiteral("Сводка");
    case Label::Events:
        return QStringLiteral("События");
    case Label::NoEvents:
        return QStringLiteral("Событий нет.");
    case Label::Duration:
        return QStringLiteral("Длительность");
    case Label::Records:
        return QStringLiteral("Записей");
    case Label::Minimum:
        return QStringLiteral("Минимальная температура");
    case Label::Maximum:
        return QStringLiteral("Максимальная температура");
    case Label::Mean:
        return QStringLiteral("Средняя температура");
    case Label::Programs:
        return QStringLiteral("Программы");
    case Label::Steps:
        return QStringLiteral("Шаги");
    case Label::Cycles:
        return QStringLiteral("Циклы");
    case Label::CyclesCompleted:
        return QStringLiteral("Циклов завершено");
    case Label::LargestHoldDeviation:
        return QStringLiteral("Наибольшее отклонение на выдержке");
    case Label::Outages:
        return QStringLiteral("Перерывы связи");
    case Label::DamagedLines:
        return QStringLiteral("Пропущено повреждённых строк");
    case Label::Event:
        return QStringLiteral("Событие");
    case Label::Start:
        return QStringLiteral("Начало");
    case Label::End:
        return QStringLiteral("Конец");
    case Label::Details:
        return QStringLiteral("Подробности");
    case Label::ShortMinimum:
        return QStringLiteral("Мин.");
    case Label::ShortMaximum:
        return QStringLiteral("Макс.");
    case Label::ShortMean:
        return QStringLiteral("Средняя");
    case Label::AuditTrails:
        return QStringLiteral("Журнал аудита (записи в камеру)");
    case Label::Signature:
        return QStringLiteral("Оператор: ______________________   Подпись: ______________   "
                              "Дата: ______________");
    }
    return {};
}

QString Title(const ReportSettings &settings) {
    return settings.title.isEmpty() ? QStringLiteral("Протокол испытаний") : settings.title;
}

QString ChamberTitle(const ReportSettings &settings, const ChamberReadings &chamber) {
    return Title(settings) + QStringLiteral(". ") + chamber.label;
}

QString MadeBy(const QString &version) { return QStringLiteral("kalvora-plot ") + version; }

QString Moment(const RegionalSettings &settings, const QDate &date, const QTime &time) {
    const std::tm moment = AsTm(date, time);
    return FormatDate(settings, moment) + QLatin1Char(' ') + FormatTime(settings, moment);
}

QString Moment(const RegionalSettings &settings, const RunMoment &moment) {
    return Moment(settings, moment.date, moment.time);
}

QString Moment(const RegionalSettings &settings, const QDateTime &moment) {
    return Moment(settings, moment.date(), moment.time());
}

QString Degrees(const RegionalSettings &settings, double value) {
    return Decimal(settings, value) + QStringLiteral(" °C");
}

QString Duration(qint64 seconds) {
    const qint64 days = seconds / 86400;
    seconds %= 86400;
    const QString clock = IntToText(seconds / 3600) + QLatin1Char(':') +
                          TwoDigitText(static_cast<unsigned>(seconds / 60 % 60)) +
                          QLatin1Char(':') + TwoDigitText(static_cast<unsigned>(seconds % 60));
    return days > 0 ? IntToText(days) + QStringLiteral(" сут ") + clock : clock;
}

QString Numbers(const QList<int> &numbers) {
    QStringList parts;
    for (qsizetype i = 0; i < numbers.size();) {
        qsizetype j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        parts.append(j > i ? IntToText(numbers[i]) + QStringLiteral("–") + IntToText(numbers[j])
                           : IntToText(numbers[i]));
        i = j + 1;
    }
    return parts.isEmpty() ? QStringLiteral("нет") : parts.join(QStringLiteral(", "));
}

QString Figure(const RegionalSettings &settings, const std::optional<RunFigure> &figure) {
    if (!figure)
        return kNoData;
    return Degrees(settings, figure->value) + QStringLiteral(" (") + Moment(settings, figure->at) +
           QLatin1Char(')');
}

QString Mean(const RegionalSettings &settings, const std::optional<double> &mean) {
    return mean ? Degrees(settings, *mean) : kNoData;
}

QString Records(const RunSummary &summary) {
    return IntToText(summary.records) + QStringLiteral(" (интервал записи ") +
           IntToText(summary.recordIntervalSeconds) + QStringLiteral(" с)");
}

QString Period(const ReportSettings &settings, const RunSummary &summary) {
    const RegionalSettings &regional = settings.settings;
    const QString from = settings.from   ? Moment(regional, *settings.from)
                         : summary.first ? Moment(regional, *summary.first)
                                         : QString();
    const QString to = settings.to    ? Moment(regional, *settings.to)
                       : summary.last ? Moment(regional, *summary.last)
                                      : QString();
    return from + QStringLiteral(" – ") + to;
}

QString FirstAndLast(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.first || !summary.last)
        return kNoData;
    return Moment(settings.settings, *summary.first) + QStringLiteral(" – ") +
           Moment(settings.settings, *summary.last);
}

QString SourceDigest(const SourceFile &source) {
    return QStringLiteral("SHA-256 ") + QString::fromLatin1(source.sha256.toHex());
}

QString NoValue() { return QStringLiteral("—"); }

QString AuditTrailFiles(const AuditTrailReport &trail) {
    QStringList names;
    for (const QString &path : trail.files)
        names.append(QFileInfo(path).fileName());
    return names.join(QStringLiteral(", "));
}

QString AuditTrailHead(const AuditTrailReport &trail) {
    const AuditVerification &v = trail.verification;
    if (!v.intact)
        return QStringLiteral("ЦЕПОЧКА НАРУШЕНА: ") + v.failure;
    if (v.head.hash.isEmpty())
        return QStringLiteral("записей нет");
    return QStringLiteral("строк %1, последняя № %2, SHA-256 %3")
        .arg(v.lines)
        .arg(v.head.sequence)
        .arg(QString::fromLatin1(v.head.hash));
}

QString BandTitle(const ReportSettings &settings) {
    return QStringLiteral("Время в пределах ±") + Decimal(settings.settings, settings.band, 2) +
           QStringLiteral(" °C от заданной");
}

// The share is taken of the recorded time with a set temperature: the spans between
// neighbouring records that no outage splits, whose first record has a set temperature.
QString Band(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.inBandSeconds)
        return kNoSetTemperature;
    QString text = Minutes(settings.settings, *summary.inBandSeconds) + QStringLiteral(" мин из ") +
                   Minutes(settings.settings, summary.withSetSeconds.value_or(0)) +
                   QStringLiteral(" мин записанного времени с заданной температурой");
    if (summary.inBandShare)
        text += QStringLiteral(" (") + Decimal(settings.settings, *summary.inBandShare * 100) +
                QStringLiteral(" %)");
    return text;
}

QString ShortBandTitle(const ReportSettings &settings) {
    return QStringLiteral("В пределах ±") + Decimal(settings.settings, settings.band, 2) +
           QStringLiteral(" °C, доля времени с заданной");
}

QString ShortBand(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.inBandSeconds)
        return kNoSetTemperature;
    const QString minutes =
        Minutes(settings.settings, *summary.inBandSeconds) + QStringLiteral(" из ") +
        Minutes(settings.settings, summary.withSetSeconds.value_or(0)) + QStringLiteral(" мин");
    if (!summary.inBandShare)
        return minutes;
    return Decimal(settings.settings, *summary.inBandShare * 100) + QStringLiteral(" % (") +
           minutes + QLatin1Char(')');
}

QString Hold(const ReportSettings &settings, const RunSummary &summary) {
    if (!summary.inBandSeconds)
        return kNoSetTemperature;
    if (!summary.largestHoldDeviation)
        return summary.hasHoldFigures ? QStringLiteral("выдержек в данных нет")
                                      : QStringLiteral("в данных нет времени выхода на режим");
    const double value = summary.largestHoldDeviation->value;
    return (value > 0 ? QStringLiteral("+") : QString()) +
           Figure(settings.settings, summary.largestHoldDeviation);
}

QString Outages(const RunSummary &summary) {
    if (summary.outages == 0)
        return QStringLiteral("нет");
    return IntToText(summary.outages) + QStringLiteral(", всего ") +
           Duration(summary.outageSeconds);
}

EventWords Event(const RegionalSettings &settings, const RunEvent &event) {
    switch (event.kind) {
    case RunEventKind::Outage:
        return {QStringLiteral("Перерыв связи"), OutageReason(event.detail)};
    case RunEventKind::Alarm: {
        QStringList parts = {AlarmKindRussian(event.detail)};
        // A silence is measured in seconds, the other kinds in degrees.
        const auto figure = [&](double value) {
            return event.detail == QLatin1String("silent")
                       ? IntToText(static_cast<qint64>(std::llround(value))) + QStringLiteral(" с")
                       : Degrees(settings, value);
        };
        if (event.value)
            parts.append(QStringLiteral("значение ") + figure(*event.value));
        if (event.limit)
            parts.append(QStringLiteral("предел ") + figure(*event.limit));
        if (!event.message.isEmpty())
            parts.append(event.message);
        return {QStringLiteral("Авария"), parts.join(QStringLiteral("; "))};
    }
    case RunEventKind::Program:
        return {QStringLiteral("Программа ") + IntToText(event.program.value_or(0)), QString()};
    case RunEventKind::Write: {
        QStringList parts = {event.detail, event.who,
                             QStringLiteral("итог: ") + AuditOutcomeWords(event.outcome)};
        if (!event.message.isEmpty())
            parts.append(QStringLiteral("причина: ") + event.message);
        return {QStringLiteral("Запись в камеру"), parts.join(QStringLiteral("; "))};
    }
    case RunEventKind::LoggerRunning: {
        QStringList parts;
        if (!event.message.isEmpty())
            parts.append(QStringLiteral("версия ") + event.message);
        if (!event.detail.isEmpty())
            parts.append(QStringLiteral("остановлен: ") + event.detail);
        else if (!event.end)
            parts.append(QStringLiteral("остановка не записана"));
        return {QStringLiteral("Регистратор запущен"), parts.join(QStringLiteral("; "))};
    }
    }
    return {};
}

QString ChartLegend(const ChamberReadings &chamber) {
    return QStringLiteral("Зелёная линия — текущая температура") +
           (chamber.hasSetTemperature ? QStringLiteral(", красная — заданная") : QString()) +
           QStringLiteral("; серым отмечены перерывы связи; метки внизу — смена программы, шага "
                          "или цикла.");
}

QString PageOf(int page, int pages) {
    return QStringLiteral("Страница ") + IntToText(page) + QStringLiteral(" из ") +
           IntToText(pages);
}

} // namespace ReportWords

#include "ProgramChart.h"

#include "core/ProgramProfile.h"

#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

namespace {

// Beyond these the lines would cover the plot: cycle boundaries only, then none.
constexpr std::size_t kMostStepBoundaries = 300;
constexpr std::size_t kMostCycleBoundaries = 300;

struct TimeUnit {
    double minutes;
    QString title;
};

TimeUnit UnitFor(std::int64_t totalMinutes) {
    if (totalMinutes > 3 * 24 * 60)
        return {24.0 * 60, QStringLiteral("Время от запуска, сут")};
    if (totalMinutes > 3 * 60)
        return {60.0, QStringLiteral("Время от запуска, ч")};
    return {1.0, QStringLiteral("Время от запуска, мин")};
}

// Vertical lines at `at` across `low`..`high` as one series: the stretches that connect them run
// beyond the axis range, where the chart clips them away.
QLineSeries *Boundaries(const std::vector<double> &at, double bottom, double top, const QPen &pen) {
    const double low = bottom - (top - bottom), high = top + (top - bottom);
    auto *series = new QLineSeries;
    bool up = true;
    for (const double x : at) {
        series->append(x, up ? low : high);
        series->append(x, up ? high : low);
        up = !up;
    }
    series->setPen(pen);
    return series;
}

QString Title(const ProgramInput &program, const QString &name, int programNumber) {
    QString title = name.isEmpty() ? QString() : name.toHtmlEscaped() + QStringLiteral("<br>");
    if (programNumber > 0)
        title += QStringLiteral("Программа №%1: ").arg(programNumber);
    return title + QStringLiteral("шагов %1, циклов %2").arg(program.steps).arg(program.cycles);
}

} // namespace

static QString SummaryHtml(const ProgramInput &program, const QDateTime &now) {
    QStringList lines = ProgramSummary(program, now);
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    return lines.join(QStringLiteral("<br>"));
}

QStringList ProgramSummary(const ProgramInput &program, const QDateTime &now) {
    const ProgramProfile profile = BuildProgramProfile(program, kPreviewStartTemperature);
    QStringList lines{
        QStringLiteral("Длительность: %1").arg(DurationTextRu(profile.totalMinutes)),
        QStringLiteral("Окончание при запуске сейчас: %1")
            .arg(now.addSecs(profile.totalMinutes * 60).toString(QStringLiteral("dd.MM.yyyy HH:mm")))};
    if (!profile.stepsWithJumps.empty()) {
        QStringList steps;
        for (const int step : profile.stepsWithJumps)
            steps << QString::number(step);
        lines << QStringLiteral("Время выхода 0 (шаг %1): скорость задаёт сама камера, это время "
                                "не входит в длительность")
                     .arg(steps.join(QStringLiteral(", ")));
    }
    return lines;
}

QChart *BuildProgramChart(const ProgramInput &program, const QString &name, int programNumber,
                          const QDateTime &now) {
    const ProgramProfile profile = BuildProgramProfile(program, kPreviewStartTemperature);
    const TimeUnit unit = UnitFor(std::max<std::int64_t>(profile.totalMinutes, 1));
    const auto x = [&unit](std::int64_t minute) { return double(minute) / unit.minutes; };

    auto *chart = new QChart;
    chart->setTitle(Title(program, name, programNumber) + QStringLiteral("<br>") +
                    SummaryHtml(program, now));
    chart->legend()->hide();

    int low = kPreviewStartTemperature, high = kPreviewStartTemperature;
    auto *line = new QLineSeries;
    line->append(0, kPreviewStartTemperature);
    std::vector<double> stepStarts, cycleStarts;
    for (const ProfileSegment &segment : profile.segments) {
        line->append(x(segment.holdStartMinute), segment.toTemperature);
        line->append(x(segment.endMinute), segment.toTemperature);
        low = std::min(low, segment.toTemperature);
        high = std::max(high, segment.toTemperature);
        if (segment.rampStartMinute > 0)
            (segment.step == 1 ? cycleStarts : stepStarts).push_back(x(segment.rampStartMinute));
    }
    QPen profilePen(kProfileColour);
    profilePen.setWidth(2);
    line->setPen(profilePen);

    const double bottom = low - 10, top = high + 10; // nice numbers widen it only
    auto *axisX = new QValueAxis;
    axisX->setTitleText(unit.title);
    axisX->setRange(0, std::max(x(profile.totalMinutes), 1.0 / unit.minutes));
    axisX->setLabelFormat(QStringLiteral("%.1f"));
    auto *axisY = new QValueAxis;
    axisY->setTitleText(QStringLiteral("Температура, °С"));
    axisY->setRange(bottom, top);
    axisY->applyNiceNumbers();
    axisY->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);

    std::vector<QLineSeries *> series;
    if (stepStarts.size() <= kMostStepBoundaries) {
        QPen pen(QColor(0xc0, 0xc0, 0xc0));
        pen.setStyle(Qt::DashLine);
        series.push_back(Boundaries(stepStarts, axisY->min(), axisY->max(), pen));
    }
    if (cycleStarts.size() <= kMostCycleBoundaries) {
        QPen pen(kCycleBoundaryColour);
        pen.setWidth(2);
        series.push_back(Boundaries(cycleStarts, axisY->min(), axisY->max(), pen));
    }
    series.push_back(line); // drawn last, over the boundaries
    for (QLineSeries *s : series) {
        chart->addSeries(s);
        s->attachAxis(axisX);
        s->attachAxis(axisY);
    }
    return chart;
}

QWidget *NewProgramPreviewWindow(const ProgramInput &program, const QString &name,
                                 int programNumber, const QDateTime &now) {
    auto *window = new QWidget;
    window->setWindowTitle(QStringLiteral("Просмотр программы"));
    auto *layout = new QVBoxLayout(window);
    auto *view = new QChartView(BuildProgramChart(program, name, programNumber, now));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(800, 450);
    view->setObjectName(QStringLiteral("chart"));
    auto *summary = new QLabel(ProgramSummary(program, now).join(QLatin1Char('\n')));
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(view, 1);
    layout->addWidget(summary);
    return window;
}

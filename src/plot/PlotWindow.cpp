#include "PlotWindow.h"

#include "ChartBuilder.h"
#include "ReportCommand.h"

#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>

namespace {

constexpr int kFollowPeriodMs = 2000;

struct Axes {
    QDateTimeAxis *x = nullptr;
    QValueAxis *y = nullptr;
};

Axes AxesOf(QChart *chart) {
    const auto xAxes = chart->axes(Qt::Horizontal);
    const auto yAxes = chart->axes(Qt::Vertical);
    if (xAxes.isEmpty() || yAxes.isEmpty())
        return {};
    return {qobject_cast<QDateTimeAxis *>(xAxes.first()),
            qobject_cast<QValueAxis *>(yAxes.first())};
}

qreal Ms(const QDateTime &moment) { return static_cast<qreal>(moment.toMSecsSinceEpoch()); }
QDateTime Moment(qreal ms) { return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms)); }

} // namespace

ChartView::ChartView(QWidget *parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
}

void ChartView::wheelEvent(QWheelEvent *event) {
    const Axes axes = AxesOf(chart());
    const QRectF area = chart()->plotArea();
    if (!axes.x || area.isEmpty() || event->angleDelta().y() == 0)
        return;
    const qreal factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
    const QPointF at = event->position();
    if (event->modifiers() & Qt::ControlModifier) {
        const qreal share = std::clamp((area.bottom() - at.y()) / area.height(), 0.0, 1.0);
        const qreal min = axes.y->min(), max = axes.y->max();
        const qreal centre = min + share * (max - min);
        axes.y->setRange(centre - (centre - min) * factor, centre + (max - centre) * factor);
    } else {
        const qreal share = std::clamp((at.x() - area.left()) / area.width(), 0.0, 1.0);
        const qreal min = Ms(axes.x->min()), max = Ms(axes.x->max());
        const qreal centre = min + share * (max - min);
        // Closer than a few seconds the axis labels stop meaning anything.
        if (factor < 1 && (max - min) * factor < 10 * 1000.0)
            return;
        axes.x->setRange(Moment(centre - (centre - min) * factor),
                         Moment(centre + (max - centre) * factor));
    }
    emit rangeChangedByOperator();
    event->accept();
}

void ChartView::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton)
        dragFrom_ = event->position();
    event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent *event) {
    const QRectF area = chart()->plotArea();
    const Axes axes = AxesOf(chart());
    if (!axes.x || area.isEmpty())
        return;
    if (dragFrom_ && (event->buttons() & Qt::LeftButton)) {
        const QPointF moved = event->position() - *dragFrom_;
        dragFrom_ = event->position();
        const qreal dx = moved.x() / area.width() * (Ms(axes.x->max()) - Ms(axes.x->min()));
        const qreal dy = moved.y() / area.height() * (axes.y->max() - axes.y->min());
        axes.x->setRange(Moment(Ms(axes.x->min()) - dx), Moment(Ms(axes.x->max()) - dx));
        axes.y->setRange(axes.y->min() + dy, axes.y->max() + dy);
        emit rangeChangedByOperator();
    }
    if (!area.contains(event->position())) {
        emit pointerLeft();
        return;
    }
    const qreal share = (event->position().x() - area.left()) / area.width();
    emit pointerMoved(Ms(axes.x->min()) + share * (Ms(axes.x->max()) - Ms(axes.x->min())));
}

void ChartView::mouseReleaseEvent(QMouseEvent *event) {
    dragFrom_.reset();
    event->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent *event) {
    emit resetAsked();
    event->accept();
}

void ChartView::leaveEvent(QEvent *event) {
    emit pointerLeft();
    QChartView::leaveEvent(event);
}

PlotWindow::PlotWindow(const QStringList &files, const InputSettings &input,
                       const std::optional<QString> &title, bool follow, const LoadedInput &loaded)
    : files_(files), input_(input), title_(title), view_(new ChartView(this)),
      pointerLabel_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("kalvora-plot"));
    reportAction_ = menuBar()->addMenu(QStringLiteral("Файл"))->addAction(QStringLiteral("Отчёт…"));
    connect(reportAction_, &QAction::triggered, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Отчёт об испытании"), QStringLiteral("report.pdf"),
            QStringLiteral("PDF (*.pdf);;HTML (*.html)"));
        if (path.isEmpty())
            return;
        const QString error = WriteReport(path);
        if (error.isEmpty())
            statusBar()->showMessage(QStringLiteral("Отчёт записан: ") + path, 10000);
        else
            QMessageBox::critical(this, QStringLiteral("kalvora-plot"), error);
    });
    setCentralWidget(view_);
    statusBar()->addWidget(pointerLabel_, 1);
    resize(1280, 760);
    connect(view_, &ChartView::pointerMoved, this, &PlotWindow::ShowReadingsAt);
    connect(view_, &ChartView::pointerLeft, pointerLabel_, &QLabel::clear);
    connect(view_, &ChartView::rangeChangedByOperator, this, [this] { operatorMoved_ = true; });
    connect(view_, &ChartView::resetAsked, this, [this] {
        operatorMoved_ = false;
        ShowAll(view_->chart(), model_);
    });
    signatures_ = FileSignatures();
    Show(loaded);
    if (follow) {
        followTimer_.setInterval(kFollowPeriodMs);
        connect(&followTimer_, &QTimer::timeout, this, &PlotWindow::ReloadIfChanged);
        followTimer_.start();
    }
}

PlotWindow::~PlotWindow() { delete view_->chart(); }

QString PlotWindow::pointerText() const { return pointerLabel_->text(); }

QString PlotWindow::WriteReport(const QString &path) const {
    return WriteReportOfFiles(files_, input_, path, title_.value_or(QString()));
}

void PlotWindow::Show(const LoadedInput &loaded) {
    const QString title = title_ ? *title_ : DefaultTitle(loaded.chambers, input_.settings);
    model_ = BuildChartModel(loaded.chambers, title, clock_);
    QChart *old = view_->chart();
    const Axes oldAxes = AxesOf(old);
    QChart *chart = BuildChart(model_, input_.settings, view_->size());
    const Axes newAxes = AxesOf(chart);
    if (operatorMoved_ && oldAxes.x && newAxes.x) {
        newAxes.x->setRange(oldAxes.x->min(), oldAxes.x->max());
        newAxes.y->setRange(oldAxes.y->min(), oldAxes.y->max());
    }
    view_->setChart(chart);
    delete old;
    if (!loaded.warnings.isEmpty())
        statusBar()->showMessage(loaded.warnings.join(QStringLiteral("; ")), 10000);
}

void PlotWindow::ShowReadingsAt(qreal x) {
    QStringList texts;
    for (const ChamberModel &chamber : model_.chambers) {
        if (chamber.instants.isEmpty())
            continue;
        const auto after = std::lower_bound(chamber.instants.begin(), chamber.instants.end(), x);
        qsizetype index = after - chamber.instants.begin();
        if (index == chamber.instants.size() ||
            (index > 0 && x - chamber.instants[index - 1] < chamber.instants[index] - x))
            --index;
        const QString text = ReadingText(chamber.readings[index], input_.settings);
        texts.append(model_.chambers.size() > 1 ? chamber.label + QStringLiteral(": ") + text
                                                : text);
    }
    pointerLabel_->setText(texts.join(QStringLiteral("   |   ")));
}

QList<QPair<qint64, QDateTime>> PlotWindow::FileSignatures() const {
    QList<QPair<qint64, QDateTime>> signatures;
    for (const QString &file : files_) {
        const QFileInfo info(file);
        signatures.append({info.size(), info.lastModified()});
    }
    return signatures;
}

void PlotWindow::ReloadIfChanged() {
    const auto signatures = FileSignatures();
    if (signatures == signatures_)
        return;
    signatures_ = signatures;
    try {
        Show(LoadInput(files_, input_));
    } catch (const InputError &error) {
        statusBar()->showMessage(error.message());
    }
}

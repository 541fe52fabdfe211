#pragma once
// The chart in a window: zoom with the wheel (Ctrl: the temperature axis), pan by dragging,
// double-click to see everything again, the readings under the pointer in the status bar.
// Following redraws when the files change.
#include "ChartModel.h"
#include "LocalClock.h"
#include "PlotInput.h"

#include <QChartView>
#include <QDateTime>
#include <QMainWindow>
#include <QTimer>

class QAction;
class QLabel;

class ChartView : public QChartView {
    Q_OBJECT

public:
    explicit ChartView(QWidget *parent = nullptr);

signals:
    void pointerMoved(qreal x); // milliseconds since the epoch under the pointer
    void pointerLeft();
    void resetAsked();
    void rangeChangedByOperator();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    std::optional<QPointF> dragFrom_;
};

class PlotWindow : public QMainWindow {
    Q_OBJECT

public:
    PlotWindow(const QStringList &files, const InputSettings &input,
               const std::optional<QString> &title, bool follow, const LoadedInput &loaded);
    ~PlotWindow() override;

    ChartView *view() const { return view_; }
    QString pointerText() const;
    // Reads the files again when they changed; called by the follow timer.
    void ReloadIfChanged();
    // "Отчёт…": asks where, then writes the test report of the window's files.
    QAction *reportAction() const { return reportAction_; }
    // The report to path (.pdf, or .html); an error text or an empty string.
    QString WriteReport(const QString &path) const;

private:
    void Show(const LoadedInput &loaded);
    void ShowReadingsAt(qreal x);
    QList<QPair<qint64, QDateTime>> FileSignatures() const;

    QStringList files_;
    InputSettings input_;
    std::optional<QString> title_;
    ChartView *view_;
    QLabel *pointerLabel_;
    QAction *reportAction_;
    LocalClock clock_;
    ChartModel model_;
    bool operatorMoved_ = false;
    QTimer followTimer_;
    QList<QPair<qint64, QDateTime>> signatures_;
};

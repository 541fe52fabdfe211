#pragma once
// A small spinning busy indicator. It repaints only while spinning, so a stopped one costs
// nothing.
#include <QWidget>

class QTimer;

class ActivityIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicator(QWidget *parent = nullptr);
    void start();
    void stop();
    bool isSpinning() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer *frameTimer_ = nullptr;
    int frame_ = 0;
};

#include "widgets/ActivityIndicator.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int kSide = 24;
constexpr int kDots = 8;
constexpr int kFrameMs = 80;
} // namespace

ActivityIndicator::ActivityIndicator(QWidget *parent) : QWidget(parent) {
    frameTimer_ = new QTimer(this);
    frameTimer_->setInterval(kFrameMs);
    connect(frameTimer_, &QTimer::timeout, this, [this] {
        frame_ = (frame_ + 1) % kDots;
        update();
    });
    setFocusPolicy(Qt::NoFocus);
    resize(kSide, kSide);
}

void ActivityIndicator::start() {
    if (frameTimer_->isActive())
        return;
    frameTimer_->start();
    update();
}

void ActivityIndicator::stop() {
    frameTimer_->stop();
    update();
}

bool ActivityIndicator::isSpinning() const { return frameTimer_->isActive(); }

QSize ActivityIndicator::sizeHint() const { return {kSide, kSide}; }

// A ring of dots whose brightness trails the current one; a stopped indicator is drawn faint and
// still, so it reads as "done" rather than vanishing from beside its heading.
void ActivityIndicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    const qreal dotRadius = side / 10.0;
    const qreal ringRadius = side / 2.0 - dotRadius - 1.0;
    painter.translate(width() / 2.0, height() / 2.0);
    painter.setPen(Qt::NoPen);
    const QColor base = palette().color(QPalette::WindowText);
    for (int i = 0; i < kDots; ++i) {
        QColor dot = base;
        if (isSpinning()) {
            const int age = (frame_ - i + kDots) % kDots;
            dot.setAlphaF(1.0 - age / static_cast<qreal>(kDots) * 0.85);
        } else {
            dot.setAlphaF(0.15);
        }
        painter.setBrush(dot);
        painter.save();
        painter.rotate(360.0 * i / kDots);
        painter.drawEllipse(QPointF(0, -ringRadius), dotRadius, dotRadius);
        painter.restore();
    }
}

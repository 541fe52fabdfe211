#pragma once
// Helpers for the windows' fixed layouts: every control sits at a designed pixel position, fonts
// are given by their character height in pixels.
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>
#include <optional>

inline QFont DesignFont(const QString &family, int pixelHeight, bool bold = false,
                        bool underline = false) {
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

// Labels marked so follow their text's size, as the designed "auto size" labels do.
inline constexpr char kAutoSizeProperty[] = "kalvoraAutoSize";

// A label at `left, top` whose size follows its text.
inline QLabel *PlaceAutoSizeLabel(QWidget *parent, const QString &text, int left, int top,
                                  const QFont &font) {
    auto *label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->setProperty(kAutoSizeProperty, true);
    label->adjustSize();
    label->move(left, top);
    return label;
}

// The canvas that carries a window's controls inside its scroll area. A label's text change asks
// its parent for a new layout; the canvas answers by re-fitting its auto-size labels.
class FixedLayoutCanvas : public QWidget {
public:
    explicit FixedLayoutCanvas(QWidget *parent = nullptr) : QWidget(parent) {}

    // Size the canvas to the bounding box of its controls, so the scroll bars appear exactly when
    // the window is smaller than its contents. Hidden-but-not-yet-shown children count too.
    void fitToControls() {
        QRect box(0, 0, 1, 1);
        for (QWidget *child : findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            box = box.united(child->geometry());
        resize(box.right() + 1, box.bottom() + 1);
    }

protected:
    bool event(QEvent *event) override {
        if (event->type() == QEvent::LayoutRequest)
            for (QLabel *label : findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
                if (label->property(kAutoSizeProperty).toBool())
                    label->adjustSize();
        return QWidget::event(event);
    }
};

// A window whose controls may not all fit: a frameless scroll area fills it, and the controls
// go on a canvas that ShowCanvas hands to the area once they are placed.
inline QScrollArea *AddScrollArea(QWidget *window) {
    auto *scrollArea = new QScrollArea(window);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setFocusPolicy(Qt::NoFocus);
    scrollArea->setWidgetResizable(false);
    auto *windowLayout = new QVBoxLayout(window);
    windowLayout->setContentsMargins(0, 0, 0, 0);
    windowLayout->setSizeConstraint(QLayout::SetNoConstraint);
    windowLayout->addWidget(scrollArea);
    return scrollArea;
}

inline void ShowCanvas(QScrollArea *scrollArea, FixedLayoutCanvas *canvas) {
    canvas->fitToControls();
    scrollArea->setWidget(canvas);
}

// Gives a top-level window an outer (frame included) size and, optionally, position. The frame is
// known only once the window system has decorated the shown window, so the client size is
// corrected then; without decoration (no window manager, offscreen) outer and client coincide.
class OuterGeometryKeeper : public QObject {
public:
    OuterGeometryKeeper(QWidget *window, QSize outer, std::optional<QPoint> position)
        : QObject(window), window_(window), outer_(outer), position_(position) {
        window->resize(outer);
        if (position)
            window->move(*position);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == window_ && !corrected_ && IsGeometryEvent(event->type()))
            correctForFrame();
        return false;
    }

private:
    static bool IsGeometryEvent(QEvent::Type type) {
        return type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize ||
               type == QEvent::Expose;
    }

    void correctForFrame() {
        const QSize frame = window_->frameGeometry().size() - window_->geometry().size();
        if (frame.width() <= 0 && frame.height() <= 0)
            return;
        corrected_ = true;
        window_->resize(outer_ - frame);
        if (position_)
            window_->move(*position_);
    }

    QWidget *window_;
    QSize outer_;
    std::optional<QPoint> position_;
    bool corrected_ = false;
};

inline void SetOuterGeometry(QWidget *window, QSize outer,
                             std::optional<QPoint> position = std::nullopt) {
    new OuterGeometryKeeper(window, outer, position);
}

#pragma once
// The message windows' common frame: a small window that stays on top, in the system's dialog
// colour, with the design's Tahoma font. Closing it only hides it, so that it can be shown again.
#include "widgets/FormLayout.h"

#include <QCloseEvent>
#include <QWidget>

class MessageWindow : public QWidget {
public:
    MessageWindow(const QString &title, QWidget *parent) : QWidget(parent) {
        setWindowFlag(Qt::Window);
        setWindowFlag(Qt::WindowStaysOnTopHint);
        setWindowTitle(title);
        setFont(DesignFont(QStringLiteral("Tahoma"), 11));
        QPalette buttonFace = palette();
        buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
        setPalette(buttonFace);
        setAutoFillBackground(true);
    }

protected:
    void closeEvent(QCloseEvent *event) override {
        event->ignore();
        hide();
    }
};

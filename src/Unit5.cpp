// The link-lost window.
#include "Unit5.h"

#include "widgets/FormLayout.h"

#include <QCloseEvent>

TForm5 *Form5 = nullptr;

TForm5::TForm5(QWidget *parent) : QWidget(parent) {
    setWindowFlag(Qt::Window);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Обрыв связи"));
    setFont(DesignFont(QStringLiteral("Tahoma"), 11));
    QPalette buttonFace = palette();
    buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
    setPalette(buttonFace);
    setAutoFillBackground(true);

    Label1 = PlaceAutoSizeLabel(this, QStringLiteral("Возможен обрыв линии RS-485"), 128, 56,
                                DesignFont(QStringLiteral("Times New Roman"), 19));
    Label1->setObjectName(QStringLiteral("Label1"));
    resize(549, 140);
}

void TForm5::closeEvent(QCloseEvent *event) {
    event->ignore();
    hide();
}

// The link-lost window.
#include "Unit5.h"

#include "widgets/FormLayout.h"

TForm5 *Form5 = nullptr;

TForm5::TForm5(QWidget *parent) : MessageWindow(QStringLiteral("Обрыв связи"), parent) {
    Label1 = PlaceAutoSizeLabel(this, QStringLiteral("Возможен обрыв линии RS-485"), 128, 56,
                                DesignFont(QStringLiteral("Times New Roman"), 19));
    Label1->setObjectName(QStringLiteral("Label1"));
    resize(549, 140);
}

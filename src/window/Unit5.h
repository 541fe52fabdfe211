#pragma once
// The link-lost window.
#include "widgets/MessageWindow.h"

class QLabel;

class TForm5 : public MessageWindow {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);
    QLabel *Label1 = nullptr; // "Возможен обрыв линии RS-485"
};

extern TForm5 *Form5;

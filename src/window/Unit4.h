#pragma once
// The input error window: a fixed list of the entries' ranges.
#include "widgets/MessageWindow.h"

class QLabel;

class TForm4 : public MessageWindow {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr;
};

extern TForm4 *Form4;

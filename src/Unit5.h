#pragma once
// The link-lost window.
#include <QWidget>

class QLabel;

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);
    QLabel *Label1 = nullptr;  // "Возможен обрыв линии RS-485"

protected:
    void closeEvent(QCloseEvent *event) override;  // hides only
};

extern TForm5 *Form5;

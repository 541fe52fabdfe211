#pragma once
// The input error window: a fixed list of the entries' ranges.
#include <QWidget>

class QLabel;

class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;  // hides only
};

extern TForm4 *Form4;

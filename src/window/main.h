#pragma once
// The main window: port set-up, bus scan, reading switch, logging switch and the figures.
#include "core/ReadingsDecoder.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;
class ActivityIndicator;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);

    // Port set-up
    QLabel *Label21 = nullptr;  // heading "Установка порта"
    QComboBox *ComboBox1 = nullptr;
    QPushButton *Button5 = nullptr;  // "Открыть"
    // Bus scan
    QLabel *Label22 = nullptr;  // heading "Поиск устройства"
    QPushButton *Button4 = nullptr;  // "Пуск" / "Пауза"
    QPushButton *Button1 = nullptr;  // "Стоп"
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label26 = nullptr;
    QLabel *Panel11 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QPushButton *Button6 = nullptr;  // "Чтение текущих показаний" / "Останов чтения"
    QPushButton *Button2 = nullptr;  // "Управление камерой"
    QCheckBox *CheckBox1 = nullptr;  // "Запись в файл"
    // Figures and their caption boxes
    QLabel *Label23 = nullptr, *Label24 = nullptr, *Label25 = nullptr;  // headings
    QLabel *Label5 = nullptr, *Label18 = nullptr;
    QLabel *Label15 = nullptr, *Label11 = nullptr, *Label3 = nullptr, *Label19 = nullptr;
    QLabel *Label13 = nullptr, *Label17 = nullptr, *Label20 = nullptr;
    QLabel *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr, *Panel5 = nullptr,
           *Panel6 = nullptr, *Panel7 = nullptr, *Panel8 = nullptr, *Panel9 = nullptr,
           *Panel10 = nullptr;
    ActivityIndicator *ActivityIndicator1 = nullptr, *ActivityIndicator2 = nullptr,
                      *ActivityIndicator3 = nullptr;
    QLabel *Label1 = nullptr;  // version
    QLabel *Label8 = nullptr;  // clock

    QTimer *Timer1 = nullptr;  // 4000 ms, reading cycle
    QTimer *Timer2 = nullptr;  // 500 ms, clock
    QTimer *Timer4 = nullptr;  // 60000 ms, log append
    QTimer *Timer5 = nullptr;  // 100 ms, scan step
    QTimer *Timer6 = nullptr;  // 5000 ms, log file creation

    // Event handlers (bodies in main.cpp)
    void FormCreate();
    void FormClose();
    void ComboBox1Change();
    void Button5Click();
    void Button4Click();
    void Button1Click();
    void Timer5Timer();
    void ListBox1Click();
    void Button6Click();
    void Timer1Timer();
    void CheckBox1Click();
    void Timer6Timer();
    void Timer4Timer();
    void Timer2Timer();
    void Button2Click();

    // Window operations for PortUnit and the control window, so that they need not know the
    // controls: the nine figures, the scan's progress and list, the reading and logging
    // switches, the port buttons and the reading timers.
    FigureTexts figureTexts() const;
    void showFigureTexts(const FigureTexts &figures);
    void showClockText(const QString &text);
    void showScanProgress(int percent, const QString &text);
    void clearScanProgress();
    void listChamber(const QString &entry);
    std::optional<QString> selectedChamberText() const;
    int portIndex() const;
    void showPortOpened();
    void showCycleCompleted();
    void showReadingSwitchedOff();
    bool loggingTicked() const;
    void setLoggingTicked(bool ticked);
    void holdReadingTimers();
    void resumeReadingTimers();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();   // main_layout.cpp: controls, fonts, positions, focus order
    void connectHandlers();  // main_layout.cpp: signals to handlers through RunHandler
    void nameControls();     // main_layout.cpp: object names as the controls' designed names
    QScrollArea *scrollArea_ = nullptr;
};

extern TForm1 *Form1;

// Event handlers of the main window.
#include "main.h"

#include "AppShell.h"
#include "PortUnit.h"
#include "Unit3.h"
#include "widgets/ActivityIndicator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

using namespace PortUnit;

TForm1 *Form1 = nullptr;

void TForm1::FormCreate() {
    showFigureTexts(StartFigureTexts());
    ListBox1->clear();
    ActivityIndicator1->start();
    ActivityIndicator2->start();
    ActivityIndicator3->start();
}

void TForm1::FormClose() { ClosePort(); }

void TForm1::ComboBox1Change() { Button5->setEnabled(true); }

void TForm1::Button5Click() { OpenPort(); }

void TForm1::Button4Click() {
    if (ScanActive == 1) {
        SwitchOff(Timer5);
        if (ScanAddress == kScanEnd)
            ListBox1->clear();
        ScanActive = 0;
        Button4->setText(QStringLiteral("Пуск"));
    } else {
        SwitchOn(Timer5);
        ScanActive = 1;
        Button4->setText(QStringLiteral("Пауза"));
    }
}

void TForm1::Button1Click() {
    ScanAddress = 0;
    ListBox1->clear();
    SwitchOff(Timer5);
    ProbeAddress(-1);
    ScanActive = 0;
    ScanAddress = 0;
    Button4->setText(QStringLiteral("Пуск"));
}

void TForm1::Timer5Timer() {
    if (ScanAddress >= 0 && ScanAddress < kScanEnd) {
        SwitchOff(Timer5);
        ProbeAddress(ScanAddress);
        ++ScanAddress;
        SwitchOn(Timer5);
    } else {
        ScanAddress = 0;
    }
    if (ScanAddress == kScanEnd)
        SwitchOff(Timer5);
}

void TForm1::ListBox1Click() {
    if (!ListBox1->selectedItems().isEmpty()) {
        Button2->setEnabled(true);
        Button6->setEnabled(true);
    }
}

void TForm1::Button6Click() {
    if (ReadingActive == 1) {
        SwitchOff(Timer1);
        ReadingActive = 0;
        showReadingSwitchedOff();
        ResetFigures();
    } else {
        ReadCurrentValues();
        SwitchOn(Timer1);
        ReadingActive = 1;
        Button6->setText(QStringLiteral("Останов чтения"));
    }
}

void TForm1::Timer1Timer() { ReadCurrentValues(); }

void TForm1::CheckBox1Click() {
    if (CheckBox1->isChecked()) {
        NewLogFileName();
        SwitchOn(Timer6);
    }
}

void TForm1::Timer6Timer() {
    SwitchOff(Timer6);
    CreateLogFileWithHeader();
    SwitchOn(Timer4);
}

void TForm1::Timer4Timer() { AppendLogRecord(); }

void TForm1::Timer2Timer() { ShowClock(); }

void TForm1::Button2Click() { Form3->show(); }

FigureTexts TForm1::figureTexts() const {
    FigureTexts f;
    f.currentTemperature = Label5->text();
    f.program = Label17->text();
    f.setTemperature = Label18->text();
    f.stabilisationTime = Label11->text();
    f.timeToMode = Label15->text();
    f.timeToModeSetPoint = Label3->text();
    f.stabilisationSetPoint = Label19->text();
    f.step = Label13->text();
    f.cycle = Label20->text();
    return f;
}

void TForm1::showFigureTexts(const FigureTexts &f) {
    Label5->setText(f.currentTemperature);
    Label17->setText(f.program);
    Label18->setText(f.setTemperature);
    Label11->setText(f.stabilisationTime);
    Label15->setText(f.timeToMode);
    Label3->setText(f.timeToModeSetPoint);
    Label19->setText(f.stabilisationSetPoint);
    Label13->setText(f.step);
    Label20->setText(f.cycle);
}

void TForm1::showClockText(const QString &text) { Label8->setText(text); }

void TForm1::showScanProgress(int percent, const QString &text) {
    ProgressBar1->setValue(percent);
    Label26->setText(text);
    Label26->adjustSize();
}

void TForm1::clearScanProgress() { showScanProgress(0, QStringLiteral("    ")); }

void TForm1::listChamber(const QString &entry) { ListBox1->addItem(entry); }

std::optional<QString> TForm1::selectedChamberText() const {
    const auto selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    return selected.first()->text();
}

int TForm1::portIndex() const { return ComboBox1->currentIndex(); }

void TForm1::showPortOpened() {
    Button4->setEnabled(true);
    Button1->setEnabled(true);
    Button5->setEnabled(false);
}

void TForm1::showCycleCompleted() {
    CheckBox1->setEnabled(true);
    ActivityIndicator1->stop();
    ActivityIndicator2->stop();
    ActivityIndicator3->stop();
}

void TForm1::showReadingSwitchedOff() { Button6->setText(QStringLiteral("Чтение текущих показаний")); }

bool TForm1::loggingTicked() const { return CheckBox1->isChecked(); }

void TForm1::setLoggingTicked(bool ticked) { CheckBox1->setChecked(ticked); }

void TForm1::holdReadingTimers() {
    SwitchOff(Timer1);
    SwitchOff(Timer4);
}

void TForm1::resumeReadingTimers() {
    SwitchOn(Timer1);
    SwitchOn(Timer4);
}

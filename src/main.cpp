// Event handlers of the main window.
#include "main.h"

#include "AppShell.h"
#include "PortUnit.h"
#include "Unit3.h"
#include "widgets/ActivityIndicator.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

using namespace PortUnit;

TForm1 *Form1 = nullptr;

void TForm1::FormCreate() {
    Label5->setText(QStringLiteral("0"));
    Label17->setText(QStringLiteral("0"));
    Label18->setText(QStringLiteral("0"));
    Label13->setText(QStringLiteral("0(0)"));
    Label20->setText(QStringLiteral("0(0)"));
    Label3->setText(QStringLiteral("00:00"));
    Label11->setText(QStringLiteral("00:00"));
    Label15->setText(QStringLiteral("00:00"));
    Label19->setText(QStringLiteral("00:00"));
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
        Button6->setText(QStringLiteral("Чтение текущих показаний"));
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

#pragma once
// Creates the program's real windows for one test case, with the module-level state as at
// start-up, the error box captured, and COM1 pointing at a pseudo-terminal of the test's.
#include "AppShell.h"
#include "ApplicationWindows.h"
#include "PortUnit.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "main.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QStringList>
#include <QtTest>

class AppFixture {
public:
    AppFixture() {
        PortUnit::ResetModuleState();
        ErrorBoxHook = [this](const QString &text) { errorBoxes << text; };
        CreateApplicationWindows();
        Form1->show();
    }
    ~AppFixture() {
        if (Form1)
            Form1->FormClose();
        DestroyApplicationWindows();
        ErrorBoxHook = [](const QString &) {};
        qunsetenv("KALVORA_COM1");
    }
    AppFixture(const AppFixture &) = delete;
    AppFixture &operator=(const AppFixture &) = delete;

    // Points COM1 at `device`, chooses it and presses "Открыть".
    void openPort(const QString &device) {
        qputenv("KALVORA_COM1", device.toLocal8Bit());
        Form1->ComboBox1->setCurrentIndex(0);
        Form1->ComboBox1Change();
        Form1->Button5->click();
    }

    QStringList errorBoxes;
};

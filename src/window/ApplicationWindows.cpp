#include "ApplicationWindows.h"

#include "AppShell.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "main.h"

#include <QCoreApplication>

void CreateApplicationWindows() {
    QCoreApplication::setApplicationName(QStringLiteral("Kalvora"));
    InstallFontSubstitutes();
    Form1 = new TForm1;
    Form3 = new TForm3;
    Form4 = new TForm4;
    Form5 = new TForm5;
}

void DestroyApplicationWindows() {
    for (TForm4 *window : InputErrorWindows)
        delete window;
    InputErrorWindows.clear();
    delete Form5;
    delete Form4;
    delete Form3;
    delete Form1;
    Form5 = nullptr;
    Form4 = nullptr;
    Form3 = nullptr;
    Form1 = nullptr;
}

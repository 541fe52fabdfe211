// Kalvora: supervision and control of climatic test chambers over an RS-485 line.
#include "ApplicationWindows.h"
#include "PortUnit.h"
#include "main.h"
#include "platform/RuntimeFolder.h"
#include "platform/SystemRegionalSettings.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    UseRuntimeFolderWhenUnset();
    QApplication application(argc, argv);  // also calls setlocale(LC_ALL, "")
    PortUnit::Regional = ReadSystemRegionalSettings();
    CreateApplicationWindows();
    Form1->show();
    Form1->move(0, 0);
    return application.exec();
}

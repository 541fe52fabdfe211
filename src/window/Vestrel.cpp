// Kalvora: supervision and control of climatic test chambers over an RS-485 line.
#include "ApplicationWindows.h"
#include "PortUnit.h"
#include "main.h"
#include "platform/RuntimeFolder.h"
#include "platform/SystemRegionalSettings.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] = R"(Usage: kalvora [--help | --version]

The window program: watch climatic test chambers on an RS-485 line, log their
readings and write programs, a set-point and start/stop commands to them.

Options:
  -h, --help     Show this help and exit.
  -v, --version  Show the version and exit.

Environment:
  KALVORA_COMn   the device that port COMn opens (for example
                 KALVORA_COM1=/dev/serial/by-id/usb-...); without it, the
                 mapping in ~/.config/kalvora/ports.conf, then
                 /etc/kalvora/ports.conf, then /dev/ttyS<n-1>.
)";

// --help and --version answer before the toolkit starts, so that they work without a display.
bool AnswersOnItsOwn(int argc, char *argv[], int &exitCode) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            exitCode = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("kalvora %s\n", KALVORA_VERSION);
            exitCode = 0;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    if (int exitCode = 0; AnswersOnItsOwn(argc, argv, exitCode))
        return exitCode;
    UseRuntimeFolderWhenUnset();
    QApplication application(argc, argv);  // also calls setlocale(LC_ALL, "")
    PortUnit::Regional = ReadSystemRegionalSettings();
    CreateApplicationWindows();
    Form1->show();
    Form1->move(0, 0);
    return application.exec();
}

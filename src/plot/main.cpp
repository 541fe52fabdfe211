// kalvora-plot: charts and CSV of Kalvora's readings logs.
#include "PlotCommand.h"
#include "PlotOptions.h"
#include "platform/RuntimeFolder.h"

#include <QApplication>

int main(int argc, char **argv) {
    // Files and texts need no display: render offscreen so that it works over ssh and in CI.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        (NeedsNoDisplay(argc, argv) || (qEnvironmentVariableIsEmpty("DISPLAY") &&
                                        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UseRuntimeFolderWhenUnset();
    QApplication application(argc, argv); // also calls setlocale(LC_ALL, "")
    QApplication::setApplicationName(QStringLiteral("kalvora-plot"));
    QApplication::setApplicationVersion(QStringLiteral(KALVORA_VERSION));
    return RunPlot(QApplication::arguments());
}

#include "PlotCommand.h"

#include "ChartBuilder.h"
#include "ChartExport.h"
#include "LocalClock.h"
#include "OutputFiles.h"
#include "PlotInput.h"
#include "PlotOptions.h"
#include "PlotWindow.h"
#include "ProgramCommand.h"
#include "ReportCommand.h"
#include "core/ReadingsCsv.h"
#include "platform/SystemRegionalSettings.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSaveFile>
#include <cstdio>
#include <memory>

namespace {

void PrintLine(const QString &text) {
    std::fputs((QStringLiteral("kalvora-plot: ") + text + QLatin1Char('\n')).toLocal8Bit(), stderr);
}

int UsageError(const QString &text) {
    PrintLine(text);
    PrintLine(QStringLiteral("see kalvora-plot --help"));
    return kExitUsage;
}

InputSettings InputSettingsOf(const PlotOptions &options) {
    InputSettings input;
    input.settings = ReadSystemRegionalSettings();
    if (options.dateFormat)
        input.settings.shortDateFormat = *options.dateFormat;
    if (options.timeFormat)
        input.settings.longTimeFormat = *options.timeFormat;
    input.fallbackDate = options.date;
    input.allowEmptyFiles = options.follow;
    return input;
}

int WriteCsv(const QString &path, const LoadedInput &loaded) {
    if (loaded.chambers.size() != 1)
        return UsageError(QStringLiteral("--csv takes the files of one chamber; these hold ") +
                          QString::number(loaded.chambers.size()));
    LocalClock clock;
    const QByteArray bytes =
        PlotCsv(loaded.chambers.first().readings, [&clock](const QDate &date, const QTime &time) {
            return clock.UtcOffset(date, time);
        });
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        PrintLine(path + QStringLiteral(": cannot write: ") + file.errorString());
        return kExitFile;
    }
    return kExitOk;
}

int WriteImage(const PlotOptions &options, const InputSettings &input, const LoadedInput &loaded) {
    LocalClock clock;
    const QString title =
        options.title ? *options.title : DefaultTitle(loaded.chambers, input.settings);
    const ChartModel model = BuildChartModel(loaded.chambers, title, clock);
    std::unique_ptr<QChart> chart(BuildChart(model, input.settings, options.size));
    const QString error = ExportChart(chart.get(), options.imageOutput, options.size);
    if (!error.isEmpty()) {
        PrintLine(options.imageOutput + QStringLiteral(": cannot write: ") + error);
        return kExitFile;
    }
    return kExitOk;
}

int WriteFiles(const PlotOptions &options, const InputSettings &input) {
    LoadedInput loaded;
    try {
        loaded = LoadInput(options.files, input);
    } catch (const InputError &error) {
        PrintLine(error.message());
        return kExitFile;
    }
    for (const QString &warning : loaded.warnings)
        PrintLine(warning);
    if (!options.csvOutput.isEmpty()) {
        if (const int status = WriteCsv(options.csvOutput, loaded); status != kExitOk)
            return status;
    }
    if (!options.imageOutput.isEmpty())
        return WriteImage(options, input, loaded);
    return kExitOk;
}

int OpenWindow(const PlotOptions &options, const InputSettings &input) {
    if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
        return UsageError(QStringLiteral("no display for the window; write a file with -o or "
                                         "--csv"));
    QStringList files = options.files;
    const bool chosenHere = files.isEmpty();
    if (chosenHere) {
        files =
            QFileDialog::getOpenFileNames(nullptr, QStringLiteral("Журналы Kalvora"), QString(),
                                          QStringLiteral("Журналы (*.txt *.csv);;Все файлы (*)"));
        if (files.isEmpty())
            return kExitOk;
    }
    LoadedInput loaded;
    try {
        loaded = LoadInput(files, input);
    } catch (const InputError &error) {
        PrintLine(error.message());
        if (chosenHere)
            QMessageBox::critical(nullptr, QStringLiteral("kalvora-plot"), error.message());
        return kExitFile;
    }
    for (const QString &warning : loaded.warnings)
        PrintLine(warning);
    PlotWindow window(files, input, options.title, options.follow, loaded);
    window.show();
    return QApplication::exec();
}

} // namespace

int RunPlot(const QStringList &arguments) {
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("report"))
        return RunReport(arguments);
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("program"))
        return RunProgramPreview(arguments);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.options)
        return UsageError(parsed.usageError);
    const PlotOptions &options = *parsed.options;
    if (const QString clash = OutputOverwritesInput({{QStringLiteral("-o"), options.imageOutput},
                                                     {QStringLiteral("--csv"), options.csvOutput}},
                                                    options.files);
        !clash.isEmpty())
        return UsageError(clash);
    const InputSettings input = InputSettingsOf(options);
    return options.writesFiles() ? WriteFiles(options, input) : OpenWindow(options, input);
}

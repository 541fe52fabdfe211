#include "ProgramCommand.h"

#include "ChartExport.h"
#include "ProgramChart.h"
#include "core/ExitCodes.h"
#include "core/HelpText.h"
#include "core/ProgramFile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QWidget>
#include <cstdio>
#include <memory>

namespace {

void PrintLine(const QString &text) {
    std::fputs((QStringLiteral("kalvora-plot program: ") + text + QLatin1Char('\n')).toLocal8Bit(),
               stderr);
}

int UsageError(const QString &text) {
    PrintLine(text);
    PrintLine(QStringLiteral("see kalvora-plot program --help"));
    return kExitUsage;
}

} // namespace

int RunProgramPreview(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(WrapHelpText(QStringLiteral(
        "Draws the profile of a program file (docs/programs.md) as the control window's\n"
        "\"Просмотр…\" does: each step a ramp to its temperature over its time to mode, then a\n"
        "hold for its stabilisation time, for every cycle, with the step and cycle boundaries\n"
        "marked, from 20 °C. The title gives the total duration and the end time if started\n"
        "now, which are also printed. A time to mode of 0 is drawn as a jump: the chamber\n"
        "sets its own rate there, and that time is not in the duration.\n"
        "The file is checked as the window checks a program before writing it; a failing\n"
        "file is named with its line and cell (exit 5).\n\n"
        "Exit status: 0 done, 2 wrong command line, 5 the program fails the checks, 6 a file\n"
        "could not be read or written.")));
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help.")));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the chart to FILE: .png, .svg or .pdf (without it: a window)."),
        QStringLiteral("FILE"));
    const QCommandLineOption size(QStringLiteral("size"),
                                  QStringLiteral("Picture size in pixels (default 1600x900)."),
                                  QStringLiteral("WxH"), QStringLiteral("1600x900"));
    parser.addOption(output);
    parser.addOption(size);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The program file."));
    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest))
        return UsageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText()
                       .replace(QStringLiteral("Usage: ") + QCoreApplication::arguments().constFirst(),
                                QStringLiteral("Usage: kalvora-plot program"))
                       .toLocal8Bit(),
                   stdout);
        return kExitOk;
    }
    if (parser.positionalArguments().size() != 1)
        return UsageError(QStringLiteral("one program FILE expected"));
    static const QRegularExpression sizePattern(QStringLiteral("^([0-9]{2,5})x([0-9]{2,5})$"));
    const auto sizeMatch = sizePattern.match(parser.value(size));
    if (!sizeMatch.hasMatch())
        return UsageError(QStringLiteral("--size: WxH expected, such as 1600x900"));
    const QSize pictureSize(sizeMatch.captured(1).toInt(), sizeMatch.captured(2).toInt());
    const QString outputPath = parser.value(output);
    if (!outputPath.isEmpty() && !ImageKindOf(outputPath))
        return UsageError(QStringLiteral("-o: .png, .svg or .pdf expected"));

    const QString path = parser.positionalArguments().first();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        PrintLine(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return kExitFile;
    }
    const ProgramFileRead read = ReadProgramFile(file.readAll(), path);
    if (!read.program) {
        PrintLine(read.error);
        return kExitRejected;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QString name = read.content->texts.name;
    for (const QString &line : ProgramSummary(*read.program, now))
        std::fputs((line + QLatin1Char('\n')).toUtf8(), stdout);
    if (!outputPath.isEmpty()) {
        std::unique_ptr<QChart> chart(
            BuildProgramChart(*read.program, name, read.programNumber, now));
        const QString error = ExportChart(chart.get(), outputPath, pictureSize);
        if (!error.isEmpty()) {
            PrintLine(outputPath + QStringLiteral(": cannot write: ") + error);
            return kExitFile;
        }
        return kExitOk;
    }
    if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
        return UsageError(QStringLiteral("no display for the window; write a file with -o"));
    std::unique_ptr<QWidget> window(
        NewProgramPreviewWindow(*read.program, name, read.programNumber, now));
    window->setWindowTitle(QStringLiteral("%1 - kalvora-plot").arg(path));
    window->show();
    return QApplication::exec();
}

#include "logger/KnownProgramsSources.h"

#include "base/CliError.h"

#include "core/OverviewQuery.h"
#include "core/ProgramFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

NamedProgram ReadNamedProgram(const QString &option, const std::vector<int> &chambers) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3}):(\\d{1,2})=(.+)$"));
    const auto match = form.match(option);
    const auto usage = [&option](const QString &why) {
        return CliError{kExitUsage, QStringLiteral("--program '%1': %2").arg(option, why)};
    };
    if (!match.hasMatch())
        throw usage(QStringLiteral("not CHAMBER:NUMBER=FILE"));
    NamedProgram named;
    named.chamber = match.captured(1).toInt();
    named.program = match.captured(2).toInt();
    named.path = match.captured(3);
    if (std::find(chambers.begin(), chambers.end(), named.chamber) == chambers.end())
        throw usage(QStringLiteral("chamber %1 is not logged").arg(named.chamber));
    if (!kProgramNumberBounds.Contain(named.program))
        throw usage(QStringLiteral("program %1 is outside %2")
                        .arg(named.program)
                        .arg(BoundsText(kProgramNumberBounds)));
    QFile file(named.path);
    if (!file.open(QIODevice::ReadOnly))
        throw CliError{
            kExitFile,
            QStringLiteral("--program: cannot read %1: %2").arg(named.path, file.errorString())};
    const QByteArray bytes = file.readAll();
    if (!LooksLikeProgramFile(bytes))
        throw CliError{kExitUsage,
                       QStringLiteral("--program: %1 is not a program file (docs/programs.md)")
                           .arg(named.path)};
    const ProgramFileRead read = ReadProgramFile(bytes, named.path);
    if (!read.program)
        throw CliError{kExitUsage, QStringLiteral("--program: ") + read.error};
    if (read.programNumber != 0 && read.programNumber != named.program)
        throw usage(QStringLiteral("the file is program %1").arg(read.programNumber));
    named.table = *read.program;
    named.savedAtMs = QFileInfo(file).lastModified().toMSecsSinceEpoch();
    return named;
}

void ReplayJournalWrites(const QString &path, KnownPrograms &known) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (!line.contains("\"client_write\""))
            continue; // most lines: no need to parse them
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")).toString() != QLatin1String("client_write") ||
            event.value(QStringLiteral("answer")).toString() != QLatin1String("ok"))
            continue;
        const auto at = ParseSinceTime(event.value(QStringLiteral("time")).toString());
        const QJsonArray values = event.value(QStringLiteral("values")).toArray();
        if (!at || values.isEmpty())
            continue;
        std::vector<std::uint16_t> registers;
        for (const QJsonValue &value : values)
            registers.push_back(static_cast<std::uint16_t>(value.toInt()));
        known.written(event.value(QStringLiteral("chamber")).toInt(),
                      event.value(QStringLiteral("start")).toInt(), registers, *at);
    }
}

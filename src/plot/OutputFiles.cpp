#include "OutputFiles.h"

#include "platform/FileIdentity.h"

#include <QDir>
#include <QFileInfo>
#include <optional>
#include <variant>

namespace {

// The file a name leads to; a file that does not exist yet is known by its absolute name.
using Place = std::variant<FileIdentity, QString>;

std::optional<FileIdentity> Identity(const Place &place) {
    if (const auto *identity = std::get_if<FileIdentity>(&place))
        return *identity;
    return std::nullopt;
}

Place PlaceOf(const QString &path) {
    if (const auto identity = IdentityOfFile(path))
        return *identity;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString Refusal(const OutputFile &output, const QString &what) {
    const QString named =
        output.option.isEmpty() ? output.path : output.option + QLatin1Char(' ') + output.path;
    return named + QStringLiteral(": that is ") + what +
           QStringLiteral("; nothing written, name another file");
}

} // namespace

QString OutputOverwritesInput(const QList<OutputFile> &outputs, const QStringList &inputs) {
    QList<std::pair<QString, std::optional<FileIdentity>>> readFiles;
    for (const QString &input : inputs)
        readFiles.append({input, IdentityOfFile(input)});
    QList<std::pair<const OutputFile *, Place>> written;
    for (const OutputFile &output : outputs) {
        if (output.path.isEmpty())
            continue;
        const Place place = PlaceOf(output.path);
        const auto identity = Identity(place);
        for (const auto &[input, inputIdentity] : readFiles)
            if (identity && inputIdentity == identity)
                return Refusal(output, QStringLiteral("the input file ") + input);
        for (const auto &[other, otherPlace] : written)
            if (otherPlace == place)
                return Refusal(output, QStringLiteral("the file of ") + other->option);
        written.append({&output, place});
    }
    return {};
}

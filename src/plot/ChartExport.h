#pragma once
// Renders a chart to a PNG, SVG or PDF file without a display.
#include <QChart>
#include <QSize>
#include <QString>
#include <optional>

enum class ImageKind { Png, Svg, Pdf };

// By the extension, case-insensitive; nothing for any other.
std::optional<ImageKind> ImageKindOf(const QString &path);

// Lays the chart out at `size` and writes it; the chart is returned to no scene afterwards
// (the caller keeps ownership). Returns an error text ("<cause>") or an empty string.
QString ExportChart(QChart *chart, const QString &path, const QSize &size);

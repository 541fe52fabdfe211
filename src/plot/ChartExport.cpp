#include "ChartExport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace {

void Paint(QGraphicsScene &scene, QPaintDevice *device, const QSize &size) {
    QPainter painter(device);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF rect(QPointF(0, 0), size);
    scene.render(&painter, rect, rect);
}

QString Write(QGraphicsScene &scene, ImageKind kind, QSaveFile &file, const QSize &size) {
    switch (kind) {
    case ImageKind::Png: {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        Paint(scene, &image, size);
        QImageWriter writer(&file, "png");
        return writer.write(image) ? QString() : writer.errorString();
    }
    case ImageKind::Svg: {
        QSvgGenerator generator;
        generator.setOutputDevice(&file);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(QFileInfo(file.fileName()).fileName());
        Paint(scene, &generator, size);
        return {};
    }
    case ImageKind::Pdf: {
        QPdfWriter writer(&file);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        Paint(scene, &writer, size);
        return {};
    }
    }
    return {};
}

} // namespace

std::optional<ImageKind> ImageKindOf(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QStringLiteral("png"))
        return ImageKind::Png;
    if (suffix == QStringLiteral("svg"))
        return ImageKind::Svg;
    if (suffix == QStringLiteral("pdf"))
        return ImageKind::Pdf;
    return std::nullopt;
}

QString ExportChart(QChart *chart, const QString &path, const QSize &size) {
    const auto kind = ImageKindOf(path);
    if (!kind)
        return QStringLiteral("the picture's type must be .png, .svg or .pdf");
    QGraphicsScene scene;
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    // The chart lays out its plot area and series on posted layout requests.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    QSaveFile file(path);
    QString error;
    if (!file.open(QIODevice::WriteOnly))
        error = file.errorString();
    else
        error = Write(scene, *kind, file, size);
    if (error.isEmpty() && !file.commit())
        error = file.errorString();
    scene.removeItem(chart);
    return error;
}

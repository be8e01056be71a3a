#include "view/exports/ViewPictureExport.h"

#include "engine/platform/EngineError.h"
#include "view/LegendWidget.h"
#include "view/exports/WholeFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

namespace view {

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return {};
    return bytes;
}

QByteArray encodeViewPicture(const QImage& view, const ColourScale* legendScale, bool marker)
{
    QImage image(view.width(), view.height() + (legendScale ? kLegendHeight : 0), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, view);
        if (legendScale) {
            paintLegend(painter, QRect(0, view.height() + 4, image.width(), kLegendHeight - 6), *legendScale, Qt::black, marker);
        }
    }
    return pngBytes(image);
}

void writeViewPicture(const QImage& view, const ColourScale* legendScale, const std::string& path, bool marker)
{
    const QByteArray bytes = encodeViewPicture(view, legendScale, marker);
    if (bytes.isEmpty()) throw engine::EngineError(engine::Failure::WriteFailed, path);
    writeWhole(path, bytes);
}

}  // namespace view

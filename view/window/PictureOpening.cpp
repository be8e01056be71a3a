#include "view/window/PictureOpening.h"

#include "engine/platform/EngineError.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fstream>
#include <sstream>

namespace view {

namespace {

std::string encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString decoded(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

bool isRasterName(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("raw"), Qt::CaseInsensitive) == 0;
}

bool isTiffName(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare(QLatin1String("tif"), Qt::CaseInsensitive) == 0 ||
           suffix.compare(QLatin1String("tiff"), Qt::CaseInsensitive) == 0;
}

// Restores the cursor however the work ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

std::unique_ptr<LoadedPicture> readRaster(const QString& path, const RasterWidthQuestion& askWidth)
{
    const std::string file = encoded(path);
    if (const auto header = enviHeaderBeside(file)) {
        std::ifstream in(*header, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in) throw engine::EngineError(engine::Failure::CannotOpenInput, *header);
        const RasterLayout layout = parseEnviHeader(text.str(), *header);
        WaitCursor wait;
        auto raster = std::make_unique<LoadedPicture>(LoadedPicture::readRaster(file, layout.width, layout.height, layout.offset));
        // The headers written here and by zrvimage-batch say "NDVI, " and the model.
        std::string description = layout.description;
        if (description.starts_with("NDVI, ")) description.erase(0, 6);
        raster->setDescription(description);
        return raster;
    }
    const std::int64_t bytes = fileSize(file);
    const auto width = askWidth(path, bytes);
    if (!width) return nullptr;
    if (*width <= 0 || bytes == 0 || bytes % (4 * *width) != 0) {
        throw ViewError(QStringLiteral("ファイルの大きさ（%1 バイト）が幅 %2 の float32 ラスターに合いません\n%3")
                            .arg(bytes)
                            .arg(*width)
                            .arg(QDir::toNativeSeparators(path))
                            .toStdString());
    }
    WaitCursor wait;
    return std::make_unique<LoadedPicture>(LoadedPicture::readRaster(file, *width, bytes / (4 * *width)));
}

}  // namespace

QString readPicture(const QString& path, const RasterWidthQuestion& askWidth, std::unique_ptr<LoadedPicture>& loaded)
{
    QString failure;
    try {
        if (isRasterName(path)) {
            loaded = readRaster(path, askWidth);
        } else if (isTiffName(path)) {
            WaitCursor wait;
            loaded = std::make_unique<LoadedPicture>(LoadedPicture::readTiff(encoded(path)));
        } else {
            WaitCursor wait;
            loaded = std::make_unique<LoadedPicture>(LoadedPicture::readBitmap(encoded(path)));
        }
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("画像が大きすぎてメモリに収まりません\n%1").arg(QDir::toNativeSeparators(path));
    } catch (const engine::EngineError& e) {
        // The engine's message for a picture it cannot read; the window's few without
        // the file's name (its depth, its size) get it here, as every refusal names it.
        failure = QString::fromUtf8(e.what());
        const QString named = decoded(e.path());
        if (!named.isEmpty() && !failure.contains(named)) failure += QLatin1Char('\n') + QDir::toNativeSeparators(named);
    } catch (const std::exception& e) {
        // The raster's own messages, which name the file.
        failure = QString::fromUtf8(e.what());
    }
    return failure;
}

}  // namespace view

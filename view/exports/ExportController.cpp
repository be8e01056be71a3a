#include "view/exports/ExportController.h"

#include "engine/platform/EngineError.h"
#include "engine/platform/Messages.h"
#include "runtime/Exceptions.h"
#include "view/ViewerWindow.h"
#include "view/exports/FiguresExport.h"
#include "view/exports/RasterExport.h"
#include "view/exports/TiffExport.h"
#include "view/exports/ViewPictureExport.h"
#include "view/exports/WholeFile.h"
#include "view/season/SeasonDock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

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

QString fromUtf8(const char* text)
{
    return QString::fromUtf8(text);
}

// Restores the cursor however the work ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

ExportController::ExportController(ViewerWindow& window) : QObject(&window), window_(window) {}

bool ExportController::write(Export which, const QString& path)
{
    switch (which) {
    case Export::Raster: return writeRaster(path);
    case Export::Tiff: return writeTiff(path);
    case Export::ViewPicture: return writeShownPicture(path);
    case Export::Figures: return writeFigures(path);
    case Export::SeasonChart: return writeSeasonChart(path);
    case Export::SeasonTable: return writeSeasonTable(path);
    }
    return false;
}

bool ExportController::refuseImpossibleModel()
{
    // A raster is written only for the model the fields show, never for an older one.
    const auto problem = engine::modelProblem(window_.fieldsModel());
    if (!problem) return false;
    window_.prompts().message(QString::fromStdString(*problem));
    return true;
}

QString ExportController::proposedName(const QString& suffix) const
{
    const QFileInfo info(window_.picture() ? decoded(window_.picture()->path()) : QString());
    return info.dir().filePath(info.completeBaseName() + suffix);
}

void ExportController::choose(Export which)
{
    const bool ofSeason = which == Export::SeasonChart || which == Export::SeasonTable;
    if (ofSeason ? !window_.season()->complete() : !window_.picture()) return;
    const ExportDialog& d = exportDialog(which);
    const QString proposed = ofSeason ? window_.season()->proposedName(d.proposedSuffix) : proposedName(d.proposedSuffix);
    const QString path = window_.prompts().savePath(d.title, proposed, d.filter, d.suffix);
    if (path.isEmpty()) return;
    // An earlier file's confirmation must not stand beside this one's failure.
    window_.clearNotice();
    if (refuseOpenPicture(path) ||
        (which == Export::Raster && refuseOpenPicture(decoded(headerPathFor(encoded(path)))))) {
        return;
    }
    if (QFileInfo::exists(path) &&
        !window_.prompts().confirm(QStringLiteral("%1 は既に存在します。置き換えますか？").arg(QDir::toNativeSeparators(path)))) {
        return;
    }
    if (!write(which, path)) return;
    // Frames that could not be read are not in the season's exports: said, not hidden.
    const std::size_t left = ofSeason ? window_.season()->failedCount() : 0;
    window_.showNotice(left ? QStringLiteral("書き出しました（読めないフレーム %1 枚を除く）: %2").arg(left).arg(QDir::toNativeSeparators(path))
                    : QStringLiteral("書き出しました: %1").arg(QDir::toNativeSeparators(path)));
}

bool ExportController::refuseOpenPicture(const QString& path)
{
    if (!window_.picture() || !sameFile(window_.picture()->identity(), encoded(path))) return false;
    window_.prompts().message(fromUtf8(engine::kOutputIsInput));
    return true;
}

bool ExportController::reportFailure(const QString& path, const std::function<void()>& write)
{
    QString failure;
    try {
        WaitCursor wait;
        write();
    } catch (const runtime::Exception& e) {
        failure = QString::fromStdString(e.message());
    } catch (const std::bad_alloc&) {
        failure = QString::fromStdString(engine::failureMessage(engine::Failure::WriteFailed, encoded(path)));
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    if (failure.isEmpty()) return true;
    window_.prompts().message(failure);
    return false;
}

// The exports write what the window shows: the picture in memory under the model in
// use, never the file read again, which may have changed since it was opened.

bool ExportController::writeRaster(const QString& path)
{
    if (!window_.picture() || window_.picture()->kind() != LoadedPicture::Kind::Bitmap || refuseImpossibleModel()) return false;
    window_.settleCorrection();
    const std::string out = encoded(path);
    const std::string header = headerPathFor(out);
    if (refuseOpenPicture(path) || refuseOpenPicture(decoded(header))) return false;
    // The save dialog asked about the raster only; a header left beside a raster that
    // is gone is replaced only when the user agrees.
    std::error_code unknown;  // a name that cannot be looked at is left to the writing to report
    if (!std::filesystem::exists(out, unknown) && std::filesystem::exists(header, unknown) &&
        !window_.prompts().confirm(QStringLiteral("%1 は既に存在します。置き換えますか？").arg(decoded(header)))) {
        return false;
    }
    return reportFailure(path, [&] { writeNdviRaster(*window_.picture(), window_.ndviTable(), window_.model(), out, window_.correctedNdvi(), window_.index()); });
}

bool ExportController::writeTiff(const QString& path)
{
    if (!window_.picture() || window_.picture()->kind() != LoadedPicture::Kind::Bitmap || refuseImpossibleModel() ||
        refuseOpenPicture(path)) {
        return false;
    }
    window_.settleCorrection();
    const std::string flat = window_.correctedNdvi() ? window_.flatField()->path() : std::string();
    return reportFailure(path, [&] { writeNdviTiff(*window_.picture(), window_.ndviTable(), window_.model(), encoded(path), window_.correctedNdvi(), flat, window_.index()); });
}

bool ExportController::writeShownPicture(const QString& path)
{
    if (!window_.picture() || refuseOpenPicture(path)) return false;
    const QImage view = window_.canvas()->renderView(window_.canvas()->viewport()->size(), 1.0);
    const Canvas::Mode mode = window_.canvas()->mode();
    const bool gains = mode == Canvas::Mode::NirGain || mode == Canvas::Mode::RedGain;
    const ColourScale* legend = mode == Canvas::Mode::Ndvi ? &window_.ndviScale() : gains ? &window_.gainScale() : nullptr;
    return reportFailure(path, [&] { writeViewPicture(view, legend, encoded(path), !gains); });
}

bool ExportController::writeFigures(const QString& path)
{
    if (!window_.figures() || refuseOpenPicture(path)) return false;
    // The model the figures were worked out with, which is not the fields' while they
    // are impossible.
    const bool bitmapOpen = window_.picture()->kind() == LoadedPicture::Kind::Bitmap;
    const QString flat = bitmapOpen && window_.correctedNdvi() ? decoded(window_.flatField()->path()) : QString();
    return reportFailure(path, [&] {
        writeFiguresCsv(decoded(window_.picture()->path()), *window_.figures(), bitmapOpen ? &window_.model() : nullptr, encoded(path), flat);
    });
}

// The season's exports: what the chart shows, from the figures of the last complete
// run; the frames are not read again.

bool ExportController::writeSeasonChart(const QString& path)
{
    if (!window_.season()->complete() || refuseOpenPicture(path)) return false;
    const QByteArray png = pngBytes(window_.season()->chartImage(QSize(1600, 900)));
    return reportFailure(path, [&] {
        if (png.isEmpty()) throw engine::EngineError(engine::Failure::WriteFailed, encoded(path));
        writeWhole(encoded(path), png);
    });
}

bool ExportController::writeSeasonTable(const QString& path)
{
    if (!window_.season()->complete() || refuseOpenPicture(path)) return false;
    const std::string csv = window_.season()->csv();
    return reportFailure(path, [&] { writeWhole(encoded(path), QByteArray::fromStdString(csv)); });
}


}  // namespace view

#include "batch/FileRun.h"

#include "batch/BatchServices.h"
#include "batch/EnviHeader.h"
#include "batch/NdviPreview.h"
#include "batch/Report.h"

#include "bitmap/AreaMaxima.h"
#include "bitmap/BitmapProbe.h"
#include "bitmap/Crop2048.h"
#include "bitmap/Files.h"
#include "bitmap/NdviRaster.h"
#include "bitmap/OperationSteps.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <cstring>
#include <map>
#include <optional>
#include <vector>

namespace batch {

namespace {

using bitmap::Field;
using Sink = std::function<void(const std::string&)>;

constexpr const char* kNotProcessed = "対応していない画像のため処理しませんでした";
constexpr const char* kCannotWriteHeader = "ENVIヘッダを書き込めません";
constexpr const char* kCannotWritePreview = "カラー画像を書き込めません";
constexpr const char* kCannotReadRaster = "NDVIファイルを読み込めません";

std::map<Field, std::string> fieldsFor(const Options& o)
{
    return {{Field::Edit1, o.rect[0]}, {Field::Edit2, o.rect[1]}, {Field::Edit3, o.rect[2]},
            {Field::Edit4, o.rect[3]}, {Field::Edit5, o.nirWhite}, {Field::Edit6, o.redWhite}};
}

// Runs the window's operation; true when it got to "完了".
bool runOperation(const Options& options, BatchServices& services, const Sink& onMessage)
{
    try {
        switch (options.command) {
        case Command::Crop: bitmap::cropTo2048(services); break;
        case Command::Maxima: bitmap::findAreaMaxima(services); break;
        case Command::Ndvi: bitmap::makeNdviRaster(services); break;
        }
    } catch (const FileAbandoned&) {
        return false;  // its message has been passed on
    } catch (const runtime::EAbort&) {
        return false;
    } catch (const runtime::Exception& e) {
        onMessage(runtime::errorBoxText(e.message()));
        return false;
    } catch (const std::exception& e) {
        onMessage(e.what());
        return false;
    }
    // The window ends silently on pictures it does not take; a batch says so.
    if (!services.completed() && !services.reportedTrouble()) onMessage(kNotProcessed);
    return services.completed();
}

// Reads the raster back row by row for the preview and the statistics.
bool scanRaster(const std::string& path, std::int64_t width, std::int64_t height, NdviPreview* preview,
                NdviStatsAccumulator* stats)
{
    auto raster = bitmap::InputFile::open(path);
    if (!raster) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(float);
    std::vector<std::uint8_t> bytes(rowBytes);
    std::vector<float> row(static_cast<std::size_t>(width));
    for (std::int64_t y = 0; y < height; ++y) {
        raster->readAt(y * static_cast<std::int64_t>(rowBytes), bytes.data(), rowBytes);
        std::memcpy(row.data(), bytes.data(), rowBytes);  // little-endian, as written
        if (preview) preview->setRow(static_cast<int>(y), row.data());
        if (stats) stats->addRow(row.data(), row.size());
    }
    return true;
}

// The extras of one finished raster; false when one of them could not be written.
bool finishNdvi(const Options& options, const FileJob& job, NdviResult& result, const Sink& onMessage)
{
    auto input = bitmap::InputFile::open(job.input);
    if (!input) {
        onMessage(std::string(bitmap::kCannotOpenInput) + ": " + job.input);
        return false;
    }
    const bitmap::BitmapProbe image = bitmap::probe(*input);
    input->close();
    result.width = image.width;
    result.height = image.height;

    if (!job.header.empty()) {
        if (!writeTextFile(job.header, enviHeaderText(image.width, image.height))) {
            onMessage(std::string(kCannotWriteHeader) + ": " + job.header);
            return false;
        }
        result.header = job.header;
    }
    if (job.preview.empty() && !options.stats) return true;

    std::optional<NdviPreview> preview;
    if (!job.preview.empty()) {
        preview.emplace(image.width, image.height);
        if (!preview->valid()) {
            onMessage(std::string(kCannotWritePreview) + ": " + job.preview);
            return false;
        }
    }
    NdviStatsAccumulator stats;
    if (!scanRaster(job.output, image.width, image.height, preview ? &*preview : nullptr,
                    options.stats ? &stats : nullptr)) {
        onMessage(std::string(kCannotReadRaster) + ": " + job.output);
        return false;
    }
    if (preview) {
        if (!preview->save(job.preview)) {
            onMessage(std::string(kCannotWritePreview) + ": " + job.preview);
            return false;
        }
        result.preview = job.preview;
    }
    if (options.stats) result.stats = stats.result();
    return true;
}

}  // namespace

FileOutcome runFile(const Options& options, const FileJob& job, const Sink& onMessage)
{
    FileOutcome outcome;
    try {
        BatchServices services(job.input, job.output, fieldsFor(options), onMessage);
        if (!runOperation(options, services, onMessage)) return outcome;

        if (options.command == Command::Maxima) {
            using bitmap::ResultLabel;
            outcome.line = maximaLine({job.input, services.label(ResultLabel::Label8), services.label(ResultLabel::Label9),
                                       services.label(ResultLabel::Label10)},
                                      options.json);
        } else if (options.command == Command::Ndvi) {
            NdviResult result;
            result.path = job.input;
            result.output = job.output;
            if (!finishNdvi(options, job, result, onMessage)) return outcome;
            outcome.line = ndviLine(result, options.json);
        }
        outcome.succeeded = true;
    } catch (const std::exception& e) {
        onMessage(e.what());
        outcome = {};
    }
    return outcome;
}

}  // namespace batch

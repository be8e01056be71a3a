#include "batch/FileRun.h"

#include "batch/NdviPreview.h"
#include "batch/Report.h"

#include "engine/calibration/Calibration.h"
#include "engine/calibration/FlatField.h"
#include "engine/formats/EnviHeader.h"
#include "engine/formats/NdviTiff.h"
#include "engine/formats/PictureReader.h"
#include "engine/ops/NdviStats.h"
#include "engine/ops/Runs.h"
#include "engine/output/OutputFile.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/SystemReason.h"
#include "engine/season/Season.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace batch {

namespace {

using engine::EngineError;
using Sink = std::function<void(const std::string&)>;

constexpr const char* kCannotWriteHeader = "ENVIヘッダを書き込めません";
constexpr const char* kCannotWritePreview = "カラー画像を書き込めません";

// A reason of the batch's own for failing a file; the text is the message.
struct FileFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The sentence, the system's reason after it when there is one, and the path.
std::string withPath(const char* sentence, const std::string& path, int systemError = 0)
{
    const std::string reason = engine::systemReason(systemError);
    return std::string(sentence) + (reason.empty() ? "" : "（" + reason + "）") + "\n" + path;
}

// The window's sentence for an 8-bit picture, each operation its own.
const char* eightBitMessage(Command command)
{
    switch (command) {
    case Command::Crop: return "24ビットカラ―画像を指定してください";
    case Command::Maxima: return "24ビットカラー画像を指定してください";
    case Command::Ndvi:
    case Command::Calibrate:
    case Command::Series:
    case Command::FlatField:
    case Command::Anchor:
    case Command::Tags:
    case Command::Phenology: return "24ビットフォルスカラ―画像を指定してください";
    }
    return "";
}

// The picture opened once, its rows known to be readable as 24-bit pixels.
engine::PictureReader openPicture(const Options& options, const std::string& path)
{
    engine::PictureReader picture = engine::PictureReader::open(path);
    if (picture.header().bitCount == 8) throw FileFailure(eightBitMessage(options.command));
    picture.require24Bit(engine::PictureReader::Signature::Names);
    return picture;
}

}  // namespace

// The outputs of one file, placed together when the whole file has succeeded: all new
// or all old. Whatever is not placed is removed when this goes.
struct FileOutputs {
    engine::OutputGroup group;
    const engine::PictureReader* input = nullptr;  // never written over, under any name
    engine::StagedFile* header = nullptr;
    engine::StagedFile* preview = nullptr;

    // Stages path; a failure is told with failureMessage when one is given.
    engine::StagedFile& stage(const std::string& path, const char* failureMessage = nullptr)
    {
        try {
            return group.add(path, input);
        } catch (const EngineError& e) {
            if (!failureMessage || e.failure() == engine::Failure::OutputIsInput) throw;
            throw FileFailure(withPath(failureMessage, path, e.systemError()));
        }
    }

    // A header or preview that could not be written is told as such, as when its own
    // write fails; a name that cannot be taken is told as for any output.
    void place()
    {
        try {
            group.commit();
        } catch (const EngineError& e) {
            if (e.failure() == engine::Failure::WriteFailed) {
                const int error = e.systemError();
                if (header && e.path() == header->finalPath()) {
                    throw FileFailure(withPath(kCannotWriteHeader, e.path(), error));
                }
                if (preview && e.path() == preview->finalPath()) {
                    throw FileFailure(withPath(kCannotWritePreview, e.path(), error));
                }
            }
            throw;
        }
    }
};

namespace {

std::string maxima(const Options& options, const FileJob& job, engine::PictureReader& picture,
                   const engine::RunControl& control)
{
    engine::Rectangle area{options.rect[0], options.rect[1], options.rect[2], options.rect[3]};
    // The window's checks of the rectangle as typed, in its order.
    if (area.y1 > area.y2) throw FileFailure("y値が違います");
    if (area.x2 < area.x1) throw FileFailure("x値が違います");
    area = engine::clampToPicture(area, picture.width(), picture.height());
    const engine::ChannelMaxima max = engine::runAreaMaxima(picture, area, control);
    return maximaLine({job.input, std::to_string(max.red()), std::to_string(max.green()), std::to_string(max.blue())},
                      options.json);
}

// The season's failures name their frame first; the batch names it already.
std::string withoutPath(const std::string& text, const std::string& path)
{
    const std::string prefix = path + ": ";
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// The frame's model: with --regions, its own white (and dark) region placed by its
// markers and read as a season reads a frame's panel, its checks told through warn;
// otherwise the one given.
engine::NdviModel frameModel(const Options& options, engine::PictureReader& picture, const engine::RunControl& control,
                             const Sink& warn)
{
    if (!options.panelSet) return options.model;
    engine::SeasonSettings settings;
    settings.whiteFrom = options.whiteFrom;
    settings.reflectances = options.model;
    settings.flatField = options.flatField;
    try {
        const engine::FrameFigures figures = engine::seasonFrameFigures(picture, *options.panelSet, settings, control);
        for (const std::string& text : figures.warningTexts) warn(text);
        return figures.model;
    } catch (const engine::RegionsError& e) {
        throw FileFailure(withoutPath(e.what(), picture.path()));
    }
}

std::string crop(const FileJob& job, engine::PictureReader& picture, const engine::RunControl& control,
                 FileOutputs& outputs)
{
    engine::requireCroppable(picture);  // before anything is staged
    const auto file = engine::OutputFile::into(outputs.stage(job.output));
    engine::runCrop(picture, *file, control);
    file->finish();
    return {};
}

std::string ndvi(const Options& options, const FileJob& job, engine::PictureReader& picture,
                 const engine::RunControl& control, FileOutputs& outputs, const Sink& warn)
{
    const std::int64_t width = picture.width();
    const std::int64_t height = picture.height();
    // Everything that can fail before the rows are computed, first.
    if (options.flatField) {
        if (auto problem = options.flatField->sizeProblem(width, height)) throw FileFailure(*problem);
    }
    const engine::NdviModel model = frameModel(options, picture, control, warn);
    std::optional<NdviPreview> image;
    if (!job.preview.empty()) {
        image.emplace(static_cast<int>(width), static_cast<int>(height));
        if (!image->valid()) throw FileFailure(withPath(kCannotWritePreview, job.preview));
    }
    // The raster: raw floats through the engine's block writer, or a TIFF fed from
    // the rows as they are computed.
    engine::StagedFile& raster = outputs.stage(job.output);
    std::unique_ptr<engine::OutputFile> raw;
    std::optional<engine::NdviTiffWriter> tiff;
    if (options.tiff) {
        std::string description = engine::describeModel(model);
        // NDVI's description stays as it always was; another index is named first.
        if (!options.index.isNdvi()) description = options.index.label() + ", " + description;
        if (options.flatField) description += "; 周辺減光補正: " + options.flatField->path();
        tiff.emplace(raster, width, height, description, options.tiffLevel);
    } else {
        raw = engine::OutputFile::into(raster);
    }
    if (!job.header.empty()) outputs.header = &outputs.stage(job.header, kCannotWriteHeader);
    if (image) outputs.preview = &outputs.stage(job.preview, kCannotWritePreview);

    std::optional<engine::NdviStatsAccumulator> stats;
    if (options.stats) stats.emplace();
    engine::NdviRowsObserver observe;
    if (image || stats || tiff) {
        observe = [&](std::int64_t first, std::int64_t count, const float* values) {
            if (tiff) tiff->addRows(first, count, values);
            const auto columns = static_cast<std::size_t>(width);
            if (!image && !stats) return;
            for (std::int64_t i = 0; i < count; ++i, values += columns) {
                if (image) image->setRow(static_cast<int>(first + i), values);
                // Row by row, as the statistics have always been gathered.
                if (stats) stats->addRow(values, columns);
            }
        };
    }
    if (options.flatField) {
        engine::runCorrectedNdvi(picture, *options.flatField, model, raw.get(), observe, control, options.index);
    } else {
        engine::runNdvi(picture, model, raw.get(), observe, control, options.index);
    }
    if (raw) raw->finish();
    if (tiff) tiff->finish();

    NdviResult result;
    result.path = job.input;
    result.output = job.output;
    result.width = width;
    result.height = height;
    result.model = model;
    result.index = options.index;
    if (outputs.header) {
        try {
            const std::string text = engine::ndviEnviHeader(width, height, model, options.index.label());
            outputs.header->write(text.data(), text.size());
        } catch (const EngineError& e) {
            throw FileFailure(withPath(kCannotWriteHeader, job.header, e.systemError()));
        }
        result.header = job.header;
    }
    if (image) {
        // Encoded in memory and written in one go: libpng hands over a few bytes at a
        // time (each palette entry alone), a system call each.
        std::vector<std::uint8_t> png;
        const bool encoded = image->encode([&](const std::uint8_t* bytes, std::size_t count) {
            png.insert(png.end(), bytes, bytes + count);
            return true;
        });
        if (!encoded) throw FileFailure(withPath(kCannotWritePreview, job.preview));
        try {
            outputs.preview->write(png.data(), png.size());
        } catch (const EngineError& e) {
            throw FileFailure(withPath(kCannotWritePreview, job.preview, e.systemError()));
        }
        result.preview = job.preview;
    }
    if (stats) result.stats = stats->result();
    return ndviLine(result, options.json);
}

}  // namespace

namespace {

// Runs step, telling any failure through onMessage as the batch tells it; whether it
// succeeded.
template <class Step>
bool guarded(const Step& step, const Sink& onMessage)
{
    try {
        step();
        return true;
    } catch (const EngineError& e) {
        onMessage(e.what());
    } catch (const runtime::EAbort&) {
        // cancelled: the batch says so once
    } catch (const runtime::Exception& e) {
        onMessage(runtime::errorBoxText(e.message()));
    } catch (const std::exception& e) {
        onMessage(e.what());
    }
    return false;
}

}  // namespace

ComputedFile::ComputedFile() = default;
ComputedFile::ComputedFile(ComputedFile&&) noexcept = default;
ComputedFile& ComputedFile::operator=(ComputedFile&&) noexcept = default;
ComputedFile::~ComputedFile() = default;

ComputedFile computeFile(const Options& options, const FileJob& job, const Sink& onMessage,
                         const std::atomic<bool>* cancel)
{
    ComputedFile file;
    auto outputs = std::make_unique<FileOutputs>();  // outlives everything that writes to them
    const bool computed = guarded(
        [&] {
            engine::PictureReader picture = openPicture(options, job.input);
            outputs->input = &picture;
            engine::RunControl control;
            control.cancel = cancel;
            switch (options.command) {
            case Command::Crop: file.line_ = crop(job, picture, control, *outputs); break;
            case Command::Maxima: file.line_ = maxima(options, job, picture, control); break;
            case Command::Ndvi: file.line_ = ndvi(options, job, picture, control, *outputs, onMessage); break;
            case Command::Calibrate:  // one frame, run on its own (runCalibrate)
            case Command::Series: break;  // the frames make one table (runSeries)
            case Command::FlatField: break;  // the frames make one file (runFlatField)
            case Command::Anchor:             // one frame, run on its own (runAnchor)
            case Command::Tags: break;        // no frame (runTags)
            case Command::Phenology: break;   // tables, no frame (runPhenology)
            }
            outputs->input = nullptr;  // closed here; only staging needed it
        },
        onMessage);
    if (computed) {
        file.outputs_ = std::move(outputs);
    } else {
        file.line_.clear();
    }
    return file;
}

FileOutcome placeFile(ComputedFile file, const Sink& onMessage)
{
    FileOutcome outcome;
    if (!file.outputs_) return outcome;
    if (guarded([&] { file.outputs_->place(); }, onMessage)) {
        outcome.succeeded = true;
        outcome.line = std::move(file.line_);
    }
    return outcome;
}

FileOutcome runFile(const Options& options, const FileJob& job, const Sink& onMessage, const std::atomic<bool>* cancel)
{
    return placeFile(computeFile(options, job, onMessage, cancel), onMessage);
}

}  // namespace batch

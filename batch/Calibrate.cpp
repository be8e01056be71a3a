#include "batch/Calibrate.h"

#include "batch/Runner.h"
#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "engine/formats/PictureReader.h"
#include "engine/season/Season.h"

#include <string>
#include <vector>

namespace batch {

namespace {

// "path: text" on one line, as the batch writes every message about a file.
void message(std::ostream& err, const std::string& path, const std::string& text)
{
    err << path << ": ";
    for (const char c : text) {
        if (c == '\n') {
            err << ": ";
        } else {
            err << c;
        }
    }
    err << '\n';
}

std::string rectangleText(const engine::Rectangle& r)
{
    return std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) + "," + std::to_string(r.y2);
}

std::string withoutPath(const std::string& text, const std::string& path)
{
    const std::string prefix = path + ": ";
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// --regions: the white (and dark) region placed on the frame by its markers and read as
// a season reads a frame's panel, by the same rules as the rectangles; the file records
// the smallest rectangles that hold the placed regions.
int calibrateByRegions(const Options& options, engine::PictureReader& reader, std::ostream& out, std::ostream& err,
                       std::time_t date)
{
    const std::string& frame = options.inputs.front();
    engine::SeasonSettings settings;
    settings.whiteFrom = options.whiteFrom;
    settings.reflectances = options.model;
    settings.flatField = options.flatField;
    engine::FrameFigures figures;
    try {
        figures = engine::seasonFrameFigures(reader, *options.panelSet, settings);
    } catch (const engine::RegionsError& e) {
        message(err, frame, withoutPath(e.what(), frame));
        return kSomeFailed;
    }
    const engine::RegionSet& placed = figures.registration ? figures.registration->mapped : *options.panelSet;
    engine::CalibrationRecord record;
    record.model = figures.model;
    record.source.frame = engine::calibrationFramePath(frame);
    record.source.whiteRect = engine::regionBounds(*placed.white());
    record.source.whiteFrom = options.whiteFrom;
    if (placed.dark()) record.source.darkRect = engine::regionBounds(*placed.dark());
    record.source.date = engine::isoDateUtc(date);
    if (options.flatField) record.source.flatfield = engine::calibrationFramePath(options.flatField->path());
    if (options.strict && !figures.warningTexts.empty()) {
        for (const auto& text : figures.warningTexts) message(err, frame, text);
        message(err, frame, "--strict のため較正ファイルを書きませんでした");
        return kSomeFailed;
    }
    engine::writeCalibrationFile(*options.output, record, &reader);
    out << engine::describeModel(record.model) << '\n';
    for (const auto& text : figures.warningTexts) message(err, frame, text);
    return kAllSucceeded;
}

}  // namespace

int runCalibrate(const Options& options, std::ostream& out, std::ostream& err, std::time_t date)
{
    const std::string& frame = options.inputs.front();
    try {
        engine::PictureReader reader = engine::PictureReader::open(frame);
        reader.require24Bit(engine::PictureReader::Signature::Names);
        if (options.flatField) {
            if (auto problem = options.flatField->sizeProblem(reader.width(), reader.height())) {
                message(err, frame, *problem);
                return kSomeFailed;
            }
        }
        if (options.panelSet) return calibrateByRegions(options, reader, out, err, date);
        std::vector<engine::Rectangle> rectangles{options.whiteRect};
        if (options.darkRect) rectangles.push_back(*options.darkRect);
        for (std::size_t i = 0; i < rectangles.size(); ++i) {
            if (!engine::insidePicture(rectangles[i], reader.width(), reader.height())) {
                message(err, frame,
                        std::string(i == 0 ? "--white-rect" : "--dark-rect") + " " + rectangleText(rectangles[i])
                            + " が画像（" + std::to_string(reader.width()) + "×" + std::to_string(reader.height())
                            + "）の外にはみ出しています");
                return kSomeFailed;
            }
        }
        engine::CalibrationRecord record;
        engine::NdviModel& m = record.model;
        m = options.model;
        m.nir.dnDark = 0;
        m.red.dnDark = 0;
        std::vector<engine::PanelWarning> warnings;
        if (options.flatField) {
            // The panel's and the dark target's values as the corrected frame has them.
            const engine::FlatField& flat = *options.flatField;
            const auto values = engine::correctedPixels(reader, flat, rectangles);
            m.nir.dnWhite = engine::correctedWhiteValue(values[0].nir, options.whiteFrom);
            m.red.dnWhite = engine::correctedWhiteValue(values[0].red, options.whiteFrom);
            if (options.darkRect) {
                m.nir.dnDark = engine::correctedDarkValue(values[1].nir);
                m.red.dnDark = engine::correctedDarkValue(values[1].red);
            }
            if (!engine::modelProblem(m)) {
                warnings = engine::correctedPanelChecks(values[0], m.nir.dnWhite, m.red.dnWhite);
                if (options.darkRect) {
                    const engine::CorrectedPixels& dark = values[1];
                    const auto spread = engine::darkSpread(dark.nir, dark.red, dark.nirSaturated, dark.redSaturated);
                    for (auto& w : engine::darkChecks(spread, m.nir.dnDark, m.red.dnDark, m.nir.dnWhite, m.red.dnWhite)) {
                        warnings.push_back(std::move(w));
                    }
                }
            }
            record.source.flatfield = engine::calibrationFramePath(flat.path());
        } else {
            const std::vector<engine::PanelPixels> pixels = engine::countPixels(reader, rectangles);
            const engine::PanelPixels& white = pixels[0];
            m.nir.dnWhite = static_cast<float>(engine::whiteValue(white.nir, white.pixels, options.whiteFrom));
            m.red.dnWhite = static_cast<float>(engine::whiteValue(white.red, white.pixels, options.whiteFrom));
            if (options.darkRect) {
                const engine::PanelPixels& dark = pixels[1];
                m.nir.dnDark = engine::darkValue(dark.nir, dark.pixels);
                m.red.dnDark = engine::darkValue(dark.red, dark.pixels);
            }
            warnings = engine::panelChecks(white, static_cast<int>(m.nir.dnWhite), static_cast<int>(m.red.dnWhite));
            if (options.darkRect) {
                for (auto& w : engine::darkChecks(engine::darkSpread(pixels[1]), m.nir.dnDark, m.red.dnDark, m.nir.dnWhite,
                                                  m.red.dnWhite)) {
                    warnings.push_back(std::move(w));
                }
            }
        }
        if (const auto problem = engine::modelProblem(m)) {
            message(err, frame, *problem);
            return kSomeFailed;
        }
        record.source.frame = engine::calibrationFramePath(frame);
        record.source.whiteRect = options.whiteRect;
        record.source.whiteFrom = options.whiteFrom;
        record.source.darkRect = options.darkRect;
        record.source.date = engine::isoDateUtc(date);
        const auto warn = [&] {
            for (const auto& warning : warnings) message(err, frame, warning.text);
        };
        // --strict refuses a panel that fails a check: no file, so that a script
        // cannot go on with it by mistake.
        if (options.strict && !warnings.empty()) {
            warn();
            message(err, frame, "--strict のため較正ファイルを書きませんでした");
            return kSomeFailed;
        }
        engine::writeCalibrationFile(*options.output, record, &reader);
        out << engine::describeModel(m) << '\n';
        warn();
        return kAllSucceeded;
    } catch (const std::exception& e) {
        // As for every file of a batch: the engine's message, its path included.
        message(err, frame, e.what());
        return kSomeFailed;
    }
}

}  // namespace batch

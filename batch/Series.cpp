#include "batch/Series.h"

#include "batch/Console.h"
#include "batch/Overlay.h"
#include "batch/Report.h"
#include "batch/Runner.h"

#include "engine/formats/PictureReader.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/Messages.h"
#include "engine/platform/Platform.h"
#include "engine/season/Regions.h"
#include "engine/season/Season.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";

// The season's own failures name their frame first; the console names it already.
std::string withoutPath(const std::string& text, const std::string& path)
{
    const std::string prefix = path + ": ";
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// The frame's overlay in the overlay folder, drawn from the pixels read again (from the
// system's cache) now that its regions are placed; false when it could not be written
// (told through say).
bool writeOverlay(const Options& options, engine::PictureReader& reader, const engine::RegionSet& regions,
                  const engine::FrameFigures& figures, const std::function<void(const std::string&)>& say)
{
    const engine::Registration* placed = figures.registration ? &*figures.registration : nullptr;
    const std::string path = engine::platform::utf8Of(engine::platform::pathOf(*options.overlayDir)
                                                      / engine::platform::pathOf(overlayName(reader.path())));
    const std::vector<std::uint8_t> png = overlayPng(reader, placed ? placed->mapped : regions,
                                                     placed ? placed->tags : std::vector<engine::FoundTag>{});
    if (png.empty()) {
        say("重ね描き画像を作れませんでした: " + path);
        return false;
    }
    try {
        engine::writeWholeFile(path, png, &reader);
    } catch (const engine::EngineError& e) {
        say(std::string("重ね描き画像を書き込めません: ") + e.what());
        return false;
    }
    return true;
}

// One frame's row of the table, or nothing when it cannot be used (told through say).
// overlayFailed is set when its rows are good but its overlay could not be written.
std::optional<engine::SeasonFrame> runFrame(const Options& options, const std::string& path,
                                            const engine::RegionSet& regions, const engine::SeasonSettings& settings,
                                            const std::function<void(const std::string&)>& say,
                                            const std::atomic<bool>* cancel, bool& overlayFailed)
{
    try {
        engine::SeasonFrame frame;
        frame.file = path;
        // Opened and checked first, so that a missing file is told as one rather than by
        // its time; only its headers are read before the time is known.
        engine::PictureReader reader = engine::PictureReader::open(path);
        if (reader.header().bitCount == 8) {
            say("24ビットフォルスカラ―画像を指定してください");
            return std::nullopt;
        }
        reader.require24Bit(engine::PictureReader::Signature::Names);
        frame.time = engine::frameTime(path, options.time);
        engine::RunControl control;
        control.cancel = cancel;
        frame.figures = engine::seasonFrameFigures(reader, regions, settings, control);
        if (options.overlayDir) overlayFailed = !writeOverlay(options, reader, regions, frame.figures, say);
        return frame;
    } catch (const engine::RegionsError& e) {
        say(withoutPath(e.what(), path));
    } catch (const engine::EngineError& e) {
        say(e.what());
    } catch (const runtime::EAbort&) {
        // cancelled: the batch says so once
    } catch (const runtime::Exception& e) {
        say(runtime::errorBoxText(e.message()));
    } catch (const std::exception& e) {
        say(e.what());
    }
    return std::nullopt;
}

// Says why --strict leaves a frame out: each failed check's sentence, then its keys.
void refuseFrame(const engine::FrameFigures& figures, const std::function<void(const std::string&)>& say)
{
    std::string keys;
    for (std::size_t k = 0; k < figures.panelWarnings.size(); ++k) {
        if (k < figures.warningTexts.size()) say(figures.warningTexts[k]);
        keys += std::string(k ? ";" : "") + engine::panelCheckKey(figures.panelWarnings[k]);
    }
    say("--strict のため、白色板か暗色板の確認に外れたこのフレーム（" + keys + "）を表から除きました");
}

bool isSet(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

// True when the table would be written over one of the files it is made from.
bool overwritesAnInput(const Options& options)
{
    std::error_code ec;
    if (!std::filesystem::exists(engine::platform::pathOf(options.csv), ec)) return false;
    std::vector<std::string> inputs = options.inputs;
    inputs.push_back(options.regions);
    if (options.calibration) inputs.push_back(*options.calibration);
    for (const std::string& input : inputs) {
        if (std::filesystem::equivalent(engine::platform::pathOf(options.csv), engine::platform::pathOf(input), ec)) return true;
    }
    return false;
}

// The overlay folder made, and its names checked before any frame is read: two frames of
// one name would write one picture, and pictures already there are kept without --force.
int prepareOverlays(const Options& options, std::ostream& err)
{
    const std::filesystem::path dir = engine::platform::pathOf(*options.overlayDir);
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec) && !std::filesystem::create_directories(dir, ec)) {
        return badUsage(err, "出力フォルダを作成できません: " + *options.overlayDir);
    }
    std::map<std::string, std::string> names;
    std::vector<std::string> existing;
    for (const std::string& frame : options.inputs) {
        const std::string name = overlayName(frame);
        if (const auto [it, added] = names.emplace(name, frame); !added) {
            return badUsage(err, "重ね描き画像の名前が重なります（" + name + "）: " + it->second + " と " + frame);
        }
        const std::filesystem::path path = dir / engine::platform::pathOf(name);
        // Never over a file the run reads or the table it writes, under any name.
        std::vector<std::string> kept = options.inputs;
        kept.insert(kept.end(), {options.regions, options.csv});
        for (const std::string& other : kept) {
            const std::filesystem::path o = engine::platform::pathOf(other);
            if (std::filesystem::weakly_canonical(path, ec) == std::filesystem::weakly_canonical(o, ec)
                || std::filesystem::equivalent(path, o, ec)) {
                return badUsage(err, std::string(engine::kOutputIsInput) + ": " + engine::platform::utf8Of(path));
            }
        }
        if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) existing.push_back(engine::platform::utf8Of(path));
    }
    if (!options.force && !existing.empty()) {
        err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
        for (const auto& path : existing) err << "  " << path << '\n';
        return kBadUsage;
    }
    return kAllSucceeded;
}

}  // namespace

int runSeries(const Options& options, std::ostream& out, std::ostream& err, bool errIsTerminal,
              const std::atomic<bool>* interrupted)
{
    std::error_code ec;
    if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(options.csv), ec))) {
        err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
        err << "  " << options.csv << '\n';
        return kBadUsage;
    }
    if (overwritesAnInput(options)) return badUsage(err, std::string(engine::kOutputIsInput) + ": " + options.csv);

    if (options.overlayDir) {
        if (const int status = prepareOverlays(options, err); status != kAllSucceeded) return status;
    }

    engine::RegionSet regions;
    try {
        regions = options.regionSet ? *options.regionSet : engine::readRegionsFile(options.regions);
    } catch (const engine::RegionsError& e) {
        return badUsage(err, e.what());
    }
    engine::SeasonSettings settings;
    if (options.fixedCalibration) {
        settings.fixed = options.model;
    } else {
        settings.whiteFrom = options.whiteFrom;
        settings.reflectances = options.model;
        const bool darkReflectance = options.model.nir.rDark != 0 || options.model.red.rDark != 0;
        if (darkReflectance && !regions.dark()) {
            return badUsage(err, "--dark-reflectance は領域ファイルに暗色板の領域（role が dark）があるときだけ使えます");
        }
    }
    settings.flatField = options.flatField;
    settings.index = options.index;
    if (const auto problem = engine::seasonProblem(regions, settings)) return badUsage(err, options.regions + ": " + *problem);

    const std::vector<std::string>& frames = options.inputs;
    std::vector<std::optional<engine::SeasonFrame>> results(frames.size());
    Console console(out, err, errIsTerminal, frames.size());
    {
        std::atomic<std::size_t> next{0};
        const auto worker = [&] {
            for (std::size_t i; !isSet(interrupted) && (i = next++) < frames.size();) {
                const auto say = [&](const std::string& text) { console.message(frames[i], text); };
                bool overlayFailed = false;
                results[i] = runFrame(options, frames[i], regions, settings, say, interrupted, overlayFailed);
                if (options.strict && results[i] && !results[i]->figures.panelWarnings.empty()) {
                    refuseFrame(results[i]->figures, say);
                    results[i].reset();
                }
                // A frame whose overlay is missing has its rows all the same, but fails.
                console.fileDone(i, results[i].has_value() && !overlayFailed, {});
            }
        };
        std::vector<std::jthread> pool;
        try {
            const std::size_t workers = workerCount(options.jobs, frames.size(), std::thread::hardware_concurrency());
            for (std::size_t t = 0; t < workers; ++t) pool.emplace_back(worker);
        } catch (const std::system_error&) {
            // Fewer threads than asked for; the ones running take every frame.
        }
        if (pool.empty()) worker();
    }
    console.finish();
    if (isSet(interrupted)) {
        err << kProgram << "中断しました\n";
        return kInterrupted;
    }

    std::vector<engine::SeasonFrame> done;
    for (auto& r : results) {
        if (r) done.push_back(std::move(*r));
    }
    engine::sortSeasonFrames(done);
    if (const auto warning = engine::seasonTimeWarning(done, options.time)) err << kProgram << *warning << '\n';
    bool written = false;
    if (done.empty()) {
        // A table of its header alone tells nothing and would replace one that did.
        err << kProgram << "成功したフレームが一つもないため、CSV ファイルを書きませんでした（既存のファイルはそのままです）: "
            << options.csv << '\n';
    } else {
        std::string table = engine::seasonCsvHeader(regions.usesMarkers(), settings.index);
        for (const engine::SeasonFrame& frame : done) table += engine::seasonCsvRows(frame, regions);
        try {
            engine::writeWholeFile(options.csv, table);
            written = true;
        } catch (const engine::EngineError& e) {
            console.message(options.csv, e.what());
        }
    }

    const std::vector<std::size_t> failed = console.failed();
    if (options.json) {
        const std::size_t plots = regions.plots().size();
        out << "{\"csv\":" << jsonString(options.csv) << ",\"written\":" << (written ? "true" : "false")
            << ",\"frames\":" << frames.size() << ",\"failed\":[";
        for (std::size_t k = 0; k < failed.size(); ++k) out << (k ? "," : "") << jsonString(frames[failed[k]]);
        out << "],\"regions\":" << plots << ",\"rows\":" << done.size() * plots << "}\n";
    }
    if (!failed.empty()) {
        err << kProgram << "失敗したファイル " << failed.size() << "/" << frames.size() << ":";
        for (const std::size_t i : failed) err << ' ' << frames[i];
        err << '\n';
    }
    return failed.empty() && written ? kAllSucceeded : kSomeFailed;
}

}  // namespace batch

#include "batch/Phenology.h"

#include "batch/PhenologyChart.h"
#include "batch/Runner.h"

#include "engine/platform/EngineError.h"
#include "engine/platform/Messages.h"
#include "engine/output/OutputPath.h"
#include "engine/formats/PictureReader.h"
#include "engine/platform/Platform.h"
#include "engine/season/Phenology.h"

#include <filesystem>
#include <map>
#include <system_error>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";
// A season table of a few thousand frames and dozens of regions is a few MiB.
constexpr std::size_t kMaxTableBytes = 256u << 20;

std::string readTable(const std::string& path)
{
    const auto source = engine::openFileSource(path);
    std::string text;
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t n = source->readAt(static_cast<std::int64_t>(text.size()), chunk, sizeof chunk);
        if (n == 0) break;
        text.append(reinterpret_cast<const char*>(chunk), n);
        if (text.size() > kMaxTableBytes) throw engine::PhenologyError(path + ": 季節表が大きすぎます（256 MiB まで）");
    }
    return text;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    const std::filesystem::path pa = engine::platform::pathOf(a), pb = engine::platform::pathOf(b);
    return std::filesystem::equivalent(pa, pb, ec)
           || std::filesystem::weakly_canonical(pa, ec) == std::filesystem::weakly_canonical(pb, ec);
}

}  // namespace

int runPhenology(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>* interrupted)
{
    const std::string& csv = *options.output;
    for (const std::string& input : options.inputs) {
        if (sameFile(csv, input)) return badUsage(err, std::string(engine::kOutputIsInput) + ": " + csv);
    }

    std::vector<engine::RegionSeason> seasons;
    std::size_t repeated = 0;
    for (const std::string& input : options.inputs) {
        try {
            engine::readSeasonTable(readTable(input), input, options.indexColumn, seasons, repeated);
        } catch (const engine::EngineError& e) {
            err << kProgram << e.what() << '\n';
            return kSomeFailed;
        } catch (const engine::PhenologyError& e) {
            err << kProgram << e.what() << '\n';
            return kSomeFailed;
        }
    }
    if (seasons.empty()) {
        err << kProgram << "季節表に " << options.indexColumn << " の値のある行が一つもないため、日付の表を書きませんでした: " << csv
            << '\n';
        return kSomeFailed;
    }
    if (repeated > 0) {
        err << kProgram << "同じフレーム・時刻・領域の行が " << repeated << " 行重なっていたため、一度だけ数えました\n";
    }

    // The outputs' names, all checked before anything is fitted or written.
    std::vector<std::string> outputs{csv};
    if (options.pngDir) {
        const std::filesystem::path dir = engine::platform::pathOf(*options.pngDir);
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec) && !std::filesystem::create_directories(dir, ec)) {
            return badUsage(err, "出力フォルダを作成できません: " + *options.pngDir);
        }
        std::map<std::string, std::string> names;
        for (const engine::RegionSeason& s : seasons) {
            const std::string name = chartName(s.region);
            if (const auto [it, added] = names.emplace(name, s.region); !added) {
                return badUsage(err, "グラフの名前が重なります（" + name + "）: 領域 " + it->second + " と " + s.region);
            }
            const std::string path = engine::platform::utf8Of(dir / engine::platform::pathOf(name));
            for (const std::string& input : options.inputs) {
                if (sameFile(path, input)) return badUsage(err, std::string(engine::kOutputIsInput) + ": " + path);
            }
            outputs.push_back(path);
        }
    }
    if (!options.force) {
        std::vector<std::string> existing;
        std::error_code ec;
        for (const std::string& path : outputs) {
            if (std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(path), ec))) existing.push_back(path);
        }
        if (!existing.empty()) {
            err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
            for (const auto& path : existing) err << "  " << path << '\n';
            return kBadUsage;
        }
    }

    std::vector<std::string> regions;
    std::vector<engine::PhenologyFit> fits;
    for (const engine::RegionSeason& s : seasons) {
        if (interrupted && interrupted->load()) {
            err << kProgram << "中断しました\n";
            return kInterrupted;
        }
        regions.push_back(s.region);
        fits.push_back(engine::fitPhenology(s.points));
        const engine::PhenologyFit& fit = fits.back();
        if (fit.method == engine::PhenologyMethod::None) {
            err << kProgram << s.region << ": " << fit.reason << '\n';
            continue;
        }
        for (const engine::PhenologyDate& d : fit.dates) {
            if (!d.day) {
                err << kProgram << s.region << " " << engine::phenologyMetricName(d.metric) << ": " << d.why << '\n';
            } else if (!d.low) {
                err << kProgram << s.region << " " << engine::phenologyMetricName(d.metric)
                    << ": ブートストラップの多くの当てはめでこの日付が得られないため、区間は空欄にしました\n";
            }
        }
    }

    try {
        engine::OutputGroup group;
        const std::string table = engine::phenologyCsv(regions, fits);
        group.add(csv).write(table.data(), table.size());
        for (std::size_t r = 0; options.pngDir && r < seasons.size(); ++r) {
            const std::vector<std::uint8_t> png = phenologyChartPng(seasons[r].region, seasons[r].points, fits[r], options.indexColumn);
            if (png.empty()) {
                err << kProgram << "グラフを作れませんでした: " << outputs[r + 1] << '\n';
                return kSomeFailed;
            }
            group.add(outputs[r + 1]).write(png);
        }
        group.commit();
    } catch (const engine::EngineError& e) {
        err << kProgram << e.what() << '\n';
        return kSomeFailed;
    }
    std::size_t dated = 0;
    for (const auto& f : fits) dated += f.method != engine::PhenologyMethod::None;
    out << csv << ": " << regions.size() << " 領域（日付あり " << dated << "）\n";
    return kAllSucceeded;
}

}  // namespace batch

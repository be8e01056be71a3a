#include "batch/Anchor.h"

#include "batch/Runner.h"

#include "engine/formats/PictureReader.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/Messages.h"
#include "engine/platform/Platform.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";

bool samePath(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(engine::platform::pathOf(a), engine::platform::pathOf(b), ec);
}

// The engine's message on one line, its path after ": ", as the batch tells a file.
std::string oneLine(std::string text)
{
    for (std::size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, ": ");
    return text;
}

std::string fixed1(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

}  // namespace

int runAnchor(const Options& options, std::ostream& out, std::ostream& err)
{
    const std::string& frame = options.inputs.front();
    const std::string& output = *options.output;
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(output), ec))) {
        if (samePath(output, options.regions) || samePath(output, frame)) {
            return badUsage(err, std::string(engine::kOutputIsInput) + ": " + output);
        }
        if (!options.force) {
            err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
            err << "  " << output << '\n';
            return kBadUsage;
        }
    }
    engine::RegionSet regions;
    try {
        regions = engine::readRegionsFile(options.regions);
    } catch (const engine::RegionsError& e) {
        return badUsage(err, e.what());
    }
    if (!regions.markers || regions.markers->field.empty()) {
        return badUsage(err, options.regions
                                 + ": 圃場のマーカー（markers の field）がありません。例: \"markers\": {\"family\": \"tag36h11\", \"field\": [0, 1, 2, 3]}");
    }
    try {
        engine::PictureReader reader = engine::PictureReader::open(frame);
        if (reader.header().bitCount == 8) {
            err << frame << ": 24ビットフォルスカラ―画像を指定してください\n";
            return kSomeFailed;
        }
        reader.require24Bit(engine::PictureReader::Signature::Names);
        const std::vector<engine::FoundTag> tags = engine::findTags(engine::greenOf(reader).view());
        const std::vector<int>& field = regions.markers->field;
        if (tags.empty()) out << frame << ": マーカーが見つかりません\n";
        for (const engine::FoundTag& tag : tags) {
            const bool isField = std::find(field.begin(), field.end(), tag.id) != field.end();
            const engine::Vertex c = engine::tagHomography(tag.corners).map({0.5, 0.5});
            out << "マーカー " << tag.id << (isField ? "（圃場）" : "") << ": 中心 (" << fixed1(c.x) << ", " << fixed1(c.y)
                << ")\n";
        }
        engine::RegionSet anchored;
        try {
            anchored = engine::anchorRegions(regions, tags);
        } catch (const engine::RegionsError& e) {
            err << frame << ": " << e.what() << "。領域ファイルを書きませんでした\n";
            return kSomeFailed;
        }
        // Every region must still fit the reference frame it is anchored to.
        for (const engine::Region& region : anchored.regions) {
            if (!region.tag && !engine::regionInside(region, reader.width(), reader.height())) {
                err << frame << ": 領域 \"" << region.name << "\" が画像（" << reader.width() << "×" << reader.height()
                    << "）の外にはみ出しています。領域ファイルを書きませんでした\n";
                return kSomeFailed;
            }
        }
        engine::writeRegionsFile(output, anchored);
        out << "圃場のマーカー " << anchored.markers->reference.size() << "/" << field.size() << " 個を基準として "
            << output << " に書きました\n";
        return kAllSucceeded;
    } catch (const engine::EngineError& e) {
        err << oneLine(e.what()) << '\n';
    } catch (const engine::RegionsError& e) {
        err << oneLine(e.what()) << '\n';
    } catch (const std::exception& e) {
        err << frame << ": " << e.what() << '\n';
    }
    return kSomeFailed;
}

}  // namespace batch

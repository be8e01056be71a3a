#include "MarkerSeason.h"

#include "Floor.h"
#include "Spawn.h"
#include "SyntheticSeason.h"

#include "engine/formats/PictureReader.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <apriltag/apriltag.h>
#include <apriltag/tag36h11.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The library as its own example uses it, one thread, decimation 4.
double libraryAlone(const std::vector<engine::GreyPicture>& pictures)
{
    apriltag_family_t* family = tag36h11_create();
    apriltag_detector_t* detector = apriltag_detector_create();
    apriltag_detector_add_family_bits(detector, family, 1);
    detector->nthreads = 1;
    detector->quad_decimate = 4.0f;
    const double start = now();
    for (const engine::GreyPicture& g : pictures) {
        image_u8_t image{static_cast<std::int32_t>(g.width), static_cast<std::int32_t>(g.height),
                         static_cast<std::int32_t>(g.width), const_cast<std::uint8_t*>(g.pixels.data())};
        apriltag_detections_destroy(apriltag_detector_detect(detector, &image));
    }
    const double seconds = now() - start;
    apriltag_detector_destroy(detector);
    tag36h11_destroy(family);
    return seconds;
}

}  // namespace

std::optional<MarkerSeasonResult> measureMarkerSeason(const std::filesystem::path& folder, int frames, int runs)
{
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "zrvimage-batch";
    const auto seasonFolder = folder / "markers";
    const auto csv = folder / "markers.csv";
    const auto errors = folder / "markers.err";
    struct Cleanup {
        std::filesystem::path a, b, c;
        ~Cleanup()
        {
            std::error_code ignored;
            std::filesystem::remove_all(a, ignored);
            std::filesystem::remove(b, ignored);
            std::filesystem::remove(c, ignored);
        }
    } cleanup{seasonFolder, csv, errors};

    season_sample::SeasonOptions options;
    options.width = 2048;
    options.height = 1536;
    options.frames = frames;
    options.plots = 20;
    options.markers = true;
    std::vector<std::filesystem::path> paths;
    std::vector<engine::GreyPicture> greys;
    MarkerSeasonResult result;
    const auto anchored = seasonFolder / "anchored.json";
    try {
        const auto all = season_sample::writeSeason(seasonFolder, options);
        const season_sample::Layout layout = season_sample::seasonLayout(options);
        for (int f = 0; f < frames; ++f) {
            if (f == season_sample::kPanelTagCoveredFrame || f == season_sample::kFieldTagsCoveredFrame) continue;
            paths.push_back(all[static_cast<std::size_t>(f)]);
            auto reader = engine::PictureReader::open(all[static_cast<std::size_t>(f)].string());
            reader.require24Bit();
            greys.push_back(engine::greenOf(reader));
            // Corners against the truth, as the season's own test checks them.
            const auto view = season_sample::frameView(options, f);
            for (const engine::FoundTag& t : engine::findTags(greys.back().view())) {
                if (t.id > 3) continue;
                const season_sample::Point o = layout.fieldTags[static_cast<std::size_t>(t.id)];
                const double s = layout.tagSide;
                const double offsets[4][2] = {{0, 0}, {s, 0}, {s, s}, {0, s}};
                for (int k = 0; k < 4; ++k) {
                    const double x = o.x + offsets[k][0], y = o.y + offsets[k][1];
                    const double q = view[6] * x + view[7] * y + view[8];
                    const double ex = (view[0] * x + view[1] * y + view[2]) / q;
                    const double ey = (view[3] * x + view[4] * y + view[5]) / q;
                    result.worstCornerPx = std::max(result.worstCornerPx, std::hypot(t.corners[k].x - ex, t.corners[k].y - ey));
                }
            }
        }
        const engine::RegionSet drawn = engine::readRegionsFile((seasonFolder / "regions.json").string());
        engine::writeRegionsFile(anchored.string(), engine::anchorRegions(drawn, engine::findTags(greys.front().view())));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "markers: %s\n", e.what());
        return std::nullopt;
    }

    std::vector<std::string> args = {program.string(), "series"};
    for (const auto& p : paths) args.push_back(p.string());
    args.insert(args.end(), {"--regions", anchored.string(), "--csv", csv.string(), "--time", "name:cam_%Y%m%d_%H%M%S",
                             "-j", "1"});
    const auto series = [&]() -> std::optional<double> {
        std::filesystem::remove(csv);
        const double start = now();
        if (!runQuietly(args, errors)) return std::nullopt;
        return now() - start;
    };
    if (!series()) {
        std::fprintf(stderr, "markers: zrvimage-batch series failed\n");
        std::ifstream in(errors);
        for (std::string line; std::getline(in, line);) std::fprintf(stderr, "  %s\n", line.c_str());
        return std::nullopt;
    }
    libraryAlone(greys);  // the library's tables and caches warmed as the series' are
    std::vector<double> libraries, times, ratios;
    for (int r = 0; r < runs; ++r) {
        double l = 0;
        std::optional<double> s;
        if (r % 2 == 0) {
            l = libraryAlone(greys);
            s = series();
        } else {
            s = series();
            l = libraryAlone(greys);
        }
        if (!s) return std::nullopt;
        libraries.push_back(l);
        times.push_back(*s);
        ratios.push_back(*s / l);
    }
    result.frames = static_cast<int>(paths.size());
    result.library = median(libraries);
    result.series = median(times);
    result.ratio = median(ratios);
    return result;
}

}  // namespace bench

#include "Season.h"
#include "Spawn.h"

#include "Floor.h"
#include "SyntheticSeason.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

namespace {

constexpr int kPlots = 20;
constexpr int kTexturedWidth = 81, kTexturedHeight = 61;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::size_t linesIn(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

void report(const std::string& what, const std::filesystem::path& errors)
{
    std::fprintf(stderr, "season: %s\n", what.c_str());
    std::ifstream in(errors);
    std::string line;
    for (int n = 0; n < 20 && std::getline(in, line); ++n) std::fprintf(stderr, "  %s\n", line.c_str());
}

// Rewrites the plots' pixels of the frame at path as canopy asks: each plot's bounding
// box (a polygon's too), its NIR (red byte) and visible red (green byte) drawn anew
// around their means there, or uniformly. Blue, the panel and the dark target stay.
void retexture(const std::filesystem::path& path, const season_sample::Layout& layout, Canopy canopy, int frame)
{
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto le32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                         static_cast<std::uint32_t>(bytes[at + 3]) << 24);
    };
    const std::int32_t offset = le32(10), width = le32(18), height = le32(22);
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    // Image row y from the top; the frames are bottom-up.
    const auto at = [&](int x, int y) {
        return static_cast<std::size_t>(offset) + static_cast<std::size_t>(height - 1 - y) * stride + 3 * static_cast<std::size_t>(x);
    };
    std::mt19937_64 random(0x5EA5011u ^ static_cast<std::uint64_t>(frame) << 20);
    for (const auto& plot : layout.plots) {
        int x1 = plot.x1, y1 = plot.y1, x2 = plot.x2, y2 = plot.y2;
        if (!plot.polygon.empty()) {
            x1 = y1 = 1 << 30;
            x2 = y2 = -1;
            for (const auto& p : plot.polygon) {
                x1 = std::min(x1, static_cast<int>(p.x));
                y1 = std::min(y1, static_cast<int>(p.y));
                x2 = std::max(x2, static_cast<int>(p.x));
                y2 = std::max(y2, static_cast<int>(p.y));
            }
        }
        x1 = std::max(x1, 0);
        y1 = std::max(y1, 0);
        x2 = std::min(x2, width - 1);
        y2 = std::min(y2, height - 1);
        double nirSum = 0, redSum = 0, n = 0;
        for (int y = y1; y <= y2; ++y) {
            for (int x = x1; x <= x2; ++x) {
                nirSum += bytes[at(x, y) + 2];
                redSum += bytes[at(x, y) + 1];
                ++n;
            }
        }
        if (n == 0) continue;
        std::normal_distribution<double> nir(nirSum / n, 14.0), red(redSum / n, 9.0);
        std::uniform_int_distribution<int> any(0, 255);
        const auto toByte = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
        for (int y = y1; y <= y2; ++y) {
            for (int x = x1; x <= x2; ++x) {
                std::uint8_t* pixel = &bytes[at(x, y)];
                if (canopy == Canopy::Noise) {
                    pixel[2] = static_cast<std::uint8_t>(any(random));
                    pixel[1] = static_cast<std::uint8_t>(any(random));
                } else {
                    pixel[2] = toByte(nir(random));
                    pixel[1] = toByte(red(random));
                }
            }
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

const char* canopyName(Canopy canopy)
{
    switch (canopy) {
    case Canopy::Smooth: return "smooth";
    case Canopy::Textured: return "textured";
    case Canopy::Noise: return "uniform noise";
    }
    return "?";
}

std::optional<SeasonResult> measureSeason(const std::filesystem::path& folder, int frames, int runs, Canopy canopy)
{
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "zrvimage-batch";
    const auto seasonFolder = folder / "season";
    const auto csv = folder / "season.csv";
    const auto errors = folder / "season.err";
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
    options.plots = kPlots;
    std::vector<std::filesystem::path> paths;
    try {
        paths = season_sample::writeSeason(seasonFolder, options);
        if (canopy != Canopy::Smooth) {
            // Plots of 81x61 at the middle of the sample's, as close-range plots are
            // framed; the panel and the dark target stay where they are.
            auto layout = season_sample::seasonLayout(options);
            for (auto& plot : layout.plots) {
                const int cx = (plot.x1 + plot.x2) / 2, cy = (plot.y1 + plot.y2) / 2;
                plot.polygon.clear();
                plot.x1 = cx - kTexturedWidth / 2;
                plot.x2 = plot.x1 + kTexturedWidth - 1;
                plot.y1 = cy - kTexturedHeight / 2;
                plot.y2 = plot.y1 + kTexturedHeight - 1;
            }
            std::ofstream regions(seasonFolder / "regions.json", std::ios::trunc);
            regions << season_sample::regionsJson(layout);
            if (!regions.flush()) throw std::runtime_error("cannot write " + (seasonFolder / "regions.json").string());
            for (std::size_t f = 0; f < paths.size(); ++f) retexture(paths[f], layout, canopy, static_cast<int>(f));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "season: %s\n", e.what());
        return std::nullopt;
    }

    std::vector<std::string> args = {program.string(), "series"};
    for (const auto& p : paths) args.push_back(p.string());
    args.insert(args.end(), {"--regions", (seasonFolder / "regions.json").string(), "--csv", csv.string(), "--time",
                             "name:cam_%Y%m%d_%H%M%S"});

    const auto floor = [&] {
        double seconds = 0;
        for (const auto& p : paths) seconds += runFloor(p, {}, 0);
        return seconds;
    };
    const auto series = [&]() -> std::optional<double> {
        std::filesystem::remove(csv);
        const double start = now();
        if (!runQuietly(args, errors)) return std::nullopt;
        return now() - start;
    };

    // The warm-up: every frame in the page cache, and a table of the right length.
    floor();
    if (!series()) {
        report("zrvimage-batch series failed", errors);
        return std::nullopt;
    }
    if (linesIn(csv) != 1 + paths.size() * kPlots) {
        report("the table has " + std::to_string(linesIn(csv)) + " lines, not " + std::to_string(1 + paths.size() * kPlots),
               errors);
        return std::nullopt;
    }

    std::vector<double> floors, times, ratios;
    for (int r = 0; r < runs; ++r) {
        double f = 0;
        std::optional<double> s;
        if (r % 2 == 0) {
            f = floor();
            s = series();
        } else {
            s = series();
            f = floor();
        }
        if (!s) {
            report("zrvimage-batch series failed", errors);
            return std::nullopt;
        }
        floors.push_back(f);
        times.push_back(*s);
        ratios.push_back(*s / f);
    }
    return SeasonResult{frames, kPlots, median(floors), median(times), median(ratios)};
}

}  // namespace bench

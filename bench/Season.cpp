#include "Season.h"
#include "Spawn.h"

#include "Floor.h"
#include "SyntheticSeason.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

namespace {

constexpr int kPlots = 20;

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

}  // namespace

std::optional<SeasonResult> measureSeason(const std::filesystem::path& folder, int frames, int runs)
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

// zrvimage-make-season FOLDER [--frames N] [--size WIDTHxHEIGHT] [--plots N] [--seed N]
//                      [--start YYYY-MM-DDTHH:MM:SS] [--markers] [--long] [--force]
// Writes a synthetic season (SyntheticSeason.h) into FOLDER: the frames and regions.json.
#include "SyntheticSeason.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

namespace {

const char* const kUsage =
    "usage: zrvimage-make-season FOLDER [--frames N] [--size WIDTHxHEIGHT] [--plots N] [--seed N]\n"
    "                            [--start YYYY-MM-DDTHH:MM:SS] [--markers] [--long] [--force]\n"
    "  defaults: 30 frames of 1024x768, 6 plots, seed 1, from 2026-05-01T10:00:00 local time\n"
    "  --markers: a hand-held season with AprilTags (regions.json to anchor on the first frame)\n"
    "  --long: a whole season, green-up to senescence, frames 2 to 6 days apart with a fortnight's gap\n"
    "          (50 frames unless --frames says), for zrvimage-batch phenology\n";

template <typename T>
bool number(std::string_view text, T& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool size(std::string_view text, int& width, int& height)
{
    const auto x = text.find('x');
    return x != std::string_view::npos && number(text.substr(0, x), width) && number(text.substr(x + 1), height);
}

}  // namespace

int main(int argc, char** argv)
{
    season_sample::SeasonOptions options;
    std::string folder;
    bool ok = true;
    bool framesGiven = false;
    for (int i = 1; i < argc && ok; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string_view value = hasValue ? argv[i + 1] : "";
        if (arg == "--force") {
            options.replace = true;
            continue;
        }
        if (arg == "--markers") {
            options.markers = true;
            continue;
        }
        if (arg == "--long") {
            options.longSeason = true;
            continue;
        }
        if (arg == "--frames" && hasValue) {
            ok = number(value, options.frames);
            framesGiven = true;
        } else if (arg == "--plots" && hasValue) {
            ok = number(value, options.plots);
        } else if (arg == "--seed" && hasValue) {
            ok = number(value, options.seed);
        } else if (arg == "--size" && hasValue) {
            ok = size(value, options.width, options.height);
        } else if (arg == "--start" && hasValue) {
            const auto start = season_sample::parseLocalTime(value);
            ok = start.has_value();
            if (start) options.start = *start;
        } else if (folder.empty() && !arg.empty() && arg[0] != '-') {
            folder = arg;
            continue;
        } else {
            ok = false;
            continue;
        }
        if (!ok) std::fprintf(stderr, "zrvimage-make-season: %s: bad value '%s'\n", argv[i], argv[i + 1]);
        ++i;
    }
    if (!ok || folder.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options.longSeason && !framesGiven) options.frames = season_sample::kLongSeasonFrames;
    if (const auto problem = season_sample::optionsProblem(options)) {
        std::fprintf(stderr, "zrvimage-make-season: %s\n", problem->c_str());
        return 2;
    }
    try {
        const auto frames = season_sample::writeSeason(folder, options);
        std::printf("%zu frames %s .. %s and regions.json in %s\n", frames.size(),
                    frames.front().filename().c_str(), frames.back().filename().c_str(), folder.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrvimage-make-season: %s\n", e.what());
        return 1;
    }
    return 0;
}

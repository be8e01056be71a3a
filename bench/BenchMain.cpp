// The benchmark behind `make bench`: every operation on pictures of four sizes, through
// the real window on the offscreen platform and through zrvimage-batch's per-file run,
// against the floor of the same file I/O, and zrvimage-batch series over a season of
// frames against reading them. Prints one table and the season row; docs/performance.md
// explains it.
//
//   zrv_bench [--runs N] [--picture WIDTHxHEIGHT | --season | --markers | --flatfield | --tiff | --processes]
//     N timed runs per case after one warm-up (default 9, and 25 for the two pictures
//     whose runs take a few milliseconds, 5 for the season and the TIFF); only the
//     cases of one of the four pictures, only the season, only the markers' season, only the flat-field rows,
//     only the TIFF rows or only the whole-process rows, when given
//
// The TIFF rows time zrvimage-batch's NDVI as a float TIFF against gdal_translate
// writing the same raster as a TIFF of the same kind, whole processes, on a frame of
// the sample season, with both files' sizes; GDAL must read both back as the raw
// raster. The whole-process rows time zrvimage-batch's crop, area maxima and NDVI as
// processes against zrv_bench_floor, a process doing only their durable file I/O.
//
// The flat-field rows run zrvimage-batch's NDVI with --flatfield on the two
// camera-sized pictures against the durable floor, as the batch column does.
//
// The season rows run zrvimage-batch series over ZRV_BENCH_SEASON_FRAMES frames of
// 2048x1536 (default 1000, about 9.4 GB in the temporary folder while it runs; fewer
// for a quick look), then over 120 (or fewer) frames whose plots are textured canopy
// and uniform noise. The whole-process rows end with a multi-file run of each
// writing operation against the floor that makes each file durable in turn. The markers' row (MarkerSeason.h) runs it over a hand-held season
// of 40 frames whose regions follow AprilTags.

#include "CaseRun.h"
#include "FlatFieldRow.h"
#include "Floor.h"
#include "Pictures.h"
#include "ProcessRows.h"
#include "MarkerSeason.h"
#include "Season.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using bench::CaseResult;
using bench::Operation;
using bench::PictureSize;

constexpr PictureSize kPictures[] = {{2048, 1536}, {8000, 6000}, {40000, 1000}, {40000, 20}};
constexpr Operation kOperations[] = {Operation::Crop, Operation::Maxima, Operation::Ndvi};

// The speed targets hold on the two camera-sized pictures; the 40000-wide ones show
// what the row length does and that memory does not grow with the height.
bool hasSpeedTargets(PictureSize p) { return p.width <= 8000; }

// Runs per case unless asked otherwise. A run of a 2048x1536 frame takes a few
// milliseconds, where a moment's load on the other core moves one run by a tenth: more
// runs steady the median at next to no cost.
int defaultRuns(PictureSize p) { return static_cast<std::int64_t>(p.width) * p.height <= 4'000'000 ? 25 : 9; }

// The most each operation may take, in multiples of its floor.
double ratioLimit(Operation op)
{
    switch (op) {
    case Operation::Crop: return 1.0;
    case Operation::Maxima: return 1.5;
    case Operation::Ndvi: return 1.3;
    }
    return 0;
}

constexpr double kWindowToBatchLimit = 1.10;
constexpr double kTiffTimeLimit = 0.6;   // of gdal_translate's time
constexpr double kTiffSizeLimit = 1.02;  // of its file's size
constexpr int kTiffRuns = 5;
constexpr double kProcessLimit = 1.0;  // of the floor process, every operation
constexpr double kSeasonLimit = 1.3;
// The season again with close-range canopy (Season.h): every pixel nearly a pair of
// its own, and the worst case, every pixel a new pair; over fewer frames.
constexpr int kTexturedFrames = 120;
constexpr double kTexturedLimit = 1.3;
constexpr double kNoiseLimit = 2.0;
// A multi-file run against the floor that makes each of its outputs durable in turn.
constexpr int kMultiFiles = 8;
constexpr double kMultiFileLimit = 1.0;
constexpr double kFlatFieldLimit = 1.5;
constexpr int kSeasonFrames = 1000;
constexpr int kSeasonRuns = 5;
constexpr int kMarkerFrames = 40;
constexpr double kMarkerLimit = 1.0;
constexpr double kCornerLimit = 0.3;
constexpr double kGapLimitMs = 20.0;
constexpr double kMemoryGrowthLimitMB = 4.0;

const char* verdict(bool ok) { return ok ? "ok" : "FAIL"; }

// Median seconds zrvimage-batch takes as a process, start-up and exit, for the area
// maxima of a 1x1 picture: what a command line with one file adds to the batch column.
// Nothing when the program is not beside this one.
std::optional<double> batchProcessSeconds(const std::filesystem::path& folder, int runs)
{
    const auto program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "zrvimage-batch";
    if (!std::filesystem::exists(program)) return std::nullopt;
    const auto picture = folder / "1x1.bmp";
    bench::writePicture(picture, {1, 1});
    std::vector<std::string> args = {program.string(), "maxima", picture.string(), "--rect", "0,0,0,0"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<double> seconds;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms up
        const double start = bench::now();
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0 || ::waitpid(pid, &status, 0) < 0
            || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            posix_spawn_file_actions_destroy(&quiet);
            return std::nullopt;
        }
        if (run > 0) seconds.push_back(bench::now() - start);
    }
    posix_spawn_file_actions_destroy(&quiet);
    std::filesystem::remove(picture);
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zrv-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern;
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], bench::kCaseFlag) == 0) return bench::runCaseProcess(argc, argv);
    int runs = 0;  // 0: each picture's own default
    std::string only;  // one picture's cases, for a quick look
    bool seasonOnly = false;
    bool markersOnly = false;
    bool flatFieldOnly = false;
    bool tiffOnly = false;
    bool processesOnly = false;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[++i]);
        } else if (i + 1 < argc && std::strcmp(argv[i], "--picture") == 0) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--season") == 0) {
            seasonOnly = true;
        } else if (std::strcmp(argv[i], "--markers") == 0) {
            markersOnly = true;
        } else if (std::strcmp(argv[i], "--flatfield") == 0) {
            flatFieldOnly = true;
        } else if (std::strcmp(argv[i], "--tiff") == 0) {
            tiffOnly = true;
        } else if (std::strcmp(argv[i], "--processes") == 0) {
            processesOnly = true;
        } else {
            usage = true;
        }
    }
    int seasonFrames = kSeasonFrames;
    if (const char* text = std::getenv("ZRV_BENCH_SEASON_FRAMES")) seasonFrames = std::atoi(text);
    const int texturedFrames = kTexturedFrames;
    if (runs < 0 || usage || (seasonOnly + markersOnly + flatFieldOnly + tiffOnly + processesOnly + !only.empty() > 1) || seasonFrames < 1) {
        std::fprintf(stderr, "usage: %s [--runs N] [--picture WIDTHxHEIGHT | --season | --markers | --flatfield | --tiff | --processes]\n"
                             "  ZRV_BENCH_SEASON_FRAMES=N: the season's frames (default %d)\n",
                     argv[0], kSeasonFrames);
        return 2;
    }

    TempFolder folder;
    // How many runs each picture gets, as the table's first line says.
    std::string runsText;
    for (const PictureSize picture : kPictures) {
        const int n = runs > 0 ? runs : defaultRuns(picture);
        runsText += (runsText.empty() ? "" : ", ") + std::to_string(n) + " on " + picture.name();
    }
    const bool oneRow = seasonOnly || markersOnly || flatFieldOnly || tiffOnly || processesOnly;
    if (tiffOnly || processesOnly) {
        std::printf("zrvimage benchmark: the %s rows alone, pictures in %s\n", tiffOnly ? "TIFF" : "whole-process",
                    folder.path().c_str());
    } else if (seasonOnly || markersOnly) {
        std::printf("zrvimage benchmark: the %s alone, frames in %s\n", seasonOnly ? "season" : "markers' season",
                    folder.path().c_str());
    } else if (flatFieldOnly) {
        std::printf("zrvimage benchmark: the flat-field rows alone, pictures in %s\n", folder.path().c_str());
    } else {
        std::printf("zrvimage benchmark: medians of timed runs per case (%s) after one warm-up, pictures in %s\n\n",
                    runsText.c_str(), folder.path().c_str());
        std::printf("%-11s %-10s %8s %9s %7s %8s %8s %7s %6s %9s %8s %11s %6s  %s\n", "operation", "picture", "floor ms",
                    "window ms", "x floor", "durable", "batch ms", "x dur.", "w/b", "events ms", "peak MiB",
                    "added w/b", "gap ms", "targets");
    }

    bool allMet = true;
    // What each run added to memory on the 40000-wide pictures, by operation and height:
    // window, batch.
    std::map<std::pair<Operation, int>, std::pair<double, double>> added;
    double longestGap = 0;
    for (const PictureSize picture : kPictures) {
        if (oneRow || (!only.empty() && picture.name() != only)) continue;
        const int pictureRuns = runs > 0 ? runs : defaultRuns(picture);
        const auto input = folder.path() / (picture.name() + ".bmp");
        bench::writePicture(input, picture);
        for (const Operation op : kOperations) {
            const std::optional<CaseResult> r = bench::measureCase(op, input, folder.path(), pictureRuns);
            if (!r) {
                std::printf("%-11s %-10s failed\n", bench::operationName(op), picture.name().c_str());
                allMet = false;
                continue;
            }
            const bool live = r->longestGapMs <= kGapLimitMs;
            longestGap = std::max(longestGap, r->longestGapMs);
            allMet = allMet && live;
            char targets[128];
            if (hasSpeedTargets(picture)) {
                const double limit = ratioLimit(op);
                const bool window = r->windowRatio <= limit;
                const bool batch = r->batchRatio <= limit;
                const bool close = r->windowToBatch <= kWindowToBatchLimit;
                allMet = allMet && window && batch && close;
                std::snprintf(targets, sizeof targets, "<=%.1fx: window %s, batch %s; w/b %s; gap %s", limit,
                              verdict(window), verdict(batch), verdict(close), verdict(live));
            } else {
                std::snprintf(targets, sizeof targets, "gap %s", verdict(live));
            }
            if (picture.width == 40000) added[{op, picture.height}] = {r->windowAddedMiB, r->batchAddedMiB};
            char addedText[32];
            std::snprintf(addedText, sizeof addedText, "%.1f/%.1f", r->windowAddedMiB, r->batchAddedMiB);
            std::printf("%-11s %-10s %8.1f %9.1f %7.2f %8.1f %8.1f %7.2f %6.2f %9.1f %8.1f %11s %6.1f  %s\n",
                        bench::operationName(op), picture.name().c_str(), r->floor * 1e3, r->window * 1e3,
                        r->windowRatio, r->durableFloor * 1e3, r->batch * 1e3, r->batchRatio, r->windowToBatch, r->windowEvents * 1e3,
                        std::max(r->windowPeakMiB, r->batchPeakMiB), addedText, r->longestGapMs, targets);
            std::fflush(stdout);
        }
        std::filesystem::remove(input);
    }

    if (!oneRow) {
        std::printf("\nmemory a run adds, 40000x1000 against 40000x20 (target <= %.0f MB more), window/batch:\n",
                    kMemoryGrowthLimitMB);
        for (const Operation op : kOperations) {
            const auto tall = added.find({op, 1000});
            const auto flat = added.find({op, 20});
            if (tall == added.end() || flat == added.end()) continue;
            const double window = (tall->second.first - flat->second.first) * 1.048576;
            const double batch = (tall->second.second - flat->second.second) * 1.048576;
            const bool ok = window <= kMemoryGrowthLimitMB && batch <= kMemoryGrowthLimitMB;
            allMet = allMet && ok;
            std::printf("  %-11s %+.2f/%+.2f MB: %s\n", bench::operationName(op), window, batch, verdict(ok));
        }
        std::printf("longest gap between the window's event passes, every case: %.1f ms (target <= %.0f ms): %s\n",
                    longestGap, kGapLimitMs, verdict(longestGap <= kGapLimitMs));
        if (const auto seconds = batchProcessSeconds(folder.path(), runs > 0 ? runs : defaultRuns(kPictures[1]))) {
            std::printf("zrvimage-batch as a process on a 1x1 picture (start-up and exit, not in the batch column): %.1f ms\n",
                        *seconds * 1e3);
        }
    }
    // The two camera-sized frames of a camera-like scene, for the TIFF and whole-process rows.
    std::vector<std::pair<PictureSize, std::filesystem::path>> scenes;
    if (only.empty() && (!oneRow || tiffOnly || processesOnly)) {
        for (const PictureSize picture : kPictures) {
            if (hasSpeedTargets(picture)) scenes.emplace_back(picture, bench::writeSceneFrame(folder.path(), picture));
        }
    }
    if (only.empty() && (!oneRow || tiffOnly)) {
        const int n = runs > 0 ? runs : kTiffRuns;
        std::printf("\nNDVI as a float TIFF (--tiff), zrvimage-batch against gdal_translate -co COMPRESS=DEFLATE -co "
                    "PREDICTOR=3 -co NUM_THREADS=ALL_CPUS on the same raster, whole processes on a frame of the "
                    "sample season (%d timed runs after one warm-up):\n",
                    n);
        for (const auto& [picture, frame] : scenes) {
            std::fflush(stdout);
            if (const auto r = bench::measureTiff(folder.path(), frame, n)) {
                const double sizeRatio = static_cast<double>(r->oursBytes) / static_cast<double>(r->gdalBytes);
                const bool fast = r->ratio <= kTiffTimeLimit;
                const bool small = sizeRatio <= kTiffSizeLimit;
                allMet = allMet && fast && small && r->sameValues;
                std::printf("  %-10s ours %.0f ms, GDAL %.0f ms: %.2fx (target <= %.1fx) %s; ours %ju bytes, GDAL %ju: "
                            "%.4fx (target <= %.2fx) %s; GDAL reads both as the raw: %s\n",
                            picture.name().c_str(), r->ours * 1e3, r->gdal * 1e3, r->ratio, kTiffTimeLimit,
                            verdict(fast), r->oursBytes, r->gdalBytes, sizeRatio, kTiffSizeLimit, verdict(small),
                            verdict(r->sameValues));
            } else {
                std::printf("  %-10s failed (is gdal_translate installed? scripts/install-bench-deps)\n",
                            picture.name().c_str());
                allMet = false;
            }
        }
        std::fflush(stdout);
        const auto odd = bench::checkOddTiffs(folder.path());
        allMet = allMet && !odd;
        std::printf("  GDAL reads the TIFF as the raw on 1x1, 1x5000, 3x7, 40000x20 and a top-down picture: %s%s\n",
                    verdict(!odd), odd ? (" (first on " + *odd + ")").c_str() : "");
    }
    if (only.empty() && (!oneRow || processesOnly)) {
        const int n = runs > 0 ? runs : 9;
        std::printf("\nzrvimage-batch as whole processes, start-up included, against zrv_bench_floor doing the same "
                    "durable I/O with 1 MiB calls, on a frame of the sample season (%d timed runs after one warm-up):\n",
                    n);
        for (const auto& [picture, frame] : scenes) {
            for (const Operation op : kOperations) {
                std::fflush(stdout);
                if (const auto r = bench::measureProcess(op, folder.path(), frame, picture, n)) {
                    const bool ok = r->ratio <= kProcessLimit;
                    allMet = allMet && ok;
                    std::printf("  %-11s %-10s floor %.1f ms, batch %.1f ms: %.2fx (target <= %.1fx) %s\n",
                                bench::operationName(op), picture.name().c_str(), r->floor * 1e3, r->batch * 1e3,
                                r->ratio, kProcessLimit, verdict(ok));
                } else {
                    std::printf("  %-11s %-10s failed\n", bench::operationName(op), picture.name().c_str());
                    allMet = false;
                }
            }
        }
    }
    if (only.empty() && (!oneRow || processesOnly)) {
        const int n = runs > 0 ? runs : 9;
        std::printf("\nzrvimage-batch over %d copies of the 2048x1536 frame in one process, against zrv_bench_floor making each "
                    "file durable in turn (%d timed runs after one warm-up):\n",
                    kMultiFiles, n);
        for (const auto& [picture, frame] : scenes) {
            if (picture.width != 2048) continue;  // several camera frames, as a user runs them
            for (const Operation op : {Operation::Crop, Operation::Ndvi}) {
                std::fflush(stdout);
                if (const auto r = bench::measureFiles(op, folder.path(), frame, picture, kMultiFiles, n)) {
                    const bool ok = r->ratio <= kMultiFileLimit;
                    allMet = allMet && ok;
                    std::printf("  %-11s %-10s durable floor %.1f ms, batch %.1f ms: %.2fx (target <= %.1fx) %s\n",
                                bench::operationName(op), picture.name().c_str(), r->floor * 1e3, r->batch * 1e3,
                                r->ratio, kMultiFileLimit, verdict(ok));
                } else {
                    std::printf("  %-11s %-10s failed\n", bench::operationName(op), picture.name().c_str());
                    allMet = false;
                }
            }
        }
    }
    if (only.empty() && (!oneRow || flatFieldOnly)) {
        std::printf("\nNDVI through a flat-field (--flatfield), zrvimage-batch's per-file run against the durable "
                    "floor, beside the same run without it:\n");
        for (const PictureSize picture : kPictures) {
            if (!hasSpeedTargets(picture)) continue;
            const int n = runs > 0 ? runs : defaultRuns(picture);
            std::fflush(stdout);
            if (const auto r = bench::measureFlatField(folder.path(), picture, n)) {
                const bool ok = r->correctedRatio <= kFlatFieldLimit;
                allMet = allMet && ok;
                std::printf("  %-10s durable floor %.1f ms, plain %.1f ms (%.2fx), flat-field %.1f ms (%.2fx; target "
                            "<= %.1fx): %s\n",
                            picture.name().c_str(), r->floor * 1e3, r->plain * 1e3, r->plainRatio, r->corrected * 1e3,
                            r->correctedRatio, kFlatFieldLimit, verdict(ok));
            } else {
                std::printf("  %-10s failed\n", picture.name().c_str());
                allMet = false;
            }
        }
    }
    if (only.empty() && (!oneRow || seasonOnly)) {
        const int n = runs > 0 ? runs : kSeasonRuns;
        struct SeasonRow {
            bench::Canopy canopy;
            int frames;
            double limit;
        };
        const SeasonRow rows[] = {{bench::Canopy::Smooth, seasonFrames, kSeasonLimit},
                                  {bench::Canopy::Textured, std::min(seasonFrames, texturedFrames), kTexturedLimit},
                                  {bench::Canopy::Noise, std::min(seasonFrames, texturedFrames), kNoiseLimit}};
        for (const SeasonRow& row : rows) {
            std::printf("\nseason (%s canopy): zrvimage-batch series over %d frames of 2048x1536 with 20 plot regions "
                        "and a panel, against reading the same frames (%d timed runs after one warm-up):\n",
                        bench::canopyName(row.canopy), row.frames, n);
            std::fflush(stdout);
            if (const auto r = bench::measureSeason(folder.path(), row.frames, n, row.canopy)) {
                const bool ok = r->ratio <= row.limit;
                allMet = allMet && ok;
                std::printf("  read floor %.0f ms (%.2f ms a frame), series %.0f ms (%.2f ms a frame): %.2fx the floor "
                            "(target <= %.1fx): %s\n",
                            r->floor * 1e3, r->floor * 1e3 / r->frames, r->series * 1e3, r->series * 1e3 / r->frames,
                            r->ratio, row.limit, verdict(ok));
            } else {
                std::printf("  failed\n");
                allMet = false;
            }
        }
    }
    if (only.empty() && (!oneRow || markersOnly)) {
        const int n = runs > 0 ? runs : kSeasonRuns;
        std::printf("\nmarkers: zrvimage-batch series -j 1 over a hand-held season of %d frames of 2048x1536 (tags "
                    "followed, the two frames covered on purpose left out), against the AprilTag library alone finding "
                    "the tags at decimation 4 with one thread (%d timed runs after one warm-up):\n",
                    kMarkerFrames, n);
        std::fflush(stdout);
        if (const auto r = bench::measureMarkerSeason(folder.path(), kMarkerFrames, n)) {
            const bool ok = r->ratio <= kMarkerLimit && r->worstCornerPx <= kCornerLimit;
            allMet = allMet && ok;
            std::printf("  library alone %.0f ms (%.2f ms a frame), series %.0f ms (%.2f ms a frame): %.2fx (target <= "
                        "%.1fx); worst corner %.3f px (target <= %.1f): %s\n",
                        r->library * 1e3, r->library * 1e3 / r->frames, r->series * 1e3, r->series * 1e3 / r->frames,
                        r->ratio, kMarkerLimit, r->worstCornerPx, kCornerLimit, verdict(ok));
        } else {
            std::printf("  failed\n");
            allMet = false;
        }
    }
    std::printf("%s\n", allMet ? "every target met" : "SOME TARGET MISSED");
    return 0;
}

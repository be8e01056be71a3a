// The benchmark behind `make bench`: every operation on pictures of four sizes,
// through the real window on the offscreen platform, against the floor of the same
// file I/O. Prints one table; docs/performance.md explains it.
//
//   zrv_bench [--runs N]      N timed runs per case after one warm-up (default 5)

#include "CaseRun.h"
#include "Floor.h"
#include "Pictures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using bench::CaseResult;
using bench::Operation;
using bench::PictureSize;

constexpr PictureSize kPictures[] = {{2048, 1536}, {8000, 6000}, {40000, 1000}, {40000, 20}};
constexpr Operation kOperations[] = {Operation::Crop, Operation::Maxima, Operation::Ndvi};

// The targets hold on the two camera-sized pictures.
bool hasTargets(PictureSize p) { return p.width <= 8000; }

double ratioTarget(Operation op) { return op == Operation::Crop ? 1.5 : 2.0; }

constexpr double kGapTargetMs = 20.0;
constexpr double kMemoryTargetBytes = 5e6;

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
    int runs = 5;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::atoi(argv[2]);
    if (runs < 1 || (argc != 1 && argc != 3)) {
        std::fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
        return 2;
    }

    TempFolder folder;
    std::printf("zrvimage benchmark: median of %d runs per case after one warm-up, pictures in %s\n\n", runs,
                folder.path().c_str());
    std::printf("%-12s %-12s %9s %9s %7s %7s %7s %8s %9s %7s  %s\n", "operation", "picture", "median ms",
                "floor ms", "x floor", "cpu x", "MP/s", "peak MiB", "over idle", "gap ms", "targets");

    bool allMet = true;
    std::map<int, double> ndviPeakByHeight;  // the 40000-wide pictures
    double longestGap = 0;
    for (const PictureSize picture : kPictures) {
        const auto input = folder.path() / (picture.name() + ".bmp");
        bench::writePicture(input, picture);
        for (const Operation op : kOperations) {
            const std::optional<CaseResult> r = bench::measureCase(op, input, folder.path(), runs);
            if (!r) {
                std::printf("%-12s %-12s failed\n", bench::operationName(op), picture.name().c_str());
                allMet = false;
                continue;
            }
            const double ratio = r->operation.wall / r->floor.wall;
            const double cpuRatio = r->operation.cpu / r->floor.cpu;
            std::string verdict = "-";
            if (hasTargets(picture)) {
                const bool fast = ratio <= ratioTarget(op);
                const bool live = r->longestGapMs <= kGapTargetMs;
                char text[64];
                std::snprintf(text, sizeof text, "<=%.1fx %s, gap %s", ratioTarget(op), fast ? "ok" : "MISSED",
                              live ? "ok" : "MISSED");
                verdict = text;
                allMet = allMet && fast && live;
                longestGap = std::max(longestGap, r->longestGapMs);
            }
            if (op == Operation::Ndvi && picture.width == 40000) ndviPeakByHeight[picture.height] = r->peakMiB;
            std::printf("%-12s %-12s %9.1f %9.1f %7.2f %7.2f %7.0f %8.1f %9.1f %7.1f  %s\n", bench::operationName(op),
                        picture.name().c_str(), r->operation.wall * 1e3, r->floor.wall * 1e3, ratio, cpuRatio,
                        picture.megapixels() / r->operation.wall, r->peakMiB, r->peakMiB - r->idleMiB,
                        r->longestGapMs, verdict.c_str());
            std::fflush(stdout);
        }
        std::filesystem::remove(input);
    }

    std::printf("\n");
    if (ndviPeakByHeight.size() == 2) {
        const double growth = (ndviPeakByHeight[1000] - ndviPeakByHeight[20]) * 1024 * 1024;
        const bool flat = growth <= kMemoryTargetBytes;
        allMet = allMet && flat;
        std::printf("NDVI peak memory, 40000x1000 against 40000x20: %+.2f MB (target <= 5 MB): %s\n", growth / 1e6,
                    flat ? "ok" : "MISSED");
    }
    std::printf("longest gap between event passes, 2048x1536 and 8000x6000: %.1f ms (target <= %.0f ms)\n",
                longestGap, kGapTargetMs);
    std::printf("%s\n", allMet ? "every target met" : "SOME TARGET MISSED");
    return 0;
}

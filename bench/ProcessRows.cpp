#include "ProcessRows.h"
#include "Spawn.h"

#include "Floor.h"
#include "SyntheticSeason.h"
#include "engine/formats/BitmapProbe.h"
#include "engine/formats/ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bench {

namespace {

// The white values of the sample season's panel, as in docs/performance.md's level table.
const char* const kWhite = "200";

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::filesystem::path besideThisProgram(const char* name)
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
}

// Runs args (args[0] looked up on PATH) with its output to /dev/null and its errors to
// errors; its seconds, start to exit, or nothing unless it ended with status 0.
std::optional<double> runTimed(const std::vector<std::string>& args, const std::filesystem::path& errors)
{
    const double start = now();
    const bool ok = runQuietly(args, errors);
    const double seconds = now() - start;
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", args[0].c_str());
        std::ifstream in(errors);
        std::string line;
        for (int n = 0; n < 10 && std::getline(in, line); ++n) std::fprintf(stderr, "  %s\n", line.c_str());
        return std::nullopt;
    }
    return seconds;
}

bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    return fa && fb && std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

std::vector<std::string> ndviArgs(const std::filesystem::path& frame, const std::filesystem::path& output)
{
    return {besideThisProgram("zrvimage-batch").string(), "ndvi", frame.string(), "--nir-white", kWhite,
            "--red-white", kWhite, "-o", output.string(), "--force"};
}

// GDAL's own TIFF of the same kind as ours: DEFLATE, the floating-point predictor,
// every core. No .aux.xml files beside what it reads and writes.
std::vector<std::string> gdalTiffArgs(const std::filesystem::path& raw, const std::filesystem::path& output)
{
    return {"gdal_translate", "-q", "--config", "GDAL_PAM_ENABLED", "NO", "-of", "GTiff", "-co", "COMPRESS=DEFLATE",
            "-co", "PREDICTOR=3", "-co", "NUM_THREADS=ALL_CPUS", raw.string(), output.string()};
}

// Whether GDAL decodes tiff to the bytes of raw.
bool gdalReadsSame(const std::filesystem::path& tiff, const std::filesystem::path& raw,
                   const std::filesystem::path& folder, const std::filesystem::path& errors)
{
    const auto back = folder / "back.raw";
    const bool same = runTimed({"gdal_translate", "-q", "--config", "GDAL_PAM_ENABLED", "NO", "-of", "ENVI",
                                tiff.string(), back.string()},
                               errors)
        && sameBytes(back, raw);
    std::filesystem::remove(back);
    std::filesystem::remove(folder / "back.hdr");
    return same;
}

// A 24-bit BMP of pseudo-random bytes, bottom-up or top-down.
void writeOddPicture(const std::filesystem::path& path, std::int32_t width, std::int32_t height, bool topDown)
{
    const auto stride = static_cast<std::size_t>(engine::rowStride(width));
    std::vector<std::uint8_t> bytes(54 + stride * static_cast<std::size_t>(height), 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    engine::storeLE32(&bytes[2], static_cast<std::uint32_t>(bytes.size()));
    engine::storeLE32(&bytes[10], 54);
    engine::storeLE32(&bytes[14], 40);
    engine::storeLE32(&bytes[18], static_cast<std::uint32_t>(width));
    engine::storeLE32(&bytes[22], static_cast<std::uint32_t>(topDown ? -height : height));
    engine::storeLE16(&bytes[26], 1);
    engine::storeLE16(&bytes[28], 24);
    engine::storeLE32(&bytes[34], static_cast<std::uint32_t>(bytes.size() - 54));
    std::uint32_t state = 12345;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(width) * 3; ++i) {
            state = state * 1664525u + 1013904223u;
            bytes[54 + static_cast<std::size_t>(y) * stride + i] = static_cast<std::uint8_t>(state >> 24);
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

std::filesystem::path writeSceneFrame(const std::filesystem::path& folder, PictureSize size)
{
    season_sample::SeasonOptions options;
    options.width = size.width;
    options.height = size.height;
    options.frames = 1;
    const auto paths = season_sample::writeSeason(folder / ("scene-" + size.name()), options);
    return paths.front();
}

std::optional<TiffResult> measureTiff(const std::filesystem::path& folder, const std::filesystem::path& frame, int runs)
{
    const auto raw = folder / "ndvi.raw";
    const auto ours = folder / "ours.tif";
    const auto gdal = folder / "gdal.tif";
    const auto errors = folder / "tiff.err";

    // The raster GDAL starts from, written once with its ENVI header.
    auto rawArgs = ndviArgs(frame, raw);
    rawArgs.push_back("--envi-header");
    auto oursArgs = ndviArgs(frame, ours);
    oursArgs.push_back("--tiff");
    const auto gdalArgs = gdalTiffArgs(raw, gdal);
    const auto runOurs = [&] {
        std::filesystem::remove(ours);
        return runTimed(oursArgs, errors);
    };
    const auto runGdal = [&] {
        std::filesystem::remove(gdal);
        return runTimed(gdalArgs, errors);
    };

    TiffResult r;
    // The warm-up, which also checks what both wrote.
    if (!runTimed(rawArgs, errors) || !runOurs() || !runGdal()) return std::nullopt;
    r.oursBytes = std::filesystem::file_size(ours);
    r.gdalBytes = std::filesystem::file_size(gdal);
    r.sameValues = gdalReadsSame(ours, raw, folder, errors) && gdalReadsSame(gdal, raw, folder, errors);

    std::vector<double> oursTimes, gdalTimes, ratios;
    for (int run = 0; run < runs; ++run) {
        std::optional<double> a, b;
        if (run % 2 == 0) {
            a = runOurs();
            b = runGdal();
        } else {
            b = runGdal();
            a = runOurs();
        }
        if (!a || !b) return std::nullopt;
        oursTimes.push_back(*a);
        gdalTimes.push_back(*b);
        ratios.push_back(*a / *b);
    }
    for (const auto& p : {raw, folder / "ndvi.hdr", ours, gdal, errors}) std::filesystem::remove(p);
    r.ours = median(oursTimes);
    r.gdal = median(gdalTimes);
    r.ratio = median(ratios);
    return r;
}

std::optional<std::string> checkOddTiffs(const std::filesystem::path& folder)
{
    struct Odd {
        std::int32_t width, height;
        bool topDown;
    };
    constexpr Odd kOdd[] = {{1, 1, false}, {1, 5000, false}, {3, 7, false}, {40000, 20, false}, {5, 4, true}};
    const auto picture = folder / "odd.bmp";
    const auto raw = folder / "odd.raw";
    const auto tiff = folder / "odd.tif";
    const auto errors = folder / "odd.err";
    std::optional<std::string> problem;
    for (const Odd& odd : kOdd) {
        writeOddPicture(picture, odd.width, odd.height, odd.topDown);
        auto tiffArgs = ndviArgs(picture, tiff);
        tiffArgs.push_back("--tiff");
        const bool same = runTimed(ndviArgs(picture, raw), errors) && runTimed(tiffArgs, errors)
            && gdalReadsSame(tiff, raw, folder, errors);
        if (!same) {
            problem = std::to_string(odd.width) + "x" + std::to_string(odd.height) + (odd.topDown ? " top-down" : "");
            break;
        }
    }
    for (const auto& p : {picture, raw, tiff, errors}) std::filesystem::remove(p);
    return problem;
}

std::optional<ProcessResult> measureProcess(Operation op, const std::filesystem::path& folder,
                                            const std::filesystem::path& frame, PictureSize size, int runs)
{
    const std::int64_t width = size.width;
    const std::int64_t height = size.height;
    const auto output = folder / (op == Operation::Ndvi ? "process.raw" : "process.bmp");
    const auto floorOutput = folder / "process-floor.out";
    const auto errors = folder / "process.err";

    std::vector<std::string> batchArgs;
    const std::string program = besideThisProgram("zrvimage-batch").string();
    switch (op) {
    case Operation::Crop: batchArgs = {program, "crop", frame.string(), "-o", output.string(), "--force"}; break;
    case Operation::Maxima:
        batchArgs = {program, "maxima", frame.string(), "--rect",
                     "0,0," + std::to_string(width - 1) + "," + std::to_string(height - 1)};
        break;
    case Operation::Ndvi: batchArgs = ndviArgs(frame, output); break;
    }
    const std::vector<std::string> floorArgs = {besideThisProgram("zrv_bench_floor").string(), frame.string(),
                                                floorOutput.string(), std::to_string(outputBytes(op, width, height))};
    const auto runBatch = [&] {
        std::filesystem::remove(output);
        return runTimed(batchArgs, errors);
    };
    const auto runFloorProcess = [&] {
        std::filesystem::remove(floorOutput);
        return runTimed(floorArgs, errors);
    };

    if (!runFloorProcess() || !runBatch()) return std::nullopt;  // the warm-up
    std::vector<double> floors, batches, ratios;
    for (int run = 0; run < runs; ++run) {
        std::optional<double> f, b;
        if (run % 2 == 0) {
            f = runFloorProcess();
            b = runBatch();
        } else {
            b = runBatch();
            f = runFloorProcess();
        }
        if (!f || !b) return std::nullopt;
        floors.push_back(*f);
        batches.push_back(*b);
        ratios.push_back(*b / *f);
    }
    for (const auto& p : {output, floorOutput, errors}) std::filesystem::remove(p);
    return ProcessResult{median(floors), median(batches), median(ratios)};
}

std::optional<ProcessResult> measureFiles(Operation op, const std::filesystem::path& folder,
                                          const std::filesystem::path& frame, PictureSize size, int files, int runs)
{
    const auto inputs = folder / "files-in";
    const auto outputs = folder / "files-out";
    const auto floorOutputs = folder / "files-floor";
    const auto errors = folder / "files.err";
    struct Cleanup {
        std::vector<std::filesystem::path> paths;
        ~Cleanup()
        {
            std::error_code ignored;
            for (const auto& p : paths) std::filesystem::remove_all(p, ignored);
        }
    } cleanup{{inputs, outputs, floorOutputs, errors}};
    std::filesystem::create_directories(inputs);

    const std::string program = besideThisProgram("zrvimage-batch").string();
    std::vector<std::string> batchArgs = {program, op == Operation::Ndvi ? "ndvi" : "crop"};
    std::vector<std::string> floorArgs = {besideThisProgram("zrv_bench_floor").string()};
    const std::string bytes = std::to_string(outputBytes(op, size.width, size.height));
    for (int i = 0; i < files; ++i) {
        const auto input = inputs / ("frame" + std::to_string(i) + ".bmp");
        std::filesystem::copy_file(frame, input);
        batchArgs.push_back(input.string());
        floorArgs.insert(floorArgs.end(), {input.string(), (floorOutputs / input.filename()).string(), bytes});
    }
    if (op == Operation::Ndvi) batchArgs.insert(batchArgs.end(), {"--nir-white", kWhite, "--red-white", kWhite});
    batchArgs.insert(batchArgs.end(), {"--out-dir", outputs.string(), "--force"});

    const auto fresh = [](const std::filesystem::path& p) {
        std::filesystem::remove_all(p);
        std::filesystem::create_directories(p);
    };
    const auto runBatch = [&] {
        fresh(outputs);
        return runTimed(batchArgs, errors);
    };
    const auto runFloorProcess = [&] {
        fresh(floorOutputs);
        return runTimed(floorArgs, errors);
    };
    if (!runFloorProcess() || !runBatch()) return std::nullopt;  // the warm-up
    const auto made = std::distance(std::filesystem::directory_iterator(outputs), std::filesystem::directory_iterator{});
    if (made != files) {
        std::fprintf(stderr, "zrvimage-batch made %td files in %s, not %d\n", made, outputs.c_str(), files);
        return std::nullopt;
    }
    std::vector<double> floors, batches, ratios;
    for (int run = 0; run < runs; ++run) {
        std::optional<double> f, b;
        if (run % 2 == 0) {
            f = runFloorProcess();
            b = runBatch();
        } else {
            b = runBatch();
            f = runFloorProcess();
        }
        if (!f || !b) return std::nullopt;
        floors.push_back(*f);
        batches.push_back(*b);
        ratios.push_back(*b / *f);
    }
    return ProcessResult{median(floors), median(batches), median(ratios)};
}

}  // namespace bench

#include "FlatFieldRow.h"

#include "Floor.h"
#include "batch/CommandLine.h"
#include "batch/FileRun.h"
#include "batch/OutputPlan.h"
#include "engine/calibration/FlatField.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One file through zrvimage-batch's parser and per-file run; seconds, negative when it
// failed.
class NdviRun {
public:
    explicit NdviRun(const std::vector<std::string>& args)
    {
        const batch::ParseResult parsed = batch::parseCommandLine(args);
        if (const auto* options = std::get_if<batch::Options>(&parsed)) options_ = *options;
        const auto jobs = batch::planJobs(options_);
        if (jobs.size() == 1) job_ = jobs.front();
    }

    double run()
    {
        std::filesystem::remove(job_.output);
        std::string messages;
        const double start = now();
        const auto outcome = batch::runFile(options_, job_, [&](const std::string& text) { messages += text; });
        const double seconds = now() - start;
        if (!outcome.succeeded) {
            std::fprintf(stderr, "zrvimage-batch: %s\n", messages.c_str());
            return -1;
        }
        return seconds;
    }

private:
    batch::Options options_;
    batch::FileJob job_;
};

}  // namespace

std::optional<FlatFieldResult> measureFlatField(const std::filesystem::path& folder, PictureSize picture, int runs)
{
    const auto input = folder / ("flat-" + picture.name() + ".bmp");
    const auto flat = folder / "flat.tif";
    const auto output = folder / "ndvi.raw";
    const auto floorOutput = folder / "floor.out";
    writePicture(input, picture);
    // A lens's fall-off of about the camera's: the corners near half the centre's gain.
    engine::FlatFieldModel model;
    model.width = picture.width;
    model.height = picture.height;
    model.nir = {picture.width * 0.52, picture.height * 0.48, -0.8, 0.35, -0.08, 1, 3.5f};
    model.red = {picture.width * 0.47, picture.height * 0.51, -0.5, 0.15, -0.03, 1, 2.25f};
    engine::writeFlatField(flat.string(), model);

    const std::vector<std::string> plainArgs{"ndvi", input.string(), "--nir-white", "255", "--red-white", "255",
                                             "--force", "-o", output.string()};
    std::vector<std::string> correctedArgs = plainArgs;
    correctedArgs.insert(correctedArgs.end(), {"--flatfield", flat.string()});
    NdviRun plain(plainArgs);
    NdviRun corrected(correctedArgs);
    const std::int64_t bytes = outputBytes(Operation::Ndvi, picture.width, picture.height);
    const auto floor = [&] {
        std::filesystem::remove(floorOutput);
        return runFloor(input, floorOutput, bytes, true);
    };

    std::optional<FlatFieldResult> result;
    if (plain.run() >= 0 && corrected.run() >= 0) {
        std::vector<double> floors, plains, correcteds, plainRatios, correctedRatios;
        bool ok = true;
        for (int run = 0; run < runs && ok; ++run) {
            const double f = floor();
            double p = 0, c = 0;
            // In turns first, so that neither always runs on a cache the other warmed.
            if (run % 2 == 0) {
                p = plain.run();
                c = corrected.run();
            } else {
                c = corrected.run();
                p = plain.run();
            }
            ok = p >= 0 && c >= 0;
            floors.push_back(f);
            plains.push_back(p);
            correcteds.push_back(c);
            plainRatios.push_back(p / f);
            correctedRatios.push_back(c / f);
        }
        if (ok) {
            result = FlatFieldResult{median(floors), median(plains), median(correcteds), median(plainRatios),
                                     median(correctedRatios)};
        }
    }
    for (const auto& path : {input, flat, output, floorOutput}) std::filesystem::remove(path);
    return result;
}

}  // namespace bench

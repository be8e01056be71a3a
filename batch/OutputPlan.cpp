#include "batch/OutputPlan.h"

#include "engine/platform/Platform.h"
#include "window/OperationSteps.h"

#include <filesystem>
#include <map>
#include <set>
#include <utility>

namespace batch {

namespace fs = std::filesystem;

namespace {

std::string inDir(const std::string& dir, const std::string& input, const char* extension)
{
    return engine::platform::utf8Of(engine::platform::pathOf(dir) / engine::platform::pathOf(input).stem()) + extension;
}

std::vector<const std::string*> outputsOf(const FileJob& job)
{
    std::vector<const std::string*> outputs;
    for (const std::string* path : {&job.output, &job.header, &job.preview}) {
        if (!path->empty()) outputs.push_back(path);
    }
    return outputs;
}


}  // namespace

std::vector<FileJob> planJobs(const Options& options)
{
    std::vector<FileJob> jobs;
    for (const auto& input : options.inputs) {
        FileJob job;
        job.input = input;
        if (options.command != Command::Maxima) {
            const char* extension = options.command == Command::Crop ? ".bmp" : options.tiff ? ".tif" : ".raw";
            job.output = options.output ? *options.output : inDir(*options.outDir, input, extension);
        }
        if (options.command == Command::Ndvi) {
            if (options.enviHeader) job.header = engine::platform::utf8Of(engine::platform::pathOf(job.output).replace_extension(".hdr"));
            if (options.preview) job.preview = *options.preview;
            if (options.previewDir) job.preview = inDir(*options.previewDir, input, ".png");
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::optional<std::string> findConflict(const std::vector<FileJob>& jobs)
{
    std::set<engine::platform::FileIdentity> inputs;
    for (const auto& job : jobs) {
        if (auto id = engine::platform::identityOf(job.input)) inputs.insert(*id);
    }
    std::set<fs::path> written;
    for (const auto& job : jobs) {
        for (const std::string* output : outputsOf(job)) {
            const fs::path normal = fs::absolute(engine::platform::pathOf(*output)).lexically_normal();
            if (!written.insert(normal).second) return "出力ファイル名が重複しています: " + *output;
            const auto id = engine::platform::identityOf(*output);
            if (id && inputs.count(*id)) return std::string(engine::kOutputIsInput) + ": " + *output;
        }
    }
    return std::nullopt;
}

std::vector<std::string> existingOutputs(const std::vector<FileJob>& jobs)
{
    std::vector<std::string> existing;
    for (const auto& job : jobs) {
        for (const std::string* output : outputsOf(job)) {
            std::error_code ec;
            if (fs::exists(fs::symlink_status(engine::platform::pathOf(*output), ec))) existing.push_back(*output);
        }
    }
    return existing;
}

}  // namespace batch

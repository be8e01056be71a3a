#include "batch/OutputPlan.h"

#include "window/OperationSteps.h"

#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace batch {

namespace fs = std::filesystem;

namespace {

std::string inDir(const std::string& dir, const std::string& input, const char* extension)
{
    return (fs::path(dir) / fs::path(input).stem()).string() + extension;
}

std::vector<const std::string*> outputsOf(const FileJob& job)
{
    std::vector<const std::string*> outputs;
    for (const std::string* path : {&job.output, &job.header, &job.preview}) {
        if (!path->empty()) outputs.push_back(path);
    }
    return outputs;
}

std::optional<std::pair<dev_t, ino_t>> fileIdentity(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
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
            if (options.enviHeader) job.header = fs::path(job.output).replace_extension(".hdr").string();
            if (options.preview) job.preview = *options.preview;
            if (options.previewDir) job.preview = inDir(*options.previewDir, input, ".png");
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::optional<std::string> findConflict(const std::vector<FileJob>& jobs)
{
    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const auto& job : jobs) {
        if (auto id = fileIdentity(job.input)) inputs.insert(*id);
    }
    std::set<fs::path> written;
    for (const auto& job : jobs) {
        for (const std::string* output : outputsOf(job)) {
            const fs::path normal = fs::absolute(*output).lexically_normal();
            if (!written.insert(normal).second) return "出力ファイル名が重複しています: " + *output;
            const auto id = fileIdentity(*output);
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
            if (fs::exists(fs::symlink_status(*output, ec))) existing.push_back(*output);
        }
    }
    return existing;
}

}  // namespace batch

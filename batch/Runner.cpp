#include "batch/Runner.h"

#include "batch/Anchor.h"
#include "batch/Calibrate.h"
#include "batch/CommandLine.h"
#include "batch/Console.h"
#include "batch/FileRun.h"
#include "batch/FlatFieldCommand.h"
#include "batch/OutputPlan.h"
#include "batch/Phenology.h"
#include "batch/Series.h"
#include "batch/TagSheet.h"
#include "batch/Tidy.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";

bool isSet(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

// Runs every job, each on whichever thread is free next, until interrupted. Each
// worker places a file (fsync, rename, fsync of the folder: mostly waiting for the
// disk) on a thread of its own while it reads and computes its next file; the file is
// done once placed. One file a worker at most waits to be placed, so the files
// staged at once stay few.
void runAll(const Options& options, const std::vector<FileJob>& jobs, Console& console,
            const std::atomic<bool>* interrupted)
{
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        // The file being placed; the worker's own until the placing thread starts.
        ComputedFile pending;
        std::size_t pendingIndex = 0;
        const auto place = [&] {
            const FileJob& job = jobs[pendingIndex];
            const FileOutcome outcome =
                placeFile(std::move(pending), [&](const std::string& text) { console.message(job.input, text); });
            console.fileDone(pendingIndex, outcome.succeeded, outcome.line);
        };
        std::jthread placing;
        for (std::size_t i; !isSet(interrupted) && (i = next++) < jobs.size();) {
            const FileJob& job = jobs[i];
            ComputedFile file =
                computeFile(options, job, [&](const std::string& text) { console.message(job.input, text); }, interrupted);
            if (placing.joinable()) placing.join();
            pending = std::move(file);
            pendingIndex = i;
            try {
                placing = std::jthread(place);
            } catch (const std::system_error&) {
                place();  // no thread to spare: placed here
            }
        }
    };
    std::vector<std::jthread> pool;
    try {
        const std::size_t workers = workerCount(options.jobs, jobs.size(), std::thread::hardware_concurrency());
        for (std::size_t t = 0; t < workers; ++t) pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Fewer threads than asked for; the ones running take every job.
    }
    if (pool.empty()) worker();
}

}  // namespace

int badUsage(std::ostream& err, const std::string& message)
{
    err << kProgram << message << "\n使い方は zrvimage-batch --help で表示します。\n";
    return kBadUsage;
}

std::size_t workerCount(int jobs, std::size_t files, unsigned cores) noexcept
{
    const std::size_t asked = jobs > 0 ? static_cast<std::size_t>(jobs) : cores;
    return std::clamp<std::size_t>(std::min({asked, files, kMaxWorkers}), 1, kMaxWorkers);
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal,
        const std::atomic<bool>* interrupted)
{
    // tidy takes folders and no options but help.
    if (!args.empty() && args[0] == "tidy" &&
        std::none_of(args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; })) {
        std::vector<std::string> folders(args.begin() + 1, args.end());
        if (!folders.empty() && folders.front() == "--") folders.erase(folders.begin());
        return runTidy(folders, out, err);
    }
    const ParseResult parsed = parseCommandLine(args);
    if (std::holds_alternative<HelpRequest>(parsed)) {
        out << helpText();
        return kAllSucceeded;
    }
    if (const auto* error = std::get_if<UsageError>(&parsed)) return badUsage(err, error->message);
    const Options& options = std::get<Options>(parsed);
    if (options.command == Command::Calibrate) {
        std::error_code ec;
        if (!options.force && std::filesystem::exists(std::filesystem::symlink_status(engine::platform::pathOf(*options.output), ec))) {
            err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
            err << "  " << *options.output << '\n';
            return kBadUsage;
        }
        return runCalibrate(options, out, err, std::time(nullptr));
    }

    if (options.command == Command::Anchor) return runAnchor(options, out, err);
    if (options.command == Command::Tags) return runTags(options, out, err);
    if (options.command == Command::Series) return runSeries(options, out, err, errIsTerminal, interrupted);
    if (options.command == Command::FlatField) return runFlatField(options, out, err, interrupted);
    if (options.command == Command::Phenology) return runPhenology(options, out, err, interrupted);

    const std::vector<FileJob> jobs = planJobs(options);
    if (const auto conflict = findConflict(jobs)) return badUsage(err, *conflict);
    if (!options.force) {
        const auto existing = existingOutputs(jobs);
        if (!existing.empty()) {
            err << kProgram << "出力ファイルが既にあります。上書きするには --force を指定してください:\n";
            for (const auto& path : existing) err << "  " << path << '\n';
            return kBadUsage;
        }
    }
    for (const auto& dir : {options.outDir, options.previewDir}) {
        std::error_code ec;
        if (dir && !std::filesystem::is_directory(engine::platform::pathOf(*dir)) &&
            !std::filesystem::create_directories(engine::platform::pathOf(*dir), ec)) {
            return badUsage(err, "出力フォルダを作成できません: " + *dir);
        }
    }

    Console console(out, err, errIsTerminal, jobs.size());
    runAll(options, jobs, console, interrupted);
    console.finish();
    if (isSet(interrupted)) {
        err << kProgram << "中断しました\n";
        return kInterrupted;
    }

    const auto failed = console.failed();
    if (failed.empty()) return kAllSucceeded;
    err << kProgram << "失敗したファイル " << failed.size() << "/" << jobs.size() << ":";
    for (const std::size_t i : failed) err << ' ' << jobs[i].input;
    err << '\n';
    return kSomeFailed;
}

}  // namespace batch

#include "batch/Runner.h"

#include "batch/CommandLine.h"
#include "batch/Console.h"
#include "batch/FileRun.h"
#include "batch/OutputPlan.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

namespace batch {

namespace {

constexpr const char* kProgram = "zrvimage-batch: ";

int badUsage(std::ostream& err, const std::string& message)
{
    err << kProgram << message << "\n使い方は zrvimage-batch --help で表示します。\n";
    return kBadUsage;
}

std::size_t threadCount(const Options& options, std::size_t files)
{
    std::size_t n = options.jobs > 0 ? static_cast<std::size_t>(options.jobs) : std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(n, 1, std::max<std::size_t>(files, 1));
}

// Runs every job, each on whichever thread is free next.
void runAll(const Options& options, const std::vector<FileJob>& jobs, Console& console)
{
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            const FileJob& job = jobs[i];
            const FileOutcome outcome =
                runFile(options, job, [&](const std::string& text) { console.message(job.input, text); });
            console.fileDone(i, outcome.succeeded, outcome.line);
        }
    };
    std::vector<std::jthread> pool;
    try {
        for (std::size_t t = 0; t < threadCount(options, jobs.size()); ++t) pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Fewer threads than asked for; the ones running take every job.
    }
    if (pool.empty()) worker();
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    const ParseResult parsed = parseCommandLine(args);
    if (std::holds_alternative<HelpRequest>(parsed)) {
        out << helpText();
        return kAllSucceeded;
    }
    if (const auto* error = std::get_if<UsageError>(&parsed)) return badUsage(err, error->message);
    const Options& options = std::get<Options>(parsed);

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
        if (dir && !std::filesystem::is_directory(*dir) && !std::filesystem::create_directories(*dir, ec)) {
            return badUsage(err, "出力フォルダを作成できません: " + *dir);
        }
    }

    Console console(out, err, errIsTerminal, jobs.size());
    runAll(options, jobs, console);
    console.finish();

    const auto failed = console.failed();
    if (failed.empty()) return kAllSucceeded;
    err << kProgram << "失敗したファイル " << failed.size() << "/" << jobs.size() << ":";
    for (const std::size_t i : failed) err << ' ' << jobs[i].input;
    err << '\n';
    return kSomeFailed;
}

}  // namespace batch

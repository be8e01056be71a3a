#pragma once
// The whole batch: command line, output plan, the files in parallel, the summary.

#include <atomic>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace batch {

// Exit statuses.
inline constexpr int kAllSucceeded = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kBadUsage = 2;  // also: outputs exist and --force is missing
inline constexpr int kInterrupted = 130;  // the shell's status for a run ended by Ctrl-C

// More files at once than this only add threads, memory and seeks.
inline constexpr std::size_t kMaxWorkers = 64;

// Files run at once: jobs (-j), or one per core when jobs is 0; at least 1, never
// more than there are files, nor more than kMaxWorkers.
std::size_t workerCount(int jobs, std::size_t files, unsigned cores) noexcept;

// Writes the bad-usage message (the program's name, the text, where help is) and
// returns kBadUsage.
int badUsage(std::ostream& err, const std::string& message);

// args are the arguments after the program name. Results go to out, messages and
// the progress line (only when err is a terminal) to err. Once interrupted is set no
// further file starts and the running ones stop at their next row, their outputs as
// they were; the result is then kInterrupted.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal,
        const std::atomic<bool>* interrupted = nullptr);

}  // namespace batch

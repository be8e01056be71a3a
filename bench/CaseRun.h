#pragma once
// One case of the benchmark, an operation on one picture, measured in a process of its
// own so that its peak memory is its own.

#include "Floor.h"

#include <filesystem>
#include <optional>
#include <string>

namespace bench {

struct CaseResult {
    Seconds operation;        // medians over the timed runs, each clock on its own
    Seconds floor;
    double longestGapMs = 0;      // the worst over the timed runs
    double peakMiB = 0;           // highest resident memory during the timed runs
    double idleMiB = 0;           // resident memory before them, the window already up
};

// The arguments that make this program run one case (see runCaseProcess).
inline constexpr const char* kCaseFlag = "--case";

// Runs the case in a child process (this same program with kCaseFlag) and reads
// back what it measured; nothing when the child failed.
std::optional<CaseResult> measureCase(Operation op, const std::filesystem::path& input,
                                      const std::filesystem::path& folder, int runs);

// The child's side: argv is this program, kCaseFlag, the operation, the picture, the
// folder for outputs and the number of timed runs. Starts the real window on the
// offscreen platform, runs one untimed warm-up and then the timed runs, each the
// floor first and then the operation by a click on its button with the dialogs
// answered, and prints one line of results. Returns the process status.
int runCaseProcess(int argc, char** argv);

}  // namespace bench

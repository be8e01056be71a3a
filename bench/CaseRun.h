#pragma once
// One case of the benchmark, an operation on one picture, measured in a process of its
// own so that its memory is its own: the floor, the window and zrvimage-batch's
// per-file run, in turn, several times over.

#include "Floor.h"

#include <filesystem>
#include <optional>

namespace bench {

struct CaseResult {
    // Medians over the timed runs, in seconds.
    double floor = 0;
    double durableFloor = 0;  // the floor with its output fsynced: the batch's yardstick
    double window = 0;
    double batch = 0;
    // Medians of the ratios within each timed run: each run's floor, window and batch
    // ran back to back, so a load that comes and goes moves all three together.
    double windowRatio = 0;  // window / floor
    double batchRatio = 0;   // batch / durable floor
    // windowRatio / batchRatio: each front end against the floor of what it promises
    // (the window writes to the chosen name as designed, the batch makes every file
    // durable before it is put in place).
    double windowToBatch = 0;
    double longestGapMs = 0;  // the window's worst over the timed runs
    double windowEvents = 0;  // median seconds the window's run spent handling events
    // Highest resident memory of the process during the window's and during the
    // batch's timed runs, and the most either run added to what was resident before it.
    double windowPeakMiB = 0;
    double windowAddedMiB = 0;
    double batchPeakMiB = 0;
    double batchAddedMiB = 0;
};

// The argument that makes this program run one case (see runCaseProcess).
inline constexpr const char* kCaseFlag = "--case";

// Runs the case in a child process (this same program with kCaseFlag) and reads
// back what it measured; nothing when the child failed.
std::optional<CaseResult> measureCase(Operation op, const std::filesystem::path& input,
                                      const std::filesystem::path& folder, int runs);

// The child's side: argv is this program, kCaseFlag, the operation, the picture, the
// folder for outputs and the number of timed runs. Starts the real window on the
// offscreen platform and runs one untimed warm-up (which also checks that the window
// and the batch wrote the same bytes), then the timed runs: each the floor, then the
// window's operation by a click on its button with its dialogs answered, and
// zrvimage-batch's per-file run on the same picture, these two in turns first. Prints
// one line of results. Returns the process status.
int runCaseProcess(int argc, char** argv);

}  // namespace bench

#pragma once
// One input file of a batch, start to end, on the engine: the picture opened and
// checked once, the operation run, and for the NDVI raster its header, preview and
// statistics made from the rows as they are computed. Outputs reach their final
// names only when the whole file succeeded.

#include "batch/CommandLine.h"
#include "batch/OutputPlan.h"

#include <atomic>
#include <functional>
#include <string>

namespace batch {

struct FileOutcome {
    bool succeeded = false;
    std::string line;  // for standard output; may be empty
};

// Every message about the file goes to onMessage, without the path. Never throws for
// anything the file or the operation does. When cancel is set the run stops at its
// next row and the file fails without a message, its outputs as they were.
FileOutcome runFile(const Options& options, const FileJob& job, const std::function<void(const std::string&)>& onMessage,
                    const std::atomic<bool>* cancel = nullptr);

}  // namespace batch

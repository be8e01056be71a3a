#pragma once
// One input file of a batch, start to end: the window's operation driven by batch
// services, then for the NDVI raster its header, preview and statistics.

#include "batch/CommandLine.h"
#include "batch/OutputPlan.h"

#include <functional>
#include <string>

namespace batch {

struct FileOutcome {
    bool succeeded = false;
    std::string line;  // for standard output; may be empty
};

// Every message about the file goes to onMessage, without the path. Never throws for
// anything the file or the operation does.
FileOutcome runFile(const Options& options, const FileJob& job, const std::function<void(const std::string&)>& onMessage);

}  // namespace batch

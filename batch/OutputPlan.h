#pragma once
// Which files each input gives, worked out and checked before any work starts.

#include "batch/CommandLine.h"

#include <optional>
#include <string>
#include <vector>

namespace batch {

struct FileJob {
    std::string input;
    std::string output;   // the operation's output; empty for maxima
    std::string header;   // the ENVI header beside the raster, when asked for
    std::string preview;  // the preview PNG, when asked for
};

// One job per input. --out-dir names outputs after their inputs (frame01.bmp gives
// frame01.bmp for crop, frame01.raw for ndvi, frame01.tif with --tiff); the header
// takes the raster's name with the extension .hdr.
std::vector<FileJob> planJobs(const Options& options);

// Bad usage the plan shows: two jobs writing one file, or an output that is one of
// the inputs. The text names the file.
std::optional<std::string> findConflict(const std::vector<FileJob>& jobs);

// Every planned output that exists already, in job order.
std::vector<std::string> existingOutputs(const std::vector<FileJob>& jobs);

}  // namespace batch

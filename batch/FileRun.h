#pragma once
// One input file of a batch, start to end, on the engine: the picture opened and
// checked once, the operation run, and for the NDVI raster its header, preview and
// statistics made from the rows as they are computed. Outputs reach their final
// names only when the whole file succeeded.

#include "batch/CommandLine.h"
#include "batch/OutputPlan.h"

#include <atomic>
#include <functional>
#include <memory>
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

struct FileOutputs;

// runFile in two steps, so that a batch can place one file (its fsync, its renames,
// the fsync of its folder) while it reads and computes the next: computeFile does all
// but the placing, placeFile places what it wrote and tells the outcome. A file is
// done only once placed. Neither throws for anything the file does.
class ComputedFile {
public:
    ComputedFile();
    ComputedFile(ComputedFile&&) noexcept;
    ComputedFile& operator=(ComputedFile&&) noexcept;
    ~ComputedFile();  // unplaced outputs are removed

private:
    friend ComputedFile computeFile(const Options&, const FileJob&, const std::function<void(const std::string&)>&,
                                    const std::atomic<bool>*);
    friend FileOutcome placeFile(ComputedFile, const std::function<void(const std::string&)>&);
    std::unique_ptr<FileOutputs> outputs_;  // none once the file has failed
    std::string line_;
};

ComputedFile computeFile(const Options& options, const FileJob& job,
                         const std::function<void(const std::string&)>& onMessage,
                         const std::atomic<bool>* cancel = nullptr);
FileOutcome placeFile(ComputedFile file, const std::function<void(const std::string&)>& onMessage);

}  // namespace batch

#pragma once
// The one way a front end writes a file the user asked for: whole or not at all.
//
// Each new file is written under a temporary name in its final folder (same file
// system, so the rename is atomic); every write, flush and close is checked; the file
// is fsynced, renamed over its final name, and the folder is fsynced. Files that belong
// together (a raster and its header) are placed as a group: when a later rename fails,
// the earlier ones are undone, so the group ends all new or all old. A failure is an
// EngineError naming the final path, with the system's reason; no temporary is left
// behind. A process killed meanwhile leaves a journal and temporaries that the next
// writer into the folder, or `zrvimage-batch tidy`, puts right (OutputJournal.h).
//
// The designed window's three outputs do not come this way: they write to the chosen
// name as designed (OutputFile::create).

#include "engine/platform/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace engine {

// What an output must never overwrite: the file being read, under any of its names
// (the picture reader is one).
class OutputSource {
public:
    virtual bool isSameFile(const std::string& path) const = 0;

protected:
    ~OutputSource() = default;
};

// One file being written under its temporary name.
class StagedFile {
public:
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();  // removes the temporary unless it was placed

    const std::string& finalPath() const noexcept { return final_; }
    const std::string& temporaryPath() const noexcept { return temporary_; }
    // The temporary's descriptor, open for reading and writing, positioned at 0.
    int fd() const noexcept { return fd_; }

    // Appends bytes at the current position; throws EngineError(WriteFailed, final).
    void write(const void* data, std::size_t bytes);
    void write(std::span<const std::uint8_t> bytes) { write(bytes.data(), bytes.size()); }

    // The first failure of a writer that uses fd() directly (the block writer, the
    // TIFF writer): the group will not be placed.
    void markFailed() noexcept { failed_ = true; }
    bool failed() const noexcept { return failed_; }

private:
    friend class OutputGroup;
    StagedFile(std::string finalPath, std::string temporary, int fd);
    std::string final_;
    std::string temporary_;
    int fd_ = -1;
    bool failed_ = false;
    int error_ = 0;  // the errno of the failure, when it was a call's
    bool placed_ = false;
};

class FolderHold;

// Files that are placed together, or alone: a group of one.
class OutputGroup {
public:
    OutputGroup();
    ~OutputGroup();  // removes every temporary not placed; never throws
    OutputGroup(const OutputGroup&) = delete;
    OutputGroup& operator=(const OutputGroup&) = delete;

    // Creates the temporary for finalPath. Throws EngineError: OutputIsInput when
    // finalPath is input's file under any name, CannotCreateOutput when the temporary
    // cannot be made or finalPath is a folder.
    StagedFile& add(const std::string& finalPath, const OutputSource* input = nullptr);

    // fsyncs and closes every file, renames each over its final name (undoing the
    // earlier ones when one fails), and fsyncs the folders. Throws EngineError
    // (WriteFailed or CannotCreateOutput) naming the file at fault; after a throw the
    // final names hold what they held before.
    void commit();

private:
    // Declared first, so destroyed last: the folders stay held until every temporary
    // of the group is gone.
    std::vector<std::unique_ptr<FolderHold>> holds_;
    std::vector<std::string> heldFolders_;
    std::vector<std::unique_ptr<StagedFile>> files_;
};

// A small file written whole in one go: a header, a picture encoded in memory, a table.
void writeWholeFile(const std::string& finalPath, std::span<const std::uint8_t> bytes,
                    const OutputSource* input = nullptr);
void writeWholeFile(const std::string& finalPath, const std::string& text, const OutputSource* input = nullptr);

}  // namespace engine

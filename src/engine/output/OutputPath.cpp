#include "engine/output/OutputPath.h"

#include "engine/output/OutputJournal.h"

#include "engine/platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <set>
#include <utility>

namespace engine {

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned long> nextSerial{0};

// At most bytes bytes of text, never ending inside a character: the name must stay
// UTF-8, which Windows needs to turn it into UTF-16.
std::string cutUtf8(const std::string& text, std::size_t bytes)
{
    if (text.size() <= bytes) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

// ".NAME.OWNER-SERIAL.tmp" in the final name's folder: the same file system, so the
// rename is atomic, and a name no glob for the outputs picks up; OWNER says whose it
// is (OutputJournal.h). NAME is cut so that a long final name still leaves room under
// the usual 255-byte limit.
std::string temporaryName(const std::string& finalPath)
{
    const fs::path final = platform::pathOf(finalPath);
    const std::string name = cutUtf8(platform::utf8Of(final.filename()), 190);
    const std::string tmp = "." + name + "." + outputOwner() + "-" + std::to_string(nextSerial++) + ".tmp";
    return platform::utf8Of(final.parent_path() / platform::pathOf(tmp));
}

std::string folderOf(const std::string& path)
{
    const fs::path parent = platform::pathOf(path).parent_path();
    return parent.empty() ? std::string(".") : platform::utf8Of(parent);
}

bool exchangeUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Where links are refused (FAT and exFAT; on Windows some shares and file systems
// answer access denied), the old file is renamed aside instead.
bool linksUnsupported(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == EACCES;
}

}  // namespace

StagedFile::StagedFile(std::string finalPath, std::string temporary, int fd)
    : final_(std::move(finalPath)), temporary_(std::move(temporary)), fd_(fd)
{
}

StagedFile::~StagedFile()
{
    platform::releaseFile(fd_);
    if (!placed_) platform::removeFile(temporary_);
}

void StagedFile::write(const void* data, std::size_t bytes)
{
    if (failed_ || fd_ < 0) throw EngineError(Failure::WriteFailed, final_, 0, error_);
    const auto* at = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        const std::int64_t n = platform::writeSome(fd_, at, bytes);
        if (n <= 0) {
            failed_ = true;
            error_ = n == 0 ? ENOSPC : errno;
            throw EngineError(Failure::WriteFailed, final_, 0, error_);
        }
        at += n;
        bytes -= static_cast<std::size_t>(n);
    }
}

OutputGroup::OutputGroup() = default;
OutputGroup::~OutputGroup() = default;  // each file removes its own temporary

StagedFile& OutputGroup::add(const std::string& finalPath, const OutputSource* input)
{
    if (input && input->isSameFile(finalPath)) throw EngineError(Failure::OutputIsInput, finalPath);
    // The folder held for this process before any temporary of ours is there, so
    // that nobody's tidy takes them for a dead run's.
    const std::string folder = folderOf(finalPath);
    if (std::find(heldFolders_.begin(), heldFolders_.end(), folder) == heldFolders_.end()) {
        holds_.push_back(std::make_unique<FolderHold>(folder, finalPath));
        heldFolders_.push_back(folder);
    }
    // O_EXCL: never take over a file someone else has.
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string candidate = temporaryName(finalPath);
        const int fd = platform::openFile(candidate, platform::Access::CreateNew);
        if (fd >= 0) {
            files_.push_back(std::unique_ptr<StagedFile>(new StagedFile(finalPath, std::move(candidate), fd)));
            return *files_.back();
        }
        error = errno;
    }
    throw systemFailure(Failure::CannotCreateOutput, finalPath, error);
}

namespace {

// How one file of a group was put under its final name, and how to take it back.
enum class Placed {
    New,        // there was no file: the new one is renamed back to its temporary
    Exchanged,  // the old file now has the temporary name: a second exchange
    LinkedAside, // the old file has a second name, aside: renamed back over the final
    MovedAside   // the old file was renamed aside (no links here): renamed back too
};

struct Placement {
    StagedFile* file;
    Placed how;
    std::string aside;  // LinkedAside, MovedAside: where the old file is kept meanwhile
};

}  // namespace

void OutputGroup::commit()
{
    // A folder under a final name, which no rename replaces, before anything else.
    for (const auto& f : files_) {
        if (platform::isFolder(f->final_)) throw EngineError(Failure::CannotCreateOutput, f->final_, 0, EISDIR);
    }
    // Every byte on the disk before any name points at it: a power cut after the
    // rename must not leave an empty or short file under the final name. What each new
    // file is, for the journal, is read before it is closed.
    std::vector<JournalEntry> entries;
    for (const auto& f : files_) {
        if (f->failed_) throw EngineError(Failure::WriteFailed, f->final_, 0, f->error_);
        const int fd = std::exchange(f->fd_, -1);
        const bool synced = platform::syncFile(fd) == 0;
        int error = synced ? 0 : errno;
        const auto identity = platform::identityOf(fd);
        const bool closed = platform::closeFile(fd) == 0;
        if (synced && !closed) error = errno;
        if (!synced || !closed || !identity) {
            f->failed_ = true;
            f->error_ = error != 0 ? error : EIO;
            throw EngineError(Failure::WriteFailed, f->final_, 0, f->error_);
        }
        entries.push_back({f->final_, f->temporary_, *identity});
    }

    // A group of several files is journalled before its first rename, so that a kill
    // between two renames is finished by the next run; one file alone needs no journal
    // but where its old file must be renamed aside first (a file system without swaps
    // or links), which leaves a moment with no file under the final name.
    std::vector<std::string> journals;
    const auto journal = [&](const std::string& errorPath) {
        if (journals.empty()) journals = writeJournals(entries, errorPath);
    };
    if (files_.size() > 1) journal(files_.front()->final_);

    std::vector<Placement> placed;
    const auto undo = [&] {
        // Back to what the names held, last first. Should a step fail too (the disk
        // gone), the new file stays under its final name, whole, and the old one is
        // kept under its hidden name rather than lost.
        for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
            StagedFile& f = *p->file;
            const std::string& tmp = f.temporary_;
            const std::string& final = f.final_;
            switch (p->how) {
            case Placed::New:
                if (platform::renameFile(final, tmp) != 0) f.placed_ = true;
                break;
            case Placed::Exchanged:
                if (platform::exchangeFiles(tmp, final) != 0) f.placed_ = true;
                break;
            case Placed::LinkedAside:
            case Placed::MovedAside:
                if (platform::renameFile(p->aside, final) != 0) f.placed_ = true;
                break;
            }
        }
        // Undone, or as far as it went: either way no journal is to finish it now.
        bool whole = true;
        for (const auto& p : placed) whole = whole && !p.file->placed_;
        if (whole) removeJournals(journals);
    };
    const auto fail = [&](Failure failure, const std::string& path, int error) {
        undo();
        return EngineError(failure, path, 0, error);
    };

    for (const auto& f : files_) {
        const std::string& tmp = f->temporary_;
        const std::string& final = f->final_;
        if (platform::exchangeFiles(tmp, final) == 0) {
            placed.push_back({f.get(), Placed::Exchanged, {}});
            continue;
        }
        const int error = errno;
        if (error == ENOENT) {
            // No old file (or no temporary, which the rename finds out).
            if (platform::renameFile(tmp, final) != 0) throw fail(Failure::CannotCreateOutput, f->final_, errno);
            placed.push_back({f.get(), Placed::New, {}});
            continue;
        }
        if (!exchangeUnsupported(error)) throw fail(Failure::CannotCreateOutput, f->final_, error);
        // A file system that cannot swap: the old file keeps a second name aside until
        // the group is placed, and is put back from it when the group is not. Where
        // there are no links either (FAT and exFAT drives), it is renamed aside: for a
        // moment the final name is free, but the old file is never lost.
        std::string aside;
        int linked = -1;
        for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
            aside = temporaryName(f->final_);
            linked = platform::linkFile(final, aside);
            if (linked != 0 && errno != EEXIST) break;
        }
        if (linked != 0 && linksUnsupported(errno)) {
            try {
                journal(f->final_);
            } catch (const EngineError&) {
                undo();
                throw;
            }
            if (platform::renameFile(final, aside) != 0) throw fail(Failure::CannotCreateOutput, f->final_, errno);
            if (platform::renameFile(tmp, final) != 0) {
                const int renameError = errno;
                platform::renameFile(aside, final);
                throw fail(Failure::CannotCreateOutput, f->final_, renameError);
            }
            placed.push_back({f.get(), Placed::MovedAside, std::move(aside)});
            continue;
        }
        if (linked != 0) throw fail(Failure::CannotCreateOutput, f->final_, errno);
        if (platform::renameFile(tmp, final) != 0) {
            const int renameError = errno;
            platform::removeFile(aside);
            throw fail(Failure::CannotCreateOutput, f->final_, renameError);
        }
        placed.push_back({f.get(), Placed::LinkedAside, std::move(aside)});
    }

    // The renames on the disk: each folder once.
    std::set<std::string> folders;
    for (const auto& f : files_) folders.insert(folderOf(f->final_));
    for (const auto& folder : folders) {
        if (platform::syncFolder(folder) != 0) {
            const int error = errno;
            for (const auto& f : files_) {
                if (folderOf(f->final_) == folder) throw fail(Failure::WriteFailed, f->final_, error);
            }
        }
    }

    // Placed: the old files go, then the journal, which has nothing left to do.
    for (auto& p : placed) {
        if (!p.aside.empty()) platform::removeFile(p.aside);
        if (p.how == Placed::Exchanged) platform::removeFile(p.file->temporary_);
        p.file->placed_ = true;
    }
    removeJournals(journals);
}

namespace {

void writeWhole(const std::string& finalPath, const void* data, std::size_t bytes, const OutputSource* input)
{
    OutputGroup group;
    group.add(finalPath, input).write(data, bytes);
    group.commit();
}

}  // namespace

void writeWholeFile(const std::string& finalPath, std::span<const std::uint8_t> bytes, const OutputSource* input)
{
    writeWhole(finalPath, bytes.data(), bytes.size(), input);
}

void writeWholeFile(const std::string& finalPath, const std::string& text, const OutputSource* input)
{
    writeWhole(finalPath, text.data(), text.size(), input);
}

}  // namespace engine

#include "engine/OutputPath.h"

#include "engine/PictureReader.h"
#include "engine/Platform.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace engine {

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned long> nextSerial{0};

// ".NAME.PID-SERIAL.tmp" in the final name's folder: the same file system, so the
// rename is atomic, and a name no glob for the outputs picks up. NAME is cut so that
// a long final name still leaves room under the usual 255-byte limit.
std::string temporaryName(const std::string& finalPath)
{
    const fs::path final(finalPath);
    const std::string name = final.filename().string().substr(0, 200);
    const std::string tmp =
        "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(nextSerial++) + ".tmp";
    return (final.parent_path() / tmp).string();
}

std::string folderOf(const std::string& path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exchangeUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

}  // namespace

StagedFile::StagedFile(std::string finalPath, std::string temporary, int fd)
    : final_(std::move(finalPath)), temporary_(std::move(temporary)), fd_(fd)
{
}

StagedFile::~StagedFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(temporary_.c_str());
}

void StagedFile::write(const void* data, std::size_t bytes)
{
    if (failed_ || fd_ < 0) throw EngineError(Failure::WriteFailed, final_);
    const auto* at = static_cast<const std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t n = platform::writeSome(fd_, at, bytes);
        if (n <= 0) {
            failed_ = true;
            throw EngineError(Failure::WriteFailed, final_);
        }
        at += n;
        bytes -= static_cast<std::size_t>(n);
    }
}

OutputGroup::OutputGroup() = default;
OutputGroup::~OutputGroup() = default;  // each file removes its own temporary

StagedFile& OutputGroup::add(const std::string& finalPath, const PictureReader* input)
{
    if (input && input->isSameFile(finalPath)) throw EngineError(Failure::OutputIsInput, finalPath);
    // O_EXCL: never take over a file someone else has, even a stale temporary one
    // from an earlier run that had this process id.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporaryName(finalPath);
        const int fd = platform::openFile(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            files_.push_back(std::unique_ptr<StagedFile>(new StagedFile(finalPath, std::move(candidate), fd)));
            return *files_.back();
        }
        if (errno != EEXIST) break;
    }
    throw EngineError(Failure::CannotCreateOutput, finalPath);
}

namespace {

// How one file of a group was put under its final name, and how to take it back.
enum class Placed {
    New,        // there was no file: the new one is renamed back to its temporary
    Exchanged,  // the old file now has the temporary name: a second exchange
    LinkedAside // the old file has a second name, aside: renamed back over the final
};

struct Placement {
    StagedFile* file;
    Placed how;
    std::string aside;  // LinkedAside: the old file's second name
};

}  // namespace

void OutputGroup::commit()
{
    // A folder under a final name, which no rename replaces, before anything else.
    for (const auto& f : files_) {
        if (isFolder(f->final_)) throw EngineError(Failure::CannotCreateOutput, f->final_);
    }
    // Every byte on the disk before any name points at it: a power cut after the
    // rename must not leave an empty or short file under the final name.
    for (const auto& f : files_) {
        if (f->failed_) throw EngineError(Failure::WriteFailed, f->final_);
        const int fd = std::exchange(f->fd_, -1);
        const bool synced = platform::syncFile(fd) == 0;
        const bool closed = platform::closeFile(fd) == 0;
        if (!synced || !closed) {
            f->failed_ = true;
            throw EngineError(Failure::WriteFailed, f->final_);
        }
    }

    std::vector<Placement> placed;
    const auto undo = [&] {
        // Back to what the names held, last first. Should a step fail too (the disk
        // gone), the new file stays under its final name, whole, and the old one is
        // kept under its hidden name rather than lost.
        for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
            StagedFile& f = *p->file;
            const char* tmp = f.temporary_.c_str();
            const char* final = f.final_.c_str();
            switch (p->how) {
            case Placed::New:
                if (platform::renameFile(final, tmp) != 0) f.placed_ = true;
                break;
            case Placed::Exchanged:
                if (platform::exchangeFiles(tmp, final) != 0) f.placed_ = true;
                break;
            case Placed::LinkedAside:
                if (platform::renameFile(p->aside.c_str(), final) != 0) f.placed_ = true;
                break;
            }
        }
    };
    const auto fail = [&](Failure failure, const std::string& path) {
        undo();
        return EngineError(failure, path);
    };

    for (const auto& f : files_) {
        const char* tmp = f->temporary_.c_str();
        const char* final = f->final_.c_str();
        if (platform::exchangeFiles(tmp, final) == 0) {
            placed.push_back({f.get(), Placed::Exchanged, {}});
            continue;
        }
        const int error = errno;
        if (error == ENOENT) {
            // No old file (or no temporary, which the rename finds out).
            if (platform::renameFile(tmp, final) != 0) throw fail(Failure::CannotCreateOutput, f->final_);
            placed.push_back({f.get(), Placed::New, {}});
            continue;
        }
        if (!exchangeUnsupported(error)) throw fail(Failure::CannotCreateOutput, f->final_);
        // A file system that cannot swap: the old file keeps a second name aside until
        // the group is placed, and is put back from it when the group is not.
        std::string aside;
        int linked = -1;
        for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
            aside = temporaryName(f->final_);
            linked = platform::linkFile(final, aside.c_str());
            if (linked != 0 && errno != EEXIST) break;
        }
        if (linked != 0) throw fail(Failure::CannotCreateOutput, f->final_);
        if (platform::renameFile(tmp, final) != 0) {
            ::unlink(aside.c_str());
            throw fail(Failure::CannotCreateOutput, f->final_);
        }
        placed.push_back({f.get(), Placed::LinkedAside, std::move(aside)});
    }

    // The renames on the disk: each folder once.
    std::set<std::string> folders;
    for (const auto& f : files_) folders.insert(folderOf(f->final_));
    for (const auto& folder : folders) {
        if (platform::syncFolder(folder.c_str()) != 0) {
            for (const auto& f : files_) {
                if (folderOf(f->final_) == folder) throw fail(Failure::WriteFailed, f->final_);
            }
        }
    }

    // Placed: the old files go. An exchanged file's temporary name is its old copy,
    // which its destructor removes.
    for (auto& p : placed) {
        if (p.how == Placed::LinkedAside) ::unlink(p.aside.c_str());
        if (p.how != Placed::Exchanged) p.file->placed_ = true;
    }
}

namespace {

void writeWhole(const std::string& finalPath, const void* data, std::size_t bytes, const PictureReader* input)
{
    OutputGroup group;
    group.add(finalPath, input).write(data, bytes);
    group.commit();
}

}  // namespace

void writeWholeFile(const std::string& finalPath, std::span<const std::uint8_t> bytes, const PictureReader* input)
{
    writeWhole(finalPath, bytes.data(), bytes.size(), input);
}

void writeWholeFile(const std::string& finalPath, const std::string& text, const PictureReader* input)
{
    writeWhole(finalPath, text.data(), text.size(), input);
}

}  // namespace engine

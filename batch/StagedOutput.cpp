#include "batch/StagedOutput.h"

#include "engine/EngineError.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned long> nextSerial{0};

// ".NAME.PID-SERIAL.tmp" in the final name's folder: the same file system, so the
// rename is atomic, and a name no glob for the outputs picks up. NAME is cut so that
// a long final name still leaves room under the usual 255-byte limit.
std::string temporaryName(const std::string& finalPath, unsigned long serial)
{
    const fs::path final(finalPath);
    const std::string name = final.filename().string().substr(0, 200);
    const std::string tmp = "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(serial) + ".tmp";
    return (final.parent_path() / tmp).string();
}

}  // namespace

StagedOutput::StagedOutput(std::string finalPath) : final_(std::move(finalPath))
{
    // O_EXCL: never take over a file someone else has, even a stale temporary one
    // from an earlier run that had this process id.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = temporaryName(final_, nextSerial++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            temporary_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST) break;
    }
    throw engine::EngineError(engine::Failure::CannotCreateOutput, final_);
}

StagedOutput::~StagedOutput()
{
    if (!placed_) ::unlink(temporary_.c_str());
}

void putInPlace(std::span<StagedOutput* const> outputs)
{
    for (const StagedOutput* output : outputs) {
        struct stat st {};
        if (::lstat(output->final_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            throw engine::EngineError(engine::Failure::CannotCreateOutput, output->final_);
        }
    }
    for (StagedOutput* output : outputs) {
        if (::rename(output->temporary_.c_str(), output->final_.c_str()) != 0) {
            throw engine::EngineError(engine::Failure::CannotCreateOutput, output->final_);
        }
        output->placed_ = true;
    }
}

}  // namespace batch

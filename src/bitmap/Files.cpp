#include "bitmap/Files.h"

#include <cstring>
#include <sys/stat.h>

namespace bitmap {

std::optional<InputFile> InputFile::open(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    // A folder opens for reading on this platform but cannot be read as a picture.
    struct stat st {};
    if (::fstat(fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return InputFile(std::move(file));
}

void InputFile::readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size)
{
    std::size_t got = 0;
    if (file_ && offset >= 0 && ::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0) {
        got = std::fread(buffer, 1, size, file_.get());
        std::clearerr(file_.get());
    }
    if (got < size) std::memset(buffer + got, 0, size - got);
}

bool InputFile::isSameFile(const std::string& path) const
{
    struct stat in {};
    struct stat out {};
    if (!file_ || ::fstat(fileno(file_.get()), &in) != 0) return false;
    if (::stat(path.c_str(), &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

std::optional<OutputFile> OutputFile::create(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) return std::nullopt;
    return OutputFile(std::move(file));
}

void OutputFile::writeAt(std::int64_t offset, const void* data, std::size_t size)
{
    if (!file_) return;
    if (::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0
        || std::fwrite(data, 1, size, file_.get()) != size) {
        failed_ = true;
    }
}

bool OutputFile::flush() noexcept
{
    if (file_ && std::fflush(file_.get()) != 0) failed_ = true;
    return !failed_;
}

bool OutputFile::close() noexcept
{
    if (file_ && std::fclose(file_.release()) != 0) failed_ = true;
    return !failed_;
}

}  // namespace bitmap

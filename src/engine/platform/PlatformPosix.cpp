// The platform layer on POSIX: each call retries EINTR, and the calls that can fail a
// user's output go through the test seam.
#include "engine/platform/PlatformSeam.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace engine::platform {

namespace {

template <class Call>
auto retried(Call call)
{
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

// Closes without disturbing errno, for the failure paths.
void closeQuietly(int fd)
{
    const int error = errno;
    ::close(fd);
    errno = error;
}

}  // namespace

int openFile(const std::string& path, Access access)
{
    if (access == Access::Read) {
        const int fd = retried([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
        if (fd < 0) return -1;
        struct stat st {};
        // A folder opens for reading here but cannot be read as a file.
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) errno = EISDIR;
            closeQuietly(fd);
            return -1;
        }
        return fd;
    }
    if (injected(Open)) return -1;
    if (access == Access::CreateNew) {
        return retried([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    }
    // Not O_TRUNC: truncating a file, even an empty one (the batch tool's staged
    // outputs), makes ext4 flush the whole file to disk when it is closed, which cost a
    // 160 MB raster 50 ms more than the write itself.
    const int fd = retried([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666); });
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
        closeQuietly(fd);
        return -1;
    }
    return fd;
}

std::int64_t writeSome(int fd, const void* data, std::size_t bytes)
{
    if (injected(Write)) return -1;
    return retried([&] { return ::write(fd, data, bytes); });
}

std::int64_t writeParts(int fd, const ByteRange* parts, int count)
{
    if (injected(Write)) return -1;
    constexpr int kMost = 16;
    iovec vectors[kMost];
    count = count < kMost ? count : kMost;
    for (int i = 0; i < count; ++i) vectors[i] = {const_cast<void*>(parts[i].data), parts[i].size};
    return retried([&] { return ::writev(fd, vectors, count); });
}

int syncFile(int fd)
{
    if (injected(Sync)) return -1;
    return retried([&] { return ::fsync(fd); });
}

int closeFile(int fd)
{
    // A failed close has still closed the descriptor (Linux), an injected one too,
    // so that a test's faults leak nothing. EINTR is not retried for the same reason:
    // the descriptor is gone and its number may already be someone else's.
    const bool fail = injected(Close);
    const int result = ::close(fd);
    if (fail) return -1;
    if (result != 0 && errno == EINTR) return 0;
    return result;
}

void releaseFile(int fd)
{
    if (fd >= 0) closeQuietly(fd);
}

std::int64_t readAt(int fd, void* data, std::size_t bytes, std::int64_t offset)
{
    return retried([&] { return ::pread(fd, data, bytes, static_cast<off_t>(offset)); });
}

std::int64_t readSome(int fd, void* data, std::size_t bytes)
{
    return retried([&] { return ::read(fd, data, bytes); });
}

std::int64_t seekFile(int fd, std::int64_t offset, int whence)
{
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}

std::int64_t fileSize(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

void adviseSequential(int fd)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::optional<FileIdentity> identityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileIdentity> identityOf(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

Mapping mapFile(int fd, std::int64_t offset, std::size_t bytes)
{
    const auto page = static_cast<std::int64_t>(pageSize());
    if (offset < 0 || bytes == 0) return {};
    const std::int64_t base = offset / page * page;
    const auto length = static_cast<std::size_t>(offset - base) + bytes;
    // Populated at once: one call maps every page instead of a fault per few pages.
    void* m = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(base));
    if (m == MAP_FAILED) return {};
    return {m, length, static_cast<const std::uint8_t*>(m) + (offset - base)};
}

void unmapFile(void* base, std::size_t length)
{
    if (base) ::munmap(base, length);
}

std::size_t pageSize()
{
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

int renameFile(const std::string& from, const std::string& to)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::rename(from.c_str(), to.c_str()); });
}

int exchangeFiles(const std::string& a, const std::string& b)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE); });
}

int linkFile(const std::string& existing, const std::string& newName)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::link(existing.c_str(), newName.c_str()); });
}

int removeFile(const std::string& path)
{
    if (injected(Remove)) return -1;
    return ::unlink(path.c_str());
}

int lockFile(int fd)
{
    return retried([&] { return ::flock(fd, LOCK_EX | LOCK_NB); });
}

int syncFolder(const std::string& folder)
{
    int result = -1;
    if (!injected(Sync)) {
        const int fd = retried([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
        if (fd < 0) return -1;
        result = retried([&] { return ::fsync(fd); });
        closeQuietly(fd);
    }
    // Network shares and some FUSE mounts cannot sync a folder, and say so; their
    // renames are as lasting as they make them. An I/O error still fails.
    if (result != 0 && (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS)) result = 0;
    return result;
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long processId()
{
    return static_cast<long>(::getpid());
}

bool processRunning(long pid)
{
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void crashNow() noexcept
{
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);  // not reached
}

bool utcCalendar(std::time_t time, std::tm& out)
{
    return ::gmtime_r(&time, &out) != nullptr;
}

bool modifiedLocalCalendar(const std::string& path, std::tm& out)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && ::localtime_r(&st.st_mtime, &out) != nullptr;
}

}  // namespace engine::platform

// The platform layer on POSIX: each call retries EINTR and goes through the test seam.
#include "engine/PlatformSeam.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
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

}  // namespace

int openFile(const char* path, int flags, mode_t mode)
{
    if (injected(Open)) return -1;
    return retried([&] { return ::open(path, flags | O_CLOEXEC, mode); });
}

ssize_t writeSome(int fd, const void* data, std::size_t bytes)
{
    if (injected(Write)) return -1;
    return retried([&] { return ::write(fd, data, bytes); });
}

ssize_t writeVector(int fd, const iovec* parts, int count)
{
    if (injected(Write)) return -1;
    return retried([&] { return ::writev(fd, parts, count); });
}

ssize_t writeAt(int fd, const void* data, std::size_t bytes, off_t offset)
{
    if (injected(Write)) return -1;
    return retried([&] { return ::pwrite(fd, data, bytes, offset); });
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

int renameFile(const char* from, const char* to)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::rename(from, to); });
}

int exchangeFiles(const char* a, const char* b)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE); });
}

int linkFile(const char* existing, const char* newName)
{
    if (injected(Rename)) return -1;
    return retried([&] { return ::link(existing, newName); });
}

int syncFolder(const char* folder)
{
    if (injected(Sync)) return -1;
    const int fd = retried([&] { return ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return -1;
    const int result = retried([&] { return ::fsync(fd); });
    const int error = errno;
    ::close(fd);
    errno = error;
    return result;
}

bool utcCalendar(std::time_t time, std::tm& out)
{
    return ::gmtime_r(&time, &out) != nullptr;
}

bool modifiedLocalCalendar(const char* path, std::tm& out)
{
    struct stat st{};
    return ::stat(path, &st) == 0 && ::localtime_r(&st.st_mtime, &out) != nullptr;
}

}  // namespace engine::platform

// The platform layer on Windows. Paths go to the wide calls as UTF-16. A file is a C
// runtime descriptor over its HANDLE (binary, never text mode), but every read, write
// and seek goes to the HANDLE itself, so the runtime's own position and its text-mode
// translation never come into play. Win32 errors become the nearest errno, which is
// what the engine's callers look at.
#include "engine/platform/MappedRead.h"
#include "engine/platform/PlatformSeam.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace engine::platform {

namespace {

int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return EOPNOTSUPP;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_NOACCESS:
        return EFAULT;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

// The last Win32 error as errno; -1 for the caller to return.
int failed()
{
    errno = errnoOf(::GetLastError());
    return -1;
}

// UTF-8 to UTF-16; false (errno EINVAL) for text that is not UTF-8, which no file can
// be named.
bool widen(const std::string& utf8, std::wstring& out)
{
    out.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) {
        errno = EINVAL;
        return false;
    }
    out.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), n);
    // Past MAX_PATH the plain names fail unless the system allows long paths; the
    // \\?\ form works on every Windows, for a full path with backslashes only.
    constexpr std::size_t kShortEnough = 240;  // CreateDirectory's limit is 248
    if (out.size() >= kShortEnough && out.rfind(L"\\\\?\\", 0) != 0) {
        const DWORD needed = ::GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
        std::wstring full(needed, L'\0');
        const DWORD length = needed ? ::GetFullPathNameW(out.c_str(), needed, full.data(), nullptr) : 0;
        if (length > 0 && length < needed) {
            full.resize(length);
            if (full.rfind(L"\\\\", 0) == 0) {
                out = L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
            } else {
                out = L"\\\\?\\" + full;
            }
        }
    }
    return true;
}

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Win32 moves at most a DWORD's worth of bytes a call.
DWORD chunk(std::size_t bytes)
{
    constexpr std::size_t kMost = std::size_t{1} << 30;
    return static_cast<DWORD>(bytes < kMost ? bytes : kMost);
}

OVERLAPPED at(std::int64_t offset)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    o.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return o;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A failed open for writing: access denied on a folder's name is told as POSIX does.
int failedOn(const std::wstring& name)
{
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return -1;
    }
    errno = errnoOf(error);
    return -1;
}

// A virus scanner or an indexer opens a file the moment it is closed and holds it for a
// few milliseconds, refusing the rename that follows: tried again for at most about a
// second before the refusal counts.
template <class Call>
bool retriedWhileHeld(Call call)
{
    for (int attempt = 0;; ++attempt) {
        if (call()) return true;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (!held || attempt >= 20) return false;
        ::Sleep(attempt < 5 ? 10 : 50);
        ::SetLastError(error);
    }
}

const SYSTEM_INFO& systemInfo()
{
    static const SYSTEM_INFO info = [] {
        SYSTEM_INFO i{};
        ::GetSystemInfo(&i);
        return i;
    }();
    return info;
}

std::optional<FileIdentity> identityOfHandle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int openFile(const std::string& path, Access access)
{
    if (access != Access::Read && injected(Open)) return -1;
    std::wstring name;
    if (!widen(path, name)) return -1;
    HANDLE h = INVALID_HANDLE_VALUE;
    switch (access) {
    case Access::Read:
        // Others may go on reading, writing, renaming or deleting it: a picture open
        // here must not lock the user out of their own file.
        h = ::CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            const DWORD attributes = ::GetFileAttributesW(name.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                errno = EISDIR;
                return -1;
            }
            errno = errnoOf(error);
            return -1;
        }
        break;
    case Access::CreateNew:
        h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return failedOn(name);
        break;
    case Access::Rewrite: {
        h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return failedOn(name);
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(h, &size) || (size.QuadPart > 0 && !::SetEndOfFile(h))) {
            failed();
            ::CloseHandle(h);
            return -1;
        }
        break;
    }
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h),
                                     _O_BINARY | (access == Access::Read ? _O_RDONLY : _O_RDWR));
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
        return -1;
    }
    return fd;
}

int closeFile(int fd)
{
    const bool fail = injected(Close);
    const int result = ::_close(fd);
    return fail ? -1 : result;
}

void releaseFile(int fd)
{
    if (fd < 0) return;
    const int error = errno;
    ::_close(fd);
    errno = error;
}

std::int64_t writeSome(int fd, const void* data, std::size_t bytes)
{
    if (injected(Write)) return -1;
    DWORD written = 0;
    if (!::WriteFile(handleOf(fd), data, chunk(bytes), &written, nullptr)) return failed();
    if (written == 0 && bytes > 0) {
        errno = ENOSPC;
        return -1;
    }
    return written;
}

std::int64_t writeParts(int fd, const ByteRange* parts, int count)
{
    if (injected(Write)) return -1;
    // No gathering write on ordinary files: part after part, what went out counted.
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        std::size_t left = parts[i].size;
        const auto* p = static_cast<const std::uint8_t*>(parts[i].data);
        while (left > 0) {
            DWORD written = 0;
            const BOOL ok = ::WriteFile(handleOf(fd), p, chunk(left), &written, nullptr);
            if (!ok || written == 0) {
                if (total > 0) return total;  // the next call reports it
                if (!ok) return failed();
                errno = ENOSPC;
                return -1;
            }
            p += written;
            left -= written;
            total += written;
        }
    }
    return total;
}

int syncFile(int fd)
{
    if (injected(Sync)) return -1;
    return ::FlushFileBuffers(handleOf(fd)) ? 0 : failed();
}

std::int64_t readAt(int fd, void* data, std::size_t bytes, std::int64_t offset)
{
    OVERLAPPED o = at(offset);
    DWORD got = 0;
    if (!::ReadFile(handleOf(fd), data, chunk(bytes), &got, &o)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        return failed();
    }
    return got;
}

std::int64_t readSome(int fd, void* data, std::size_t bytes)
{
    DWORD got = 0;
    if (!::ReadFile(handleOf(fd), data, chunk(bytes), &got, nullptr)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        return failed();
    }
    return got;
}

std::int64_t seekFile(int fd, std::int64_t offset, int whence)
{
    const DWORD method = whence == SEEK_SET ? FILE_BEGIN : whence == SEEK_CUR ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    LARGE_INTEGER now{};
    if (!::SetFilePointerEx(handleOf(fd), to, &now, method)) return failed();
    return now.QuadPart;
}

std::int64_t fileSize(int fd)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handleOf(fd), &size)) return failed();
    return size.QuadPart;
}

void adviseSequential(int)
{
    // Asked for when the file was opened (FILE_FLAG_SEQUENTIAL_SCAN).
}

std::optional<FileIdentity> identityOf(const std::string& path)
{
    std::wstring name;
    if (!widen(path, name)) return std::nullopt;
    // No access asked for: only the file's identity. Backup semantics let a folder be
    // asked too.
    HANDLE h = ::CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto identity = identityOfHandle(h);
    ::CloseHandle(h);
    return identity;
}

std::optional<FileIdentity> identityOf(int fd)
{
    return identityOfHandle(handleOf(fd));
}

// A file cannot be cut while it is mapped on Windows (SetEndOfFile fails), so the
// views need no guard against that.
Mapping mapFile(int fd, std::int64_t offset, std::size_t bytes)
{
    const std::int64_t size = fileSize(fd);
    if (offset < 0 || bytes == 0 || size < 0 || offset > size || static_cast<std::uint64_t>(size - offset) < bytes) {
        return {};
    }
    const auto granularity = static_cast<std::int64_t>(systemInfo().dwAllocationGranularity);
    const std::int64_t base = offset / granularity * granularity;
    const auto length = static_cast<std::size_t>(offset - base) + bytes;
    HANDLE mapping = ::CreateFileMappingW(handleOf(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return {};
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(static_cast<std::uint64_t>(base) >> 32),
                                 static_cast<DWORD>(static_cast<std::uint64_t>(base)), length);
    ::CloseHandle(mapping);  // the view keeps the mapping
    if (!view) return {};
    return {view, length, static_cast<const std::uint8_t*>(view) + (offset - base)};
}

void unmapFile(void* base, std::size_t)
{
    if (base) ::UnmapViewOfFile(base);
}

std::size_t pageSize()
{
    return systemInfo().dwPageSize;
}

int renameFile(const std::string& from, const std::string& to)
{
    if (injected(Rename)) return -1;
    std::wstring a;
    std::wstring b;
    if (!widen(from, a) || !widen(to, b)) return -1;
    // Written through: the rename is on the disk when the call returns, which is what
    // the folder's fsync does on POSIX.
    return retriedWhileHeld([&] {
        return ::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }) ? 0 : failed();
}

int exchangeFiles(const std::string& a, const std::string& b)
{
    if (injected(Rename)) return -1;
    std::wstring first;
    std::wstring second;
    if (!widen(a, first) || !widen(b, second)) return -1;
    // No atomic swap of two names. A missing name is told as such, as renameat2 does,
    // so that a new file is simply renamed into place.
    errno = exists(first) && exists(second) ? EOPNOTSUPP : ENOENT;
    return -1;
}

int linkFile(const std::string& existing, const std::string& newName)
{
    if (injected(Rename)) return -1;
    std::wstring from;
    std::wstring to;
    if (!widen(existing, from) || !widen(newName, to)) return -1;
    return ::CreateHardLinkW(to.c_str(), from.c_str(), nullptr) ? 0 : failed();
}

int removeFile(const std::string& path)
{
    if (injected(Remove)) return -1;
    std::wstring name;
    if (!widen(path, name)) return -1;
    return ::DeleteFileW(name.c_str()) ? 0 : failed();
}

int lockFile(int fd)
{
    OVERLAPPED whole{};
    if (::LockFileEx(handleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
        errno = EWOULDBLOCK;
        return -1;
    }
    return failed();
}

int syncFolder(const std::string&)
{
    // Every rename was written through. A refusal as a file system without folder
    // syncs gives it is no failure, as on POSIX.
    if (injected(Sync)) return errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS ? 0 : -1;
    return 0;
}

bool isFolder(const std::string& path)
{
    std::wstring name;
    if (!widen(path, name)) return false;
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

long processId()
{
    return static_cast<long>(::GetCurrentProcessId());
}

bool processRunning(long pid)
{
    if (pid <= 0) return false;
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return running;
}

void crashNow() noexcept
{
    ::TerminateProcess(::GetCurrentProcess(), 137);
    ::ExitProcess(137);  // not reached
}

bool utcCalendar(std::time_t time, std::tm& out)
{
    return ::gmtime_s(&out, &time) == 0;
}

bool modifiedLocalCalendar(const std::string& path, std::tm& out)
{
    std::wstring name;
    if (!widen(path, name)) return false;
    struct _stat64 st {};
    if (::_wstat64(name.c_str(), &st) != 0) return false;
    const std::time_t time = st.st_mtime;
    return ::localtime_s(&out, &time) == 0;
}

// Mapped reads cannot lose a page to a cut file here (see mapFile): the guard has
// nothing to catch.
ReadGuard::ReadGuard(const void* data, std::size_t size) noexcept : outerData_(data), outerSize_(size), outerLost_(false)
{
}

ReadGuard::~ReadGuard() = default;

bool ReadGuard::lost() const noexcept
{
    return false;
}

}  // namespace engine::platform

#pragma once
// Every call the engine and the batch tool make to the operating system, in one place,
// with a POSIX side (PlatformPosix.cpp) and a Win32 side (PlatformWin32.cpp).
//
// A file is an int everywhere: a descriptor on POSIX; on Windows a C runtime descriptor
// over the file's HANDLE, so that code above the layer, libtiff's client calls among
// it, needs no second kind of handle. Paths are UTF-8 (on Windows they become UTF-16
// for the wide calls; the narrow ones would read them in the ANSI code page). Calls
// return what POSIX returns: -1 with errno set on failure, the Win32 errors mapped to
// the nearest errno. Calls that can fail a user's output go through the test seam
// below, which is what lets the tests fail any one of them on purpose.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace engine::platform {

// How a file is opened.
enum class Access {
    Read,       // reading; a folder is refused (EISDIR)
    CreateNew,  // reading and writing, a new file: EEXIST when the name is taken
    Rewrite,    // reading and writing, created when missing; a file with bytes in it is
                // emptied (an empty one is left alone: truncating it costs a flush on ext4)
};

int openFile(const std::string& path, Access access);
int closeFile(int fd);
// Closes on a path that has already failed or only read: nothing reported, errno kept.
void releaseFile(int fd);

// Writes return the count written, at least 1, or -1.
std::int64_t writeSome(int fd, const void* data, std::size_t bytes);
struct ByteRange {
    const void* data;
    std::size_t size;
};
// The parts in order, as one write where the system can (writev); EFAULT when a part's
// memory could not be read, its mapped file having been cut.
std::int64_t writeParts(int fd, const ByteRange* parts, int count);
int syncFile(int fd);

// Reads return the count read, 0 at the end, or -1; they retry interruptions.
std::int64_t readAt(int fd, void* data, std::size_t bytes, std::int64_t offset);
std::int64_t readSome(int fd, void* data, std::size_t bytes);  // at the file position
// The new position, or -1. whence is SEEK_SET, SEEK_CUR or SEEK_END.
std::int64_t seekFile(int fd, std::int64_t offset, int whence);
// The file's size now, or -1.
std::int64_t fileSize(int fd);
// The reads will go front to back: let the system read ahead generously.
void adviseSequential(int fd);

// Which file a name or an open file is, whatever the spelling or link that reaches it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> identityOf(const std::string& path);
std::optional<FileIdentity> identityOf(int fd);

// bytes of the file at offset, read-only and shared with the file's cache; nullptr
// where it cannot be mapped. The base handed back is mapGranularity()-aligned and at or
// below offset: *base + (offset - alignedOffset) is the first byte.
struct Mapping {
    void* base = nullptr;
    std::size_t length = 0;
    const std::uint8_t* data = nullptr;
};
Mapping mapFile(int fd, std::int64_t offset, std::size_t bytes);
void unmapFile(void* base, std::size_t length);
std::size_t pageSize();

// Renames over an existing file in one step.
int renameFile(const std::string& from, const std::string& to);
// Swaps two existing names atomically (renameat2 RENAME_EXCHANGE); -1 with EINVAL,
// ENOSYS or EOPNOTSUPP where the file system or system cannot. Counted as a rename.
int exchangeFiles(const std::string& a, const std::string& b);
// A second name for a file (a hard link); counted as a rename.
int linkFile(const std::string& existing, const std::string& newName);
int removeFile(const std::string& path);
// Takes an exclusive lock on the whole of an open file without waiting; the system
// drops it when the process ends, however it ends. -1 with EWOULDBLOCK when another
// open file holds it (in this process too).
int lockFile(int fd);
// The names in a folder, "." and ".." left out; nothing when it cannot be read.
std::optional<std::vector<std::string>> folderNames(const std::string& folder);
// Makes the renames in folder last; nothing to do where a rename is written through.
int syncFolder(const std::string& folder);
// Whether path is a folder itself (not a link to one).
bool isFolder(const std::string& path);

// This process's number, for temporary names.
long processId();
// Whether a process with this number runs now (one whose number was reused counts).
bool processRunning(long pid);

// UTF-8 text to a path and back. On Windows std::filesystem::path made from a narrow
// string reads it in the ANSI code page; these never do.
std::filesystem::path pathOf(std::string_view utf8);
std::string utf8Of(const std::filesystem::path& path);

// The test seam. The calls that can fail a user's file, counted from the last
// injectFault(): the nth (from 1) of the kinds in mask, and the times - 1 after it,
// fail with error instead of being made. nth 0 fails none and only counts.
enum Call : unsigned {
    Open = 1u << 0,   // openFile for writing
    Write = 1u << 1,  // writeSome, writeParts
    Sync = 1u << 2,   // syncFile, syncFolder
    Close = 1u << 3,
    Rename = 1u << 4, // renameFile, exchangeFiles, linkFile
    AnyCall = Open | Write | Sync | Close | Rename,
    Remove = 1u << 5, // removeFile: counted for the crash tests, whose kills land on it too
    CrashCalls = AnyCall | Remove,
};
// error kCrash ends the process on the spot instead (SIGKILL; on Windows
// TerminateProcess), as a power cut or a kill would: nothing after it runs. A program
// started with ZRVIMAGE_CRASH_AT=N in its environment is armed so at its start, with
// mask CrashCalls: the crash tests kill whole programs at every such call in turn.
inline constexpr int kCrash = -1;
void injectFault(unsigned mask, std::uint64_t nth, int error, std::uint64_t times = 1);
// How many calls of the kinds in the last mask were made since injectFault().
std::uint64_t callsSinceInjection();
// Whether the injected fault has fired.
bool faultFired();

// The calendar of a moment in UTC; false when it cannot be expressed.
bool utcCalendar(std::time_t time, std::tm& out);
// A file's last modification, in the local calendar; false when the file cannot be
// asked or the moment cannot be expressed.
bool modifiedLocalCalendar(const std::string& path, std::tm& out);

}  // namespace engine::platform

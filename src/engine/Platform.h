#pragma once
// The operating system's file calls that outputs make, in one place: thin wrappers
// over POSIX that retry EINTR and return what the call returns (-1 with errno set on
// failure). Every output write of the engine, the batch tool and the viewer goes
// through these, which is what lets the tests fail any one of them on purpose.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/types.h>
#include <sys/uio.h>

namespace engine::platform {

int openFile(const char* path, int flags, mode_t mode = 0666);
ssize_t writeSome(int fd, const void* data, std::size_t bytes);
ssize_t writeVector(int fd, const iovec* parts, int count);
ssize_t writeAt(int fd, const void* data, std::size_t bytes, off_t offset);
int syncFile(int fd);
int closeFile(int fd);
int renameFile(const char* from, const char* to);
// Swaps two existing names atomically (renameat2 RENAME_EXCHANGE); -1 with EINVAL,
// ENOSYS or EOPNOTSUPP where the file system cannot. Counted as a rename.
int exchangeFiles(const char* a, const char* b);
// A second name for a file (link); counted as a rename.
int linkFile(const char* existing, const char* newName);
int syncFolder(const char* folder);

// The test seam. The calls that can fail a user's file, counted from the last
// injectFault(): the nth (from 1) of the kinds in mask fails with error instead of
// being made. nth 0 fails none and only counts.
enum Call : unsigned {
    Open = 1u << 0,
    Write = 1u << 1,  // writeSome, writeVector, writeAt
    Sync = 1u << 2,   // syncFile, syncFolder
    Close = 1u << 3,
    Rename = 1u << 4, // renameFile, exchangeFiles, linkFile
    AnyCall = Open | Write | Sync | Close | Rename,
};
void injectFault(unsigned mask, std::uint64_t nth, int error);
// How many calls of the kinds in the last mask were made since injectFault().
std::uint64_t callsSinceInjection();
// Whether the injected fault has fired.
bool faultFired();

// The calendar of a moment in UTC; false when it cannot be expressed.
bool utcCalendar(std::time_t time, std::tm& out);
// A file's last modification, in the local calendar; false when the file cannot be
// asked or the moment cannot be expressed.
bool modifiedLocalCalendar(const char* path, std::tm& out);

}  // namespace engine::platform

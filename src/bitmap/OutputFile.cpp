#include "bitmap/OutputFile.h"

#include "bitmap/PictureReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bitmap {

void BlockSink::write(const void* data, std::size_t bytes)
{
    std::memcpy(reserve(bytes), data, bytes);
    commit(bytes);
}

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, const PictureReader* input)
{
    if (input && input->isSameFile(path)) throw EngineError(Failure::OutputIsInput, path);
    // Not O_TRUNC: truncating a file, even an empty one (the batch tool's staged
    // outputs), makes ext4 flush the whole file to disk when it is closed, which cost a
    // 160 MB raster 50 ms more than the write itself. Only a file with bytes in it is
    // emptied.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw EngineError(Failure::CannotCreateOutput, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        throw EngineError(Failure::CannotCreateOutput, path);
    }
    return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

OutputFile::OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

OutputFile::~OutputFile()
{
    stopWriter();
    if (fd_ >= 0) ::close(fd_);
}

std::uint8_t* OutputFile::reserve(std::size_t bytes)
{
    {
        std::lock_guard lock(mutex_);
        if (failed_) throw EngineError(Failure::WriteFailed, path_);
    }
    BlockBuffer& b = buffers_[filling_];
    if (b.capacity() < bytes) b = BlockBuffer(bytes);
    return b.get();
}

void OutputFile::commit(std::size_t bytes)
{
    std::unique_lock lock(mutex_);
    waitForWriter(lock);
    if (failed_) throw EngineError(Failure::WriteFailed, path_);
    pending_ = true;
    pendingBytes_ = bytes;
    filling_ ^= 1;  // the writer takes the filled buffer, the operation the other
    if (!writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
    changed_.notify_all();
}

void OutputFile::finish()
{
    bool ok;
    {
        std::unique_lock lock(mutex_);
        waitForWriter(lock);
        ok = !failed_;
    }
    stopWriter();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) ok = false;
    if (!ok) throw EngineError(Failure::WriteFailed, path_);
}

void OutputFile::waitForWriter(std::unique_lock<std::mutex>& lock)
{
    changed_.wait(lock, [this] { return !pending_; });
}

void OutputFile::writerLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ || stopping_; });
        if (!pending_) return;
        const BlockBuffer& b = buffers_[filling_ ^ 1];
        const std::size_t bytes = pendingBytes_;
        const bool skip = failed_;
        lock.unlock();
        const bool ok = skip || writeAll(b.get(), bytes);
        lock.lock();
        if (!ok) failed_ = true;
        pending_ = false;
        changed_.notify_all();
    }
}

bool OutputFile::writeAll(const std::uint8_t* data, std::size_t bytes) noexcept
{
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, data, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

void OutputFile::stopWriter()
{
    if (!writer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    writer_.join();
}

}  // namespace bitmap

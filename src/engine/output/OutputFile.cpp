#include "engine/output/OutputFile.h"

#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace engine {

void BlockSink::write(const void* data, std::size_t bytes)
{
    std::memcpy(reserve(bytes), data, bytes);
    commit(bytes);
}

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path, const OutputSource* input)
{
    if (input && input->isSameFile(path)) throw EngineError(Failure::OutputIsInput, path);
    const int fd = platform::openFile(path, platform::Access::Rewrite);
    if (fd < 0) throw systemFailure(Failure::CannotCreateOutput, path);
    return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

std::unique_ptr<OutputFile> OutputFile::into(StagedFile& file)
{
    return std::unique_ptr<OutputFile>(new OutputFile(file.fd(), file.finalPath(), &file));
}

OutputFile::OutputFile(int fd, std::string path, StagedFile* staged)
    : fd_(fd), path_(std::move(path)), staged_(staged)
{
}

OutputFile::~OutputFile()
{
    stopWriter();
    if (staged_) {
        if (!finished_) staged_->markFailed();  // a run that threw: not to be placed
    } else {
        platform::releaseFile(fd_);
    }
}

namespace {

// How long a side of the hand-over spins before it sleeps. The other side usually
// hands over within this (a megabyte is read or written in about 0.1 ms), and waking a
// sleeping thread costs tens of microseconds on a virtual machine, a dozen times a
// 2048x1536 frame. The spin yields the core, so that on a busy machine it is a queue,
// not a waste.
constexpr auto kSpin = std::chrono::microseconds(100);

// How often a waiting operation calls its wait hook.
constexpr auto kWaitSlice = std::chrono::milliseconds(1);

template <class Ready>
bool spinUntil(Ready ready)
{
    if (ready()) return true;
    const auto until = std::chrono::steady_clock::now() + kSpin;
    do {
        std::this_thread::yield();
        if (ready()) return true;
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

}  // namespace

std::uint8_t* OutputFile::reserve(std::size_t bytes)
{
    if (failed_.load()) throw writeFailure();
    BlockBuffer& b = buffers_[filling_];
    if (b.capacity() < bytes) b = BlockBuffer(bytes);
    return b.get();
}

void OutputFile::commit(std::size_t bytes)
{
    waitForWriter();
    if (failed_.load()) throw writeFailure();
    pendingBytes_ = bytes;
    filling_ ^= 1;  // the writer takes the filled buffer, the operation the other
    handOverPending();
}

std::size_t OutputFile::passThrough(std::span<const std::uint8_t> head, const std::uint8_t* data, std::size_t bytes)
{
    waitForWriter();  // the blocks handed over come first
    if (failed_.load()) throw writeFailure();
    // Written here rather than by the writer: there is nothing to do meanwhile, and a
    // write from the mapping on the other thread measured slower, at times ten times.
    platform::ByteRange parts[2] = {{head.data(), head.size()}, {data, bytes}};
    const std::size_t written = writeParts(parts);
    if (failed_.load()) throw writeFailure();
    return written;
}

void OutputFile::finish()
{
    waitForWriter();
    bool ok = !failed_.load();
    stopWriter();
    finished_ = true;
    if (staged_) {
        if (!ok) staged_->markFailed();
    } else {
        const int fd = std::exchange(fd_, -1);
        if (platform::closeFile(fd) != 0) {
            fail(errno);
            ok = false;
        }
    }
    if (!ok) throw writeFailure();
}

void OutputFile::handOverPending()
{
    pending_.store(true);
    if (!writer_) {
        writer_ = KeptThread::start([this] { writerLoop(); });
        return;
    }
    handOver();
}

void OutputFile::waitForWriter()
{
    const auto written = [this] { return !pending_.load(); };
    if (spinUntil(written)) return;
    std::unique_lock lock(mutex_);
    if (!waitHook_) {
        changed_.wait(lock, written);
        return;
    }
    while (!changed_.wait_for(lock, kWaitSlice, written)) {
        lock.unlock();
        waitHook_();
        lock.lock();
    }
}

// Wakes the other side if it sleeps. Taking the mutex orders this after a sleeper's
// last look at the flags.
void OutputFile::handOver()
{
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

void OutputFile::writerLoop()
{
    const auto work = [this] { return pending_.load() || stopping_.load(); };
    for (;;) {
        if (!spinUntil(work)) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, work);
        }
        if (!pending_.load()) return;
        if (!failed_.load() && !writeAll(buffers_[filling_ ^ 1].get(), pendingBytes_)) fail(errno);
        pending_.store(false);
        handOver();
    }
}

// Writes the two parts, returning how much went out. EFAULT: a mapped page could not
// be read, its file was cut; the operation reads what is left and finds out. Any other
// error fails the output.
std::size_t OutputFile::writeParts(platform::ByteRange (&parts)[2]) noexcept
{
    std::size_t written = 0;
    platform::ByteRange* part = parts;
    const platform::ByteRange* const end = parts + 2;
    for (;;) {
        while (part != end && part->size == 0) ++part;
        if (part == end) return written;
        const std::int64_t n = platform::writeParts(fd_, part, static_cast<int>(end - part));
        if (n < 0 && errno == EFAULT) return written;
        if (n <= 0) {
            fail(errno);
            return written;
        }
        written += static_cast<std::size_t>(n);
        for (auto left = static_cast<std::size_t>(n); left > 0; ++part) {
            const std::size_t step = std::min(left, part->size);
            part->data = static_cast<const std::uint8_t*>(part->data) + step;
            part->size -= step;
            left -= step;
            if (part->size > 0) break;
        }
    }
}

bool OutputFile::writeAll(const std::uint8_t* data, std::size_t bytes) noexcept
{
    while (bytes > 0) {
        const std::int64_t n = platform::writeSome(fd_, data, bytes);
        if (n <= 0) return false;
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

// Keeps the first failure's reason; a write that wrote nothing without an error is a
// full disk's doing.
void OutputFile::fail(int error) noexcept
{
    int none = 0;
    error_.compare_exchange_strong(none, error != 0 ? error : ENOSPC);
    failed_.store(true);
}

EngineError OutputFile::writeFailure() const
{
    return systemFailure(Failure::WriteFailed, path_, error_.load());
}

void OutputFile::stopWriter()
{
    if (!writer_) return;
    stopping_.store(true);
    handOver();
    std::exchange(writer_, nullptr)->join();
}

}  // namespace engine

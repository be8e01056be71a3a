#include "bitmap/PictureReader.h"

#include "bitmap/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bitmap {

namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Asked afresh each time: the file may have changed since it was opened (while a
    // dialog was up), and the checks must see it as it is.
    std::int64_t size() const override
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    }

    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size) override
    {
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::pread(fd_, buffer + got, size - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                throw EngineError(Failure::ReadFailed, path_);
            }
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

    bool isSameFile(const std::string& path) const override
    {
        struct stat in {};
        struct stat out {};
        if (::fstat(fd_, &in) != 0 || ::stat(path.c_str(), &out) != 0) return false;
        return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EngineError(Failure::CannotOpenInput, path);
    struct stat st {};
    // A folder opens for reading here but cannot be read as a picture.
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw EngineError(Failure::CannotOpenInput, path);
    }
    // Sequential block reads: let the kernel read ahead generously.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<FileSource>(fd, path);
}

PictureReader PictureReader::open(const std::string& path)
{
    return PictureReader(openFileSource(path), path);
}

PictureReader::PictureReader(std::unique_ptr<ByteSource> source, std::string path)
    : source_(std::move(source)), path_(std::move(path))
{
    std::uint8_t h[kHeadersSize] = {};
    source_->readAt(0, h, sizeof h);
    header_.pixelOffset = loadLE32(h + 10);
    header_.infoSize = loadLE32(h + 14);
    header_.width = static_cast<std::int32_t>(loadLE32(h + 18));
    header_.height = static_cast<std::int32_t>(loadLE32(h + 22));
    header_.bitCount = static_cast<std::uint16_t>(h[28] | h[29] << 8);
    header_.compression = loadLE32(h + 30);
    header_.rowStride = rowStride(header_.width);
    header_.fileSize = source_->size();
}

void PictureReader::require24Bit()
{
    header_.fileSize = source_->size();
    const BitmapProbe& h = header_;
    const auto fail = [this](Failure f, std::int64_t detail = 0) { throw EngineError(f, path_, detail); };
    if (h.fileSize < kHeadersSize) fail(Failure::HeaderTruncated);
    if (h.bitCount == 8) fail(Failure::EightBit, 8);
    if (h.bitCount != 24) fail(Failure::UnsupportedDepth, h.bitCount);
    // An OS/2 core header keeps its sizes elsewhere; the fields read would be wrong.
    if (h.infoSize < 40) fail(Failure::UnsupportedHeader);
    if (h.compression != 0) fail(Failure::Compressed);
    if (h.width <= 0) fail(Failure::BadWidth);
    if (h.width > kMaxWidth) fail(Failure::TooWide);
    if (std::int64_t{h.pixelOffset} < 14 + std::int64_t{h.infoSize} || h.pixelOffset > h.fileSize) {
        fail(Failure::BadPixelOffset);
    }
    // Every row but the last in full; the last may lack its padding, as some writers
    // leave it off.
    const std::int64_t rows = h.rows();
    if (rows > 0 && h.pixelOffset + (rows - 1) * h.rowStride + std::int64_t{h.width} * 3 > h.fileSize) {
        fail(Failure::Truncated);
    }
}

void PictureReader::readStored(std::int64_t first, std::int64_t count, std::uint8_t* buffer)
{
    const auto bytes = static_cast<std::size_t>(count * stride());
    const std::size_t got = source_->readAt(header_.pixelOffset + first * stride(), buffer, bytes);
    if (got == bytes) return;
    const auto padding = static_cast<std::size_t>(stride() - width() * 3);
    if (first + count != height() || got + padding < bytes) throw EngineError(Failure::Truncated, path_);
    std::memset(buffer + got, 0, bytes - got);
}

void PictureReader::readStoredColumns(std::int64_t first, std::int64_t count, std::size_t bytes, std::uint8_t* buffer)
{
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t offset = header_.pixelOffset + (first + k) * stride();
        if (source_->readAt(offset, buffer + static_cast<std::size_t>(k) * bytes, bytes) != bytes) {
            throw EngineError(Failure::Truncated, path_);
        }
    }
}

// The thread that reads the next block ahead: one request at a time, into a buffer of
// its own that next() swaps with the one it hands rows out of.
class RowStream::ReadAhead {
public:
    ReadAhead(RowStream& stream, std::size_t bytes) : stream_(stream), buffer_(bytes) {}

    ~ReadAhead()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // Starts reading block index; the thread is started with the first request.
    void request(std::int64_t index)
    {
        {
            std::lock_guard lock(mutex_);
            asked_ = index;
            ready_ = false;
        }
        if (thread_.joinable()) {
            changed_.notify_all();
            return;
        }
        try {
            thread_ = std::thread([this] { loop(); });
        } catch (const std::system_error&) {
            // No thread to be had: the block is read here and now.
            std::lock_guard lock(mutex_);
            readAsked();
        }
    }

    // Waits for the block asked for and swaps it into buffer; throws its read error.
    void take(BlockBuffer& buffer)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_; });
        asked_ = -1;
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
        buffer.swap(buffer_);
    }

private:
    void loop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || (asked_ >= 0 && !ready_); });
            if (stopping_) return;
            const std::int64_t index = asked_;
            lock.unlock();
            std::exception_ptr error = readInto(index);
            lock.lock();
            error_ = error;
            ready_ = true;
            changed_.notify_all();
        }
    }

    std::exception_ptr readInto(std::int64_t index) noexcept
    {
        try {
            stream_.readBlock(index, buffer_.get());
            return nullptr;
        } catch (...) {
            return std::current_exception();
        }
    }

    void readAsked() noexcept
    {
        error_ = readInto(asked_);
        ready_ = true;
    }

    RowStream& stream_;
    BlockBuffer buffer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t asked_ = -1;  // the block to read, -1 for none
    bool ready_ = false;       // asked_ has been read (or failed)
    bool stopping_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

RowStream::RowStream(PictureReader& reader, Order order, std::int64_t y1, std::int64_t y2) : reader_(reader)
{
    if (order == Order::BottomFirst) {
        y1 = reader.height() - 1;
        y2 = 0;
    }
    count_ = order == Order::BottomFirst ? reader.height() : std::max<std::int64_t>(0, y2 - y1 + 1);
    if (count_ == 0) return;
    // Image rows go down the file for a bottom-up picture read top first, and for a
    // top-down one read bottom first.
    const bool againstFile = (order == Order::TopFirst) != reader.topDown();
    direction_ = againstFile ? -1 : 1;
    firstStored_ = reader.storedIndex(y1);
    const auto stride = static_cast<std::size_t>(reader.stride());
    blockRows_ = std::min<std::int64_t>(count_, static_cast<std::int64_t>((kBlockBytes + stride - 1) / stride));
    const std::size_t blockBytes = static_cast<std::size_t>(blockRows_) * stride;
    buffer_ = BlockBuffer(blockBytes);
    if (count_ > blockRows_) readAhead_ = std::make_unique<ReadAhead>(*this, blockBytes);
}

RowStream::~RowStream() = default;

std::int64_t RowStream::readBlock(std::int64_t index, std::uint8_t* buffer)
{
    const std::int64_t done = index * blockRows_;
    const std::int64_t n = std::min(blockRows_, count_ - done);
    const std::int64_t start = firstStored_ + direction_ * done;  // stored index of the block's first row
    reader_.readStored(direction_ > 0 ? start : start - n + 1, n, buffer);
    return n;
}

const std::uint8_t* RowStream::next()
{
    if (done_ >= count_) return nullptr;
    const std::int64_t stride = reader_.stride();
    if (inBlock_ == 0) {
        const std::int64_t index = nextBlock_++;
        const std::int64_t n = std::min(blockRows_, count_ - index * blockRows_);
        if (index == 0) {
            // The second block is asked for first, so that it is read while this one is.
            if (readAhead_) readAhead_->request(1);
            readBlock(0, buffer_.get());
        } else {
            readAhead_->take(buffer_);
            if (nextBlock_ * blockRows_ < count_) readAhead_->request(nextBlock_);
        }
        cursor_ = buffer_.get() + (direction_ > 0 ? 0 : (n - 1) * stride);
        inBlock_ = n;
    } else {
        cursor_ += direction_ * stride;
    }
    --inBlock_;
    ++done_;
    return cursor_;
}

}  // namespace bitmap

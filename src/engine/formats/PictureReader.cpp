#include "engine/formats/PictureReader.h"

#include "engine/formats/ByteOrder.h"

#include "engine/platform/Platform.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~FileSource() override { platform::releaseFile(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Asked afresh each time: the file may have changed since it was opened (while a
    // dialog was up), and the checks must see it as it is.
    std::int64_t size() const override
    {
        const std::int64_t size = platform::fileSize(fd_);
        return size < 0 ? 0 : size;
    }

    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size) override
    {
        std::size_t got = 0;
        while (got < size) {
            const std::int64_t n = platform::readAt(fd_, buffer + got, size - got, offset + static_cast<std::int64_t>(got));
            if (n == 0) break;
            if (n < 0) throw systemFailure(Failure::ReadFailed, path_);
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

    // Positional reads keep no position of their own.
    bool readsConcurrently() const override { return true; }

    bool isSameFile(const std::string& path) const override
    {
        const auto in = platform::identityOf(fd_);
        const auto out = platform::identityOf(path);
        return in && out && *in == *out;
    }

    MappedBytes map(std::int64_t offset, std::size_t size) override
    {
        const platform::Mapping m = platform::mapFile(fd_, offset, size);
        if (!m.base) return {};
        return MappedBytes(m.base, m.length, m.data);
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

MappedBytes::~MappedBytes()
{
    platform::unmapFile(base_, length_);
}

std::unique_ptr<ByteSource> openFileSource(const std::string& path)
{
    const int fd = platform::openFile(path, platform::Access::Read);
    if (fd < 0) throw systemFailure(Failure::CannotOpenInput, path);
    // Sequential block reads: let the system read ahead generously.
    platform::adviseSequential(fd);
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
    header_.signature = h[0] == 'B' && h[1] == 'M';
}

void PictureReader::require24Bit(Signature signature)
{
    header_.fileSize = source_->size();
    const BitmapProbe& h = header_;
    const bool namesOthers = signature == Signature::Names && !h.signature;
    const auto fail = [this, namesOthers](Failure f, std::int64_t detail = 0) {
        if (namesOthers) throw EngineError(Failure::NotBitmap, path_);
        throw EngineError(f, path_, detail);
    };
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

RowStream::RowStream(PictureReader& reader, Order order, std::int64_t y1, std::int64_t y2, Reading reading)
    : reader_(reader)
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
    if (reading == Reading::Mapped) {
        mapping_ = true;
        mapRows_ = std::max<std::int64_t>(1, static_cast<std::int64_t>(kMappedBytes / stride));
        const std::int64_t inFile = reader.header().fileSize - reader.header().pixelOffset;
        mappableRows_ = std::clamp<std::int64_t>(inFile / reader.stride(), 0, reader.height());
    }
}

void RowStream::unmap()
{
    guard_.reset();
    mapped_ = {};
}

void RowStream::startBlock()
{
    const std::int64_t stride = reader_.stride();
    const std::int64_t start = firstStored_ + direction_ * done_;  // stored index of the next row
    if (mapping_) {
        confirm();
        unmap();
        const std::int64_t n = std::min(mapRows_, count_ - done_);
        const std::int64_t lowest = direction_ > 0 ? start : start - n + 1;
        // A window that would reach a row not whole in the file is not mapped: its
        // rows are read, a block at a time, and mapping goes on after them.
        if (lowest + n <= mappableRows_) {
            mapped_ = reader_.mapStored(lowest, n);
            if (mapped_) {
                guard_.emplace(mapped_.data(), static_cast<std::size_t>(n * stride));
                mappedEnd_ = reader_.header().pixelOffset + (lowest + n) * stride;
                cursor_ = mapped_.data() + (direction_ > 0 ? 0 : (n - 1) * stride);
                inBlock_ = n;
                return;
            }
            mapping_ = false;  // not a file that maps: read it all
        }
    }
    const std::int64_t n = std::min(blockRows_, count_ - done_);
    const std::int64_t lowest = direction_ > 0 ? start : start - n + 1;
    if (!buffer_.get()) buffer_ = BlockBuffer(static_cast<std::size_t>(blockRows_ * stride));
    reader_.readStored(lowest, n, buffer_.get());
    cursor_ = buffer_.get() + (direction_ > 0 ? 0 : (n - 1) * stride);
    inBlock_ = n;
}

const std::uint8_t* RowStream::next()
{
    if (done_ >= count_) return nullptr;
    if (inBlock_ == 0) {
        startBlock();
    } else {
        cursor_ += direction_ * reader_.stride();
    }
    --inBlock_;
    ++done_;
    return cursor_;
}

const std::uint8_t* RowStream::again()
{
    // The rest is read, starting with this row.
    unmap();
    mapping_ = false;
    inBlock_ = 0;
    --done_;
    return next();
}

void RowStream::confirm()
{
    if (mapped_ && reader_.sizeNow() < mappedEnd_) throw EngineError(Failure::Truncated, reader_.path());
}

}  // namespace engine

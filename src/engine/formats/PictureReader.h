#pragma once
// A bitmap opened once: its header values, the checks that tell whether its stored
// rows can be read as 24-bit pixels, and block reads of those rows by their index
// from the top, whatever order the file stores them in.

#include "engine/formats/BitmapProbe.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/BlockBuffer.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/MappedRead.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace engine {

// Bytes of a file mapped into memory, for the kernel to copy from: a write() from them
// takes the file's cached pages without copying them through a buffer first. Only the
// kernel may read them: once the file is cut, touching a mapped page past its end kills
// the process with SIGBUS, while the kernel's own read of it fails with EFAULT.
class MappedBytes {
public:
    MappedBytes() = default;
    MappedBytes(void* base, std::size_t length, const std::uint8_t* data) : base_(base), length_(length), data_(data) {}
    ~MappedBytes();
    MappedBytes(MappedBytes&& other) noexcept
        : base_(std::exchange(other.base_, nullptr)), length_(std::exchange(other.length_, 0)),
          data_(std::exchange(other.data_, nullptr))
    {
    }
    MappedBytes& operator=(MappedBytes&& other) noexcept
    {
        MappedBytes old(std::move(*this));
        base_ = std::exchange(other.base_, nullptr);
        length_ = std::exchange(other.length_, 0);
        data_ = std::exchange(other.data_, nullptr);
        return *this;
    }

    const std::uint8_t* data() const noexcept { return data_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    void* base_ = nullptr;
    std::size_t length_ = 0;
    const std::uint8_t* data_ = nullptr;
};

// Where the picture's bytes come from: a file, or in tests a source made to fail.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::int64_t size() const = 0;
    // Reads up to size bytes at offset; the count read, short only at the end of the
    // source. Throws EngineError(ReadFailed) on an I/O error.
    virtual std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
    // True when path names the very file read (any spelling, hard or symbolic link).
    virtual bool isSameFile(const std::string& path) const = 0;
    // size bytes at offset mapped (see MappedBytes), or nothing where the source cannot
    // be mapped; then the caller reads.
    virtual MappedBytes map(std::int64_t /*offset*/, std::size_t /*size*/) { return {}; }
    // Whether readAt may be called from several threads at once.
    virtual bool readsConcurrently() const { return false; }
};

// Opens path for reading with pread; throws EngineError(CannotOpenInput) for a path
// that cannot be opened or is a folder.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);

class PictureReader : public OutputSource {
public:
    // Opens the file and reads its headers (bytes the file lacks read as zero).
    static PictureReader open(const std::string& path);
    // The same over any source; path is used in messages only.
    PictureReader(std::unique_ptr<ByteSource> source, std::string path);

    const std::string& path() const noexcept { return path_; }
    // The header values as stored.
    const BitmapProbe& header() const noexcept { return header_; }

    // Looks at the file as it is now and throws the EngineError that says why the stored rows cannot be read as 24-bit
    // pixels: too short for its headers, a depth other than 24 (8 included: the
    // designed scripts handle 8 bits before asking), another header format, a
    // compressed picture, no pixels per row, a width past kMaxWidth, a pixel offset
    // inside the headers or past the end, or rows that end past the end of the file
    // (the last row may lack its padding). Nothing is written before this passes.
    //
    // Names: a refused file that does not begin with "BM" is refused as no bitmap at
    // all (a PNG, a text file) rather than by a field read from whatever it holds; a
    // file the checks above accept is read either way. The designed window keeps the
    // field's message (Ignores).
    enum class Signature { Ignores, Names };
    void require24Bit(Signature signature = Signature::Ignores);

    std::int64_t width() const noexcept { return header_.width; }
    std::int64_t height() const noexcept { return header_.rows(); }
    std::int64_t stride() const noexcept { return header_.rowStride; }
    bool topDown() const noexcept { return header_.topDown(); }

    // Index in the file of image row y counted from the top.
    std::int64_t storedIndex(std::int64_t y) const noexcept { return topDown() ? y : height() - 1 - y; }

    // Reads the stored rows first .. first + count - 1 (file order) in one read into
    // buffer, count * stride() bytes. Missing padding of the last row reads as zero;
    // any other missing byte (the file shrank since it was checked) is a
    // Truncated error, and an I/O error a ReadFailed one. Needs require24Bit().
    void readStored(std::int64_t first, std::int64_t count, std::uint8_t* buffer);

    // Reads the first `bytes` bytes (at most width() * 3) of each of the stored rows
    // first .. first + count - 1 into buffer, packed `bytes` apart: what the crop
    // needs of a wide picture, without reading the columns it drops.
    void readStoredColumns(std::int64_t first, std::int64_t count, std::size_t bytes, std::uint8_t* buffer);

    // The stored rows first .. first + count - 1 mapped for the kernel to copy from,
    // or nothing where the file cannot be mapped. Whether the rows are still all there
    // shows only when they are written; readStored() then tells what went wrong.
    MappedBytes mapStored(std::int64_t first, std::int64_t count)
    {
        return source_->map(header_.pixelOffset + first * stride(), static_cast<std::size_t>(count * stride()));
    }

    bool isSameFile(const std::string& path) const override { return source_->isSameFile(path); }
    // Whether two threads may read rows of it at once.
    bool readsConcurrently() const { return source_->readsConcurrently(); }
    // The file's size as it is now.
    std::int64_t sizeNow() const { return source_->size(); }

private:
    std::unique_ptr<ByteSource> source_;
    std::string path_;
    BitmapProbe header_;
};

// Image rows in the order an operation needs them, read in blocks of many rows.
// Each call to next() gives the next row's bytes (stride() bytes, valid until the
// following call). A block is one read of at least kBlockBytes unless the rows
// asked for are fewer.
//
// Mapped, the rows come straight from the file's cached pages, a window of
// kMappedBytes at a time, where the file can be mapped; the rest is read as above.
// The caller then asks lost() once it has used a row: true when the file could not
// be read under it (cut meanwhile), and again() gives that row read, or throws the
// error the read gives; every row after it is read. confirm() throws Truncated when
// the file no longer holds the mapped rows handed out so far (a file cut inside a
// page reads as zeros there rather than faulting): the caller asks it before it
// passes on what it made of them.
class RowStream {
public:
    enum class Order { TopFirst, BottomFirst };
    enum class Reading { Copied, Mapped };
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    static constexpr std::size_t kMappedBytes = std::size_t{4} << 20;

    // Image rows y1..y2 from the top (TopFirst), or every row from the bottom up
    // (BottomFirst: y1 and y2 are ignored).
    RowStream(PictureReader& reader, Order order, std::int64_t y1, std::int64_t y2,
              Reading reading = Reading::Copied);

    std::int64_t rows() const noexcept { return count_; }
    const std::uint8_t* next();

    bool lost() const noexcept { return guard_ && guard_->lost(); }
    const std::uint8_t* again();
    void confirm();

private:
    // Starts the block of the next row: mapped when it can be, else read.
    void startBlock();
    void unmap();

    PictureReader& reader_;
    std::int64_t count_ = 0;      // rows in all
    std::int64_t done_ = 0;       // rows handed out
    std::int64_t firstStored_ = 0;
    int direction_ = 1;           // +1: file order; -1: against it
    std::int64_t blockRows_ = 0;  // rows per block read
    std::int64_t inBlock_ = 0;    // rows of the current block not yet handed out
    const std::uint8_t* cursor_ = nullptr;
    BlockBuffer buffer_;
    // Mapped reading: rows per window, and the stored rows below mappableRows_, which
    // lie whole inside the file as checked (a last row without its padding does not).
    bool mapping_ = false;
    std::int64_t mapRows_ = 0;
    std::int64_t mappableRows_ = 0;
    MappedBytes mapped_;
    std::optional<platform::ReadGuard> guard_;
    std::int64_t mappedEnd_ = 0;  // the file's bytes the current window needs
};

}  // namespace engine

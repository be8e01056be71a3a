#pragma once
// A picture held in memory once: the 24-bit pixels of a bitmap read by the engine's
// reader (packed, top row first), or the values of an NDVI raster. Nothing here knows
// about widgets.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace view {

// A file the viewer cannot show, with the Japanese message the user reads.
class ViewError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Which file a path names, to refuse writing over the open picture under any name.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
};
FileIdentity identityOf(const std::string& path);
bool sameFile(const FileIdentity& a, const std::string& path);

class LoadedPicture {
public:
    enum class Kind { Bitmap, Raster };

    Kind kind() const noexcept { return kind_; }
    const std::string& path() const noexcept { return path_; }
    const FileIdentity& identity() const noexcept { return identity_; }
    std::int64_t width() const noexcept { return width_; }
    std::int64_t height() const noexcept { return height_; }
    // Raster: what its header says it is (the ENVI description, the TIFF's
    // ImageDescription), empty when it says nothing.
    const std::string& description() const noexcept { return description_; }
    void setDescription(std::string description) { description_ = std::move(description); }

    // Bitmap: the pixel's blue, green, red bytes.
    const std::uint8_t* pixel(std::int64_t x, std::int64_t y) const noexcept
    {
        return bytes_.get() + 3 * (y * width_ + x);
    }
    const std::uint8_t* row(std::int64_t y) const noexcept { return bytes_.get() + 3 * y * width_; }
    // Raster: the values of row y.
    const float* values(std::int64_t y) const noexcept { return values_.get() + y * width_; }

    // Bitmap: how many pixels hold each pair of NIR (red) byte and red (green) byte,
    // at nirByte << 8 | redByte. Whole-frame NDVI counts for any white values follow
    // from it without another pass over the pixels.
    const std::uint64_t* pairCounts() const noexcept { return pairCounts_.get(); }

    // Reads a 24-bit bitmap with the engine's reader: EngineError with the engine's
    // message for every picture it cannot read right, ViewError when it will not fit
    // in the memory available (std::bad_alloc when that shrank meanwhile).
    static LoadedPicture readBitmap(const std::string& path);

    // Reads a little-endian float32 raster of this width and height whose values start
    // at offset; ViewError when the file size does not match or it will not fit in the
    // memory available.
    static LoadedPicture readRaster(const std::string& path, std::int64_t width, std::int64_t height,
                                    std::int64_t offset = 0);

    // Reads a one-band float32 TIFF, as the NDVI exports are written, with its
    // ImageDescription; ViewError for any other TIFF or one that will not fit.
    static LoadedPicture readTiff(const std::string& path);

private:
    // A raster of this size with room for its values, once the memory is known to be there.
    static LoadedPicture emptyRaster(const std::string& path, std::int64_t width, std::int64_t height);
    Kind kind_ = Kind::Bitmap;
    std::string path_;
    FileIdentity identity_;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
    std::string description_;
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::unique_ptr<float[]> values_;
    std::unique_ptr<std::uint64_t[]> pairCounts_;
};

// What an ENVI header says about a one-band raster.
struct RasterLayout {
    std::int64_t width = 0;   // samples
    std::int64_t height = 0;  // lines
    std::int64_t offset = 0;  // header offset
    std::string description;  // between the braces of "description = {...}", joined to one line
};

// The header beside a raster: FILE.hdr for FILE.raw, or FILE.raw.hdr; nothing when
// neither exists.
std::optional<std::string> enviHeaderBeside(const std::string& rasterPath);

// Parses an ENVI header; ViewError unless it describes one band of little-endian
// float32 values (data type 4, byte order 0), as the NDVI rasters are written.
RasterLayout parseEnviHeader(const std::string& text, const std::string& headerPath);

// The bytes a picture may still take: the smaller of the system's MemAvailable and what
// the process's RLIMIT_AS and RLIMIT_DATA leave beside what it already uses; the
// largest number when none of them is known.
std::uint64_t availableMemory();
// A figure of the test's own in place of the system's; nothing: the system's again.
void setAvailableMemoryForTesting(std::optional<std::uint64_t> bytes);

// Throws ViewError naming path and the sizes unless a picture of width x height with
// bytesPerPixel bytes a pixel, and the buffers beside it, fit in availableMemory().
// Called before anything of the picture is allocated.
void requireMemoryFor(const std::string& path, std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel);

// The size of a file in bytes; EngineError(CannotOpenInput) when it cannot be opened.
std::int64_t fileSize(const std::string& path);

}  // namespace view

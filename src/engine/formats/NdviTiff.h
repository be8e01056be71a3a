#pragma once
// The NDVI raster as a single-band float32 TIFF that GIS programs and ImageJ open
// without a side file: DEFLATE with the floating-point predictor, strips of whole
// rows, and -10 declared as the no-data value in the GDAL_NODATA tag (42113) that
// GDAL and QGIS read. libtiff writes the tags and the directory; the strips are
// predicted and compressed here, on the process's pool of compression threads, and
// handed to it in order as raw strips.

#include "engine/platform/EngineError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace engine {

class StagedFile;

// The threads that predict and compress TIFF strips, one pool for every writer of the
// process: however many files are written at once, it starts no more threads than its
// size, and holds no more strips in flight than two a thread (a strip's floats and its
// compressed bytes, about 512 KiB: about 1 MiB a thread), and one for each writer that
// has none, so that no writer waits for another. Threads start as writers first need
// them and stay until the pool ends.
class TiffCompressionPool {
public:
    // Starts a thread running the function or throws (std::system_error): std::thread
    // unless another is given.
    using StartThread = std::function<std::thread(std::function<void()>)>;
    explicit TiffCompressionPool(std::size_t threads, StartThread start = {});
    // Ends and joins the threads; no writer may still be using the pool.
    ~TiffCompressionPool();
    TiffCompressionPool(const TiffCompressionPool&) = delete;
    TiffCompressionPool& operator=(const TiffCompressionPool&) = delete;

    // The process's pool, of std::thread::hardware_concurrency() threads (1 to 64);
    // never ended, so that no writer outlives it.
    static TiffCompressionPool& shared();

    std::size_t threads() const noexcept;
    std::size_t liveThreads() const;         // started and not ended
    std::size_t mostLiveThreads() const;     // the most alive at once, ever
    std::size_t mostStripsInFlight() const;  // the most handed to the threads at once, ever

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend class NdviTiffWriter;
};

// No compression thread could be started for a file (the system is out of threads or
// memory): the file is not written. The message in Japanese, the path on a line of its
// own, as EngineError's.
class TiffThreadError : public std::runtime_error {
public:
    explicit TiffThreadError(const std::string& path);
    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
};

inline constexpr std::uint32_t kGdalNoDataTag = 42113;

// libdeflate's levels. The default is the fastest level whose files stay within 1 % of
// level 6's on camera frames (docs/performance.md): level 1's are up to 3 % larger.
inline constexpr int kMinTiffLevel = 1;
inline constexpr int kMaxTiffLevel = 12;
inline constexpr int kDefaultTiffLevel = 2;

class NdviTiffWriter {
public:
    // Writes into a staged file's temporary; failures name its final path and mark it
    // failed, and its group closes the descriptor. description, when not empty, goes
    // into the ImageDescription tag; level is the DEFLATE level, kMinTiffLevel to
    // kMaxTiffLevel; pool, when not null, compresses instead of the shared one. Throws
    // EngineError(CannotCreateOutput), or TiffThreadError when the pool has no thread
    // and cannot start one.
    NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height, const std::string& description = {},
                   int level = kDefaultTiffLevel, TiffCompressionPool* pool = nullptr);
    // Creates path itself (replacing a file there), for a caller that places nothing.
    NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height, const std::string& description = {},
                   int level = kDefaultTiffLevel, TiffCompressionPool* pool = nullptr);
    ~NdviTiffWriter();
    NdviTiffWriter(const NdviTiffWriter&) = delete;
    NdviTiffWriter& operator=(const NdviTiffWriter&) = delete;

    // Rows first .. first + count - 1, in order, width values each, as runNdvi shows
    // them. Throws EngineError(WriteFailed).
    void addRows(std::int64_t first, std::int64_t count, const float* values);

    // Writes the last strip and the directory and closes the TIFF; throws
    // EngineError(WriteFailed) when any of its writes, its flush or its close failed.
    void finish();

private:
    void open(std::int64_t width, std::int64_t height, const std::string& description, int level,
              TiffCompressionPool* pool);
    struct State;
    std::unique_ptr<State> state_;
};

// The strip as stored before compression: each row's float bytes split into planes,
// most significant first, then every byte replaced by its difference from the byte
// before it in the row (TIFF's floating-point predictor, 3). rows rows of width
// values from values into out, rows * width * 4 bytes.
void predictFloatRows(const float* values, std::size_t width, std::size_t rows, std::uint8_t* out);

// Makes libtiff know the GDAL_NODATA tag on every file it opens from now on, for
// writing or reading.
void installGdalTags();

// Silences libtiff's error and warning handlers, which belong to the whole process:
// set once, whatever thread asks first. Every reader and writer of TIFFs calls it
// before it opens one.
void quietLibtiff();

}  // namespace engine

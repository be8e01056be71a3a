#include "engine/NdviTiff.h"

#include "engine/OutputPath.h"
#include "engine/Platform.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <deque>
#include <new>
#include <thread>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace engine {

namespace {

// Rows per strip: about 256 KiB of floats, as GDAL likes them, at least one row.
std::uint32_t stripRows(std::int64_t width)
{
    return static_cast<std::uint32_t>(std::max<std::int64_t>(1, (std::int64_t{256} << 10) / (width * 4)));
}

// libtiff reports through handlers that print to standard error; its return values
// say everything the writer needs.
void quiet(const char*, const char*, va_list) {}

}  // namespace

// The handlers are the process's, so they are set once: writers on several threads
// setting them each time would race.
void quietLibtiff()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(quiet);
        TIFFSetWarningHandler(quiet);
    });
}

namespace {

TIFFExtendProc previousExtender = nullptr;

void extendWithGdalTags(TIFF* tiff)
{
    static const TIFFFieldInfo fields[] = {
        {static_cast<ttag_t>(kGdalNoDataTag), -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")},
    };
    TIFFMergeFieldInfo(tiff, fields, 1);
    if (previousExtender) previousExtender(tiff);
}

}  // namespace

void installGdalTags()
{
    // Once per process, before any file is opened: a tag the library does not know
    // when it reads a directory is kept as an anonymous one of another shape.
    static const bool installed = [] {
        previousExtender = TIFFSetTagExtender(extendWithGdalTags);
        return true;
    }();
    (void)installed;
}

namespace {

// libtiff's file calls, over the descriptor: its writes go where every output's do.
struct TiffFile {
    int fd = -1;
    bool ownsFd = false;
    bool ioFailed = false;  // a write or the close of the descriptor failed
};

TiffFile& stateOf(thandle_t handle)
{
    return *static_cast<TiffFile*>(handle);
}

tmsize_t readProc(thandle_t handle, void* data, tmsize_t size)
{
    auto* at = static_cast<char*>(data);
    tmsize_t done = 0;
    while (done < size) {
        const std::int64_t n = platform::readSome(stateOf(handle).fd, at + done, static_cast<std::size_t>(size - done));
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

tmsize_t writeProc(thandle_t handle, void* data, tmsize_t size)
{
    TiffFile& s = stateOf(handle);
    const auto* at = static_cast<const char*>(data);
    tmsize_t done = 0;
    while (done < size) {
        const std::int64_t n = platform::writeSome(s.fd, at + done, static_cast<std::size_t>(size - done));
        if (n <= 0) {
            s.ioFailed = true;
            return -1;
        }
        done += n;
    }
    return done;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    const std::int64_t at = platform::seekFile(stateOf(handle).fd, static_cast<std::int64_t>(offset), whence);
    return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}

int closeProc(thandle_t handle)
{
    TiffFile& s = stateOf(handle);
    if (!s.ownsFd || s.fd < 0) return 0;  // a staged file's group closes it
    const int fd = std::exchange(s.fd, -1);
    if (platform::closeFile(fd) != 0) {
        s.ioFailed = true;
        return -1;
    }
    return 0;
}

toff_t sizeProc(thandle_t handle)
{
    const std::int64_t size = platform::fileSize(stateOf(handle).fd);
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

int mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// A strip on its way: its rows as given, then its compressed bytes.
struct Strip {
    std::unique_ptr<float[]> values;
    std::int64_t rows = 0;
    std::vector<std::uint8_t> packed;  // room for the worst case, compressBound
    std::size_t packedBytes = 0;       // 0: compression failed
    bool ready = false;                // compressed; guarded by the pool's mutex
};

// Predicts and compresses one strip into its packed bytes, with the given compressor
// and a scratch of at least the strip's bytes.
void packStrip(Strip& strip, std::size_t width, libdeflate_compressor* compressor, std::uint8_t* scratch)
{
    const std::size_t bytes = static_cast<std::size_t>(strip.rows) * width * 4;
    predictFloatRows(strip.values.get(), width, static_cast<std::size_t>(strip.rows), scratch);
    strip.packedBytes = libdeflate_zlib_compress(compressor, scratch, bytes, strip.packed.data(), strip.packed.size());
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

Compressor makeCompressor(int level)
{
    Compressor c(libdeflate_alloc_compressor(level));
    if (!c) throw std::bad_alloc();
    return c;
}

}  // namespace

void predictFloatRows(const float* values, std::size_t width, std::size_t rows, std::uint8_t* out)
{
    static_assert(std::endian::native == std::endian::little, "the planes are taken from little-endian floats");
    const std::size_t rowBytes = width * 4;
    for (std::size_t r = 0; r < rows; ++r) {
        const auto* in = reinterpret_cast<const std::uint8_t*>(values + r * width);
        std::uint8_t* row = out + r * rowBytes;
        std::uint8_t* plane0 = row;
        std::uint8_t* plane1 = row + width;
        std::uint8_t* plane2 = row + 2 * width;
        std::uint8_t* plane3 = row + 3 * width;
        for (std::size_t i = 0; i < width; ++i) {
            plane0[i] = in[4 * i + 3];
            plane1[i] = in[4 * i + 2];
            plane2[i] = in[4 * i + 1];
            plane3[i] = in[4 * i];
        }
        // From the end, so that each byte is taken from its neighbour before that
        // neighbour changes.
        for (std::size_t i = rowBytes - 1; i > 0; --i) row[i] = static_cast<std::uint8_t>(row[i] - row[i - 1]);
    }
}

struct NdviTiffWriter::State {
    TIFF* tiff = nullptr;
    std::string path;  // the name failures give: the final one
    TiffFile file;
    StagedFile* staged = nullptr;
    bool finished = false;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t rowsPerStrip = 1;
    int level = kDefaultTiffLevel;
    tstrip_t nextStrip = 0;
    std::int64_t nextRow = 0;
    bool failed = false;

    // The strips in flight, a ring in the order they go to the file: `outstanding` of
    // them from `head` are with the workers or ready, the one after them is filling.
    std::vector<Strip> slots;
    std::size_t head = 0;
    std::size_t outstanding = 0;

    // With one strip or one core, strips are compressed on the caller's thread.
    Compressor inlineCompressor;
    std::vector<std::uint8_t> inlineScratch;

    std::mutex mutex;
    std::condition_variable work;      // a strip is pending, or stop
    std::condition_variable finishedOne;
    std::deque<Strip*> pending;
    bool stop = false;
    std::vector<std::thread> workers;

    ~State() { stopWorkers(); }

    [[noreturn]] void fail()
    {
        failed = true;
        if (staged) staged->markFailed();
        throw EngineError(Failure::WriteFailed, path);
    }

    Strip& filling() { return slots[(head + outstanding) % slots.size()]; }

    void startWorkers(std::size_t count)
    {
        std::vector<Compressor> compressors;
        for (std::size_t i = 0; i < count; ++i) compressors.push_back(makeCompressor(level));
        const std::size_t scratchBytes = static_cast<std::size_t>(rowsPerStrip) * static_cast<std::size_t>(width) * 4;
        for (auto& c : compressors) {
            workers.emplace_back([this, compressor = std::move(c), scratchBytes] {
                std::vector<std::uint8_t> scratch(scratchBytes);
                std::unique_lock lock(mutex);
                for (;;) {
                    work.wait(lock, [&] { return stop || !pending.empty(); });
                    if (stop) return;
                    Strip* strip = pending.front();
                    pending.pop_front();
                    lock.unlock();
                    packStrip(*strip, static_cast<std::size_t>(width), compressor.get(), scratch.data());
                    lock.lock();
                    strip->ready = true;
                    finishedOne.notify_all();
                }
            });
        }
    }

    void stopWorkers()
    {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        work.notify_all();
        for (auto& w : workers) w.join();
        workers.clear();
    }

    // Hands the oldest strip in flight to libtiff, waiting for it when block is set;
    // false when it is not ready and block is not set.
    bool writeOldest(bool block)
    {
        Strip& strip = slots[head];
        if (!workers.empty()) {
            std::unique_lock lock(mutex);
            if (!strip.ready) {
                if (!block) return false;
                finishedOne.wait(lock, [&] { return strip.ready; });
            }
        }
        if (strip.packedBytes == 0) fail();
        const auto bytes = static_cast<tmsize_t>(strip.packedBytes);
        if (TIFFWriteRawStrip(tiff, nextStrip++, strip.packed.data(), bytes) != bytes) fail();
        strip.ready = false;
        strip.rows = 0;
        head = (head + 1) % slots.size();
        --outstanding;
        return true;
    }

    // The filling strip is complete: to a worker, or compressed and written here.
    void submit()
    {
        Strip& strip = filling();
        if (strip.rows == 0) return;
        ++outstanding;
        if (workers.empty()) {
            packStrip(strip, static_cast<std::size_t>(width), inlineCompressor.get(), inlineScratch.data());
            writeOldest(true);
            return;
        }
        {
            std::lock_guard lock(mutex);
            pending.push_back(&strip);
        }
        work.notify_one();
        // Whatever is ready goes out now; a full ring waits for its oldest strip.
        while (outstanding > 0 && writeOldest(false)) {
        }
        if (outstanding == slots.size()) writeOldest(true);
    }
};

NdviTiffWriter::NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height,
                               const std::string& description, int level)
    : state_(std::make_unique<State>())
{
    state_->path = file.finalPath();
    state_->file.fd = file.fd();
    state_->staged = &file;
    open(width, height, description, level);
}

NdviTiffWriter::NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height,
                               const std::string& description, int level)
    : state_(std::make_unique<State>())
{
    state_->path = path;
    state_->file.fd = platform::openFile(path, platform::Access::Rewrite);
    if (state_->file.fd < 0) throw EngineError(Failure::CannotCreateOutput, path);
    state_->file.ownsFd = true;
    open(width, height, description, level);
}

void NdviTiffWriter::open(std::int64_t width, std::int64_t height, const std::string& description, int level)
{
    quietLibtiff();
    installGdalTags();
    State& s = *state_;
    s.width = width;
    s.height = height;
    s.level = std::clamp(level, kMinTiffLevel, kMaxTiffLevel);
    // Classic TIFF up to 4 GB of data, BigTIFF beyond.
    const bool big = width * height * 4 > (std::int64_t{4000} << 20);
    s.tiff = TIFFClientOpen(s.path.c_str(), big ? "w8" : "w", &s.file, readProc, writeProc, seekProc, closeProc, sizeProc,
                            mapProc, unmapProc);
    if (!s.tiff) {
        if (s.file.ownsFd) platform::releaseFile(std::exchange(s.file.fd, -1));
        if (s.staged) s.staged->markFailed();
        throw EngineError(Failure::CannotCreateOutput, s.path);
    }
    s.rowsPerStrip = stripRows(width);
    TIFFSetField(s.tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
    TIFFSetField(s.tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
    TIFFSetField(s.tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(s.tiff, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(s.tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(s.tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(s.tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(s.tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(s.tiff, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    TIFFSetField(s.tiff, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
    TIFFSetField(s.tiff, TIFFTAG_SOFTWARE, "zrvimage");
    if (!description.empty()) TIFFSetField(s.tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
    TIFFSetField(s.tiff, kGdalNoDataTag, "-10");

    // A few strips per core in flight: enough for every core to have one while the
    // finished ones wait for the one before them, and no more memory than that.
    const std::int64_t strips = (height + s.rowsPerStrip - 1) / s.rowsPerStrip;
    const std::size_t cores = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 64);
    const std::size_t workers = strips > 1 && cores > 1 ? cores : 0;
    s.slots.resize(workers == 0 ? 1 : 2 * workers);
    const std::size_t stripValues = static_cast<std::size_t>(s.rowsPerStrip) * static_cast<std::size_t>(width);
    const std::size_t bound = libdeflate_zlib_compress_bound(nullptr, stripValues * 4);
    for (Strip& strip : s.slots) {
        strip.values = std::make_unique_for_overwrite<float[]>(stripValues);
        strip.packed.resize(bound);
    }
    if (workers == 0) {
        s.inlineCompressor = makeCompressor(s.level);
        s.inlineScratch.resize(stripValues * 4);
    } else {
        s.startWorkers(workers);
    }
}

NdviTiffWriter::~NdviTiffWriter()
{
    State& s = *state_;
    s.stopWorkers();
    if (s.staged && !s.finished) s.staged->markFailed();
    if (s.tiff) TIFFClose(s.tiff);
    if (s.file.ownsFd) platform::releaseFile(s.file.fd);
}

void NdviTiffWriter::addRows(std::int64_t first, std::int64_t count, const float* values)
{
    State& s = *state_;
    if (s.failed || first != s.nextRow) s.fail();
    const auto width = static_cast<std::size_t>(s.width);
    while (count > 0) {
        Strip& strip = s.filling();
        const std::int64_t n = std::min<std::int64_t>(count, s.rowsPerStrip - strip.rows);
        std::memcpy(strip.values.get() + static_cast<std::size_t>(strip.rows) * width, values,
                    static_cast<std::size_t>(n) * width * 4);
        strip.rows += n;
        values += static_cast<std::size_t>(n) * width;
        count -= n;
        s.nextRow += n;
        if (strip.rows == s.rowsPerStrip) s.submit();
    }
}

void NdviTiffWriter::finish()
{
    State& s = *state_;
    if (s.failed || s.nextRow != s.height) s.fail();
    s.submit();
    while (s.outstanding > 0) s.writeOldest(true);
    // The directory goes out with the flush; a failure there is a failed write too,
    // and so is one of the close, which TIFFClose does not return.
    const bool written = TIFFFlush(s.tiff) == 1;
    TIFFClose(std::exchange(s.tiff, nullptr));
    if (!written || s.file.ioFailed) s.fail();
    s.finished = true;
}

}  // namespace engine

#include "engine/formats/NdviTiff.h"

#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"

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
    int ioError = 0;        // the errno of the first such failure
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
            if (!s.ioFailed) s.ioError = n == 0 ? ENOSPC : errno;
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
        if (!s.ioFailed) s.ioError = errno;
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
    std::size_t width = 0;
    int level = kDefaultTiffLevel;
    std::vector<std::uint8_t> packed;  // room for the worst case, compressBound
    std::size_t packedBytes = 0;       // 0: compression failed
    bool ready = false;                // compressed; guarded by the pool's mutex
};

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

// Predicts and compresses one strip into its packed bytes, with the given compressor
// and a scratch of at least the strip's bytes.
void packStrip(Strip& strip, libdeflate_compressor* compressor, std::uint8_t* scratch)
{
    const std::size_t bytes = static_cast<std::size_t>(strip.rows) * strip.width * 4;
    predictFloatRows(strip.values.get(), strip.width, static_cast<std::size_t>(strip.rows), scratch);
    strip.packedBytes = libdeflate_zlib_compress(compressor, scratch, bytes, strip.packed.data(), strip.packed.size());
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

// --- The pool ---------------------------------------------------------------------------

struct TiffCompressionPool::Impl {
    std::size_t limit = 1;
    StartThread start;

    mutable std::mutex mutex;
    std::condition_variable work;     // a strip is pending, or stop
    std::condition_variable changed;  // a strip is compressed, or a slot is free
    std::deque<Strip*> pending;
    std::vector<std::thread> threads;
    std::size_t live = 0, mostLive = 0, idle = 0;
    std::ptrdiff_t slotsFree = 0;  // strips that may still be handed over; below 0: see submit()
    std::size_t inFlight = 0, mostInFlight = 0;
    bool stop = false;

    void run()
    {
        // A compressor per level as strips ask for them, and a scratch as large as the
        // largest strip yet: both the thread's own.
        std::vector<Compressor> compressors(kMaxTiffLevel + 1);
        std::vector<std::uint8_t> scratch;
        std::unique_lock lock(mutex);
        for (;;) {
            ++idle;
            work.wait(lock, [&] { return stop || !pending.empty(); });
            --idle;
            if (stop) break;
            Strip* strip = pending.front();
            pending.pop_front();
            lock.unlock();
            try {
                Compressor& c = compressors[static_cast<std::size_t>(strip->level)];
                if (!c) c = makeCompressor(strip->level);
                scratch.resize(std::max(scratch.size(), static_cast<std::size_t>(strip->rows) * strip->width * 4));
                packStrip(*strip, c.get(), scratch.data());
            } catch (const std::bad_alloc&) {
                strip->packedBytes = 0;  // the writer fails the file
            }
            lock.lock();
            strip->ready = true;
            changed.notify_all();
        }
        --live;
    }

    // One more thread when the idle ones are fewer than the strips waiting and fewer
    // than the limit run; false when it was needed and could not be started. Called
    // with the mutex held, as is startThread.
    bool grow() { return idle >= pending.size() || live >= limit || startThread(); }

    bool startThread()
    {
        ++live;
        try {
            threads.push_back(start([this] { run(); }));
        } catch (const std::exception&) {
            --live;
            return false;
        }
        mostLive = std::max(mostLive, live);
        return true;
    }
};

TiffCompressionPool::TiffCompressionPool(std::size_t threads, StartThread start) : impl_(std::make_unique<Impl>())
{
    impl_->limit = std::max<std::size_t>(threads, 1);
    impl_->slotsFree = static_cast<std::ptrdiff_t>(2 * impl_->limit);
    impl_->start = start ? std::move(start) : [](std::function<void()> f) { return std::thread(std::move(f)); };
}

TiffCompressionPool::~TiffCompressionPool()
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stop = true;
    }
    impl_->work.notify_all();
    for (std::thread& t : impl_->threads) {
        if (t.joinable()) t.join();
    }
}

TiffCompressionPool& TiffCompressionPool::shared()
{
    // Never destroyed: its threads wait for work to the end of the process, and a
    // writer on another thread at exit finds it still there.
    static TiffCompressionPool* pool =
        new TiffCompressionPool(std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 64));
    return *pool;
}

std::size_t TiffCompressionPool::threads() const noexcept
{
    return impl_->limit;
}

std::size_t TiffCompressionPool::liveThreads() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->live;
}

std::size_t TiffCompressionPool::mostLiveThreads() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->mostLive;
}

std::size_t TiffCompressionPool::mostStripsInFlight() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->mostInFlight;
}

TiffThreadError::TiffThreadError(const std::string& path)
    : std::runtime_error("TIFF の圧縮に使うスレッドを起動できません（システムのスレッドかメモリが足りません）\n" + path),
      path_(path)
{
}

// --- The writer -------------------------------------------------------------------------

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

    // The strip filling, the ones handed to the pool in the order they go to the file,
    // and one kept for the next strip so that a steady run allocates nothing.
    std::size_t stripValues = 0, packedBound = 0;
    std::unique_ptr<Strip> filling;
    std::deque<std::unique_ptr<Strip>> outstanding;
    std::unique_ptr<Strip> spare;

    // Without a pool (one strip, or one core), strips are compressed on the caller's
    // thread.
    TiffCompressionPool::Impl* pool = nullptr;
    Compressor inlineCompressor;
    std::vector<std::uint8_t> inlineScratch;

    ~State()
    {
        recall();
        // Every path closes the TIFF and the descriptor, a half-made file included.
        if (staged && !finished) staged->markFailed();
        if (tiff) TIFFClose(tiff);
        if (file.ownsFd) platform::releaseFile(file.fd);
    }

    [[noreturn]] void fail()
    {
        failed = true;
        if (staged) staged->markFailed();
        throw EngineError(Failure::WriteFailed, path, 0, file.ioError);
    }

    std::unique_ptr<Strip> newStrip()
    {
        if (spare) return std::move(spare);
        auto strip = std::make_unique<Strip>();
        strip->values = std::make_unique_for_overwrite<float[]>(stripValues);
        strip->width = static_cast<std::size_t>(width);
        strip->level = level;
        strip->packed.resize(packedBound);
        return strip;
    }

    // Takes back every strip still with the pool (a run that failed or was
    // cancelled): the pending ones from its queue, the ones being compressed once they
    // are done, so that no thread touches them after this writer is gone.
    void recall()
    {
        if (!pool || outstanding.empty()) return;
        std::unique_lock lock(pool->mutex);
        for (auto& strip : outstanding) {
            const auto at = std::find(pool->pending.begin(), pool->pending.end(), strip.get());
            if (at != pool->pending.end()) {
                pool->pending.erase(at);
            } else {
                pool->changed.wait(lock, [&] { return strip->ready; });
            }
            ++pool->slotsFree;
            --pool->inFlight;
        }
        outstanding.clear();
        lock.unlock();
        pool->changed.notify_all();
    }

    // Hands the oldest strip in flight to libtiff, waiting for it when block is set;
    // false when it is not ready and block is not set.
    bool writeOldest(bool block)
    {
        std::unique_ptr<Strip> strip = std::move(outstanding.front());
        {
            std::unique_lock lock(pool->mutex);
            if (!strip->ready) {
                if (!block) {
                    outstanding.front() = std::move(strip);
                    return false;
                }
                pool->changed.wait(lock, [&] { return strip->ready; });
            }
            strip->ready = false;
            ++pool->slotsFree;
            --pool->inFlight;
        }
        outstanding.pop_front();
        pool->changed.notify_all();
        write(*strip);
        spare = std::move(strip);
        return true;
    }

    void write(Strip& strip)
    {
        if (strip.packedBytes == 0) fail();
        const auto bytes = static_cast<tmsize_t>(strip.packedBytes);
        if (TIFFWriteRawStrip(tiff, nextStrip++, strip.packed.data(), bytes) != bytes) fail();
        strip.rows = 0;
    }

    // The filling strip is complete: to the pool, or compressed and written here.
    void submit()
    {
        if (filling->rows == 0) return;
        if (!pool) {
            packStrip(*filling, inlineCompressor.get(), inlineScratch.data());
            write(*filling);
            return;
        }
        // A slot first: while the process has none free, this writer's own oldest
        // strip goes out, giving its slot back. A writer with none in flight takes one
        // all the same, so that no writer ever waits for another (which may be on
        // its own thread): the process holds at most one strip a writer beyond the
        // pool's two a thread.
        for (;;) {
            std::unique_lock lock(pool->mutex);
            if (pool->slotsFree > 0 || outstanding.empty()) {
                --pool->slotsFree;
                pool->mostInFlight = std::max(pool->mostInFlight, ++pool->inFlight);
                pool->pending.push_back(filling.get());
                // A thread that cannot be started is no failure while others run.
                pool->grow();
                break;
            }
            lock.unlock();
            writeOldest(true);
        }
        pool->work.notify_one();
        outstanding.push_back(std::move(filling));
        filling = newStrip();
        // Whatever is ready goes out now.
        while (!outstanding.empty() && writeOldest(false)) {
        }
    }
};

NdviTiffWriter::NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height,
                               const std::string& description, int level, TiffCompressionPool* pool)
    : state_(std::make_unique<State>())
{
    state_->path = file.finalPath();
    state_->file.fd = file.fd();
    state_->staged = &file;
    open(width, height, description, level, pool);
}

NdviTiffWriter::NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height,
                               const std::string& description, int level, TiffCompressionPool* pool)
    : state_(std::make_unique<State>())
{
    state_->path = path;
    state_->file.fd = platform::openFile(path, platform::Access::Rewrite);
    if (state_->file.fd < 0) throw systemFailure(Failure::CannotCreateOutput, path);
    state_->file.ownsFd = true;
    open(width, height, description, level, pool);
}

void NdviTiffWriter::open(std::int64_t width, std::int64_t height, const std::string& description, int level,
                          TiffCompressionPool* pool)
{
    quietLibtiff();
    installGdalTags();
    State& s = *state_;
    s.width = width;
    s.height = height;
    s.level = std::clamp(level, kMinTiffLevel, kMaxTiffLevel);
    s.rowsPerStrip = stripRows(width);
    s.stripValues = static_cast<std::size_t>(s.rowsPerStrip) * static_cast<std::size_t>(width);
    s.packedBound = libdeflate_zlib_compress_bound(nullptr, s.stripValues * 4);

    // The pool's threads when there is more than one strip and more than one thread;
    // at least one of them running before anything is written.
    const std::int64_t strips = (height + s.rowsPerStrip - 1) / s.rowsPerStrip;
    TiffCompressionPool& threads = pool ? *pool : TiffCompressionPool::shared();
    if (strips > 1 && threads.threads() > 1) {
        TiffCompressionPool::Impl& p = *threads.impl_;
        std::lock_guard lock(p.mutex);
        if (p.live == 0 && !p.startThread()) {
            if (s.staged) s.staged->markFailed();
            throw TiffThreadError(s.path);
        }
        s.pool = &p;
    } else {
        s.inlineCompressor = makeCompressor(s.level);
        s.inlineScratch.resize(s.stripValues * 4);
    }
    s.filling = s.newStrip();

    // Classic TIFF up to 4 GB of data, BigTIFF beyond.
    const bool big = width * height * 4 > (std::int64_t{4000} << 20);
    s.tiff = TIFFClientOpen(s.path.c_str(), big ? "w8" : "w", &s.file, readProc, writeProc, seekProc, closeProc, sizeProc,
                            mapProc, unmapProc);
    if (!s.tiff) {
        if (s.file.ownsFd) platform::releaseFile(std::exchange(s.file.fd, -1));
        if (s.staged) s.staged->markFailed();
        throw EngineError(Failure::CannotCreateOutput, s.path);
    }
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
}

NdviTiffWriter::~NdviTiffWriter() = default;

void NdviTiffWriter::addRows(std::int64_t first, std::int64_t count, const float* values)
{
    State& s = *state_;
    if (s.failed || first != s.nextRow) s.fail();
    const auto width = static_cast<std::size_t>(s.width);
    while (count > 0) {
        Strip& strip = *s.filling;
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
    while (!s.outstanding.empty()) s.writeOldest(true);
    // The directory goes out with the flush; a failure there is a failed write too,
    // and so is one of the close, which TIFFClose does not return.
    const bool written = TIFFFlush(s.tiff) == 1;
    TIFFClose(std::exchange(s.tiff, nullptr));
    if (!written || s.file.ioFailed) s.fail();
    s.finished = true;
}

}  // namespace engine

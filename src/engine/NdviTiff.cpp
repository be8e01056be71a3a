#include "engine/NdviTiff.h"

#include "engine/OutputPath.h"
#include "engine/Platform.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
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
        const ssize_t n = ::read(stateOf(handle).fd, at + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
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
        const ssize_t n = platform::writeSome(s.fd, at + done, static_cast<std::size_t>(size - done));
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
    const off_t at = ::lseek(stateOf(handle).fd, static_cast<off_t>(offset), whence);
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
    struct stat st {};
    return ::fstat(stateOf(handle).fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

int mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

}  // namespace

struct NdviTiffWriter::State {
    TIFF* tiff = nullptr;
    std::string path;  // the name failures give: the final one
    TiffFile file;
    StagedFile* staged = nullptr;
    bool finished = false;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t rowsPerStrip = 1;
    std::vector<float> strip;   // the strip being filled
    std::int64_t stripRowsHeld = 0;
    tstrip_t nextStrip = 0;
    std::int64_t nextRow = 0;
    bool failed = false;

    [[noreturn]] void fail()
    {
        failed = true;
        if (staged) staged->markFailed();
        throw EngineError(Failure::WriteFailed, path);
    }

    void flushStrip()
    {
        if (stripRowsHeld == 0) return;
        const auto bytes = static_cast<tmsize_t>(stripRowsHeld * width * 4);
        if (TIFFWriteEncodedStrip(tiff, nextStrip++, strip.data(), bytes) != bytes) fail();
        stripRowsHeld = 0;
    }
};

NdviTiffWriter::NdviTiffWriter(StagedFile& file, std::int64_t width, std::int64_t height,
                               const std::string& description)
    : state_(std::make_unique<State>())
{
    state_->path = file.finalPath();
    state_->file.fd = file.fd();
    state_->staged = &file;
    open(width, height, description);
}

NdviTiffWriter::NdviTiffWriter(const std::string& path, std::int64_t width, std::int64_t height,
                               const std::string& description)
    : state_(std::make_unique<State>())
{
    state_->path = path;
    state_->file.fd = platform::openFile(path.c_str(), O_RDWR | O_CREAT | O_TRUNC);
    if (state_->file.fd < 0) throw EngineError(Failure::CannotCreateOutput, path);
    state_->file.ownsFd = true;
    open(width, height, description);
}

void NdviTiffWriter::open(std::int64_t width, std::int64_t height, const std::string& description)
{
    quietLibtiff();
    installGdalTags();
    State& s = *state_;
    s.width = width;
    s.height = height;
    // Classic TIFF up to 4 GB of data, BigTIFF beyond.
    const bool big = width * height * 4 > (std::int64_t{4000} << 20);
    s.tiff = TIFFClientOpen(s.path.c_str(), big ? "w8" : "w", &s.file, readProc, writeProc, seekProc, closeProc, sizeProc,
                            mapProc, unmapProc);
    if (!s.tiff) {
        if (s.file.ownsFd) ::close(std::exchange(s.file.fd, -1));
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
    s.strip.resize(static_cast<std::size_t>(s.rowsPerStrip * width));
}

NdviTiffWriter::~NdviTiffWriter()
{
    State& s = *state_;
    if (s.staged && !s.finished) s.staged->markFailed();
    if (s.tiff) TIFFClose(s.tiff);
    if (s.file.ownsFd && s.file.fd >= 0) ::close(s.file.fd);
}

void NdviTiffWriter::addRows(std::int64_t first, std::int64_t count, const float* values)
{
    State& s = *state_;
    if (s.failed || first != s.nextRow) s.fail();
    for (std::int64_t i = 0; i < count; ++i) {
        std::memcpy(s.strip.data() + s.stripRowsHeld * s.width, values + i * s.width, static_cast<std::size_t>(s.width) * 4);
        if (++s.stripRowsHeld == s.rowsPerStrip) s.flushStrip();
    }
    s.nextRow += count;
}

void NdviTiffWriter::finish()
{
    State& s = *state_;
    if (s.failed || s.nextRow != s.height) s.fail();
    s.flushStrip();
    // The directory goes out with the flush; a failure there is a failed write too,
    // and so is one of the close, which TIFFClose does not return.
    const bool written = TIFFFlush(s.tiff) == 1;
    TIFFClose(std::exchange(s.tiff, nullptr));
    if (!written || s.file.ioFailed) s.fail();
    s.finished = true;
}

}  // namespace engine

#include "view/LoadedPicture.h"

#include "engine/formats/NdviTiff.h"
#include "engine/formats/PictureReader.h"
#include "engine/platform/EngineError.h"

#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace view {

namespace {

constexpr std::size_t kPairs = std::size_t{1} << 16;

// Counts the (NIR, red) byte pairs of rows [first, last) into counts.
void countPairs(const LoadedPicture& picture, std::int64_t first, std::int64_t last, std::uint64_t* counts)
{
    const auto n = static_cast<std::size_t>(picture.width());
    for (std::int64_t y = first; y < last; ++y) {
        const std::uint8_t* p = picture.row(y);
        for (std::size_t x = 0; x < n; ++x, p += 3) ++counts[static_cast<std::size_t>(p[2]) << 8 | p[1]];
    }
}

std::string trimmed(std::string s)
{
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), space));
    s.erase(std::find_if_not(s.rbegin(), s.rend(), space).base(), s.end());
    return s;
}

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::optional<std::int64_t> wholeNumber(const std::string& text)
{
    // Nine digits keep width * height * 4 well inside 64 bits.
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// A "Name:   123 kB" line of a /proc file, in bytes; nothing when it is not there.
std::optional<std::uint64_t> procKilobytes(const char* file, const std::string& name)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 || line[name.size()] != ':') continue;
        std::uint64_t kilobytes = 0;
        bool digits = false;
        for (std::size_t i = name.size() + 1; i < line.size(); ++i) {
            const char c = line[i];
            if (c >= '0' && c <= '9') {
                if (kilobytes > std::numeric_limits<std::uint64_t>::max() / 1024 / 10) return std::nullopt;
                kilobytes = kilobytes * 10 + static_cast<std::uint64_t>(c - '0');
                digits = true;
            } else if (digits) {
                break;
            }
        }
        if (digits) return kilobytes * 1024;
        return std::nullopt;
    }
    return std::nullopt;
}

// What a limit leaves beside the process's use of it, or nothing when it is unlimited.
std::optional<std::uint64_t> leftUnder(int resource, const char* usedName)
{
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const std::uint64_t used = procKilobytes("/proc/self/status", usedName).value_or(0);
    const auto most = static_cast<std::uint64_t>(limit.rlim_cur);
    return most > used ? most - used : 0;
}

// The figure a test stands in, while testingMemory is set.
std::atomic<bool> testingMemory{false};
std::atomic<std::uint64_t> testingMemoryBytes{0};

}  // namespace

std::uint64_t availableMemory()
{
    if (testingMemory.load()) return testingMemoryBytes.load();
    std::uint64_t available = std::numeric_limits<std::uint64_t>::max();
    for (const auto& bound : {procKilobytes("/proc/meminfo", "MemAvailable"), leftUnder(RLIMIT_AS, "VmSize"),
                              leftUnder(RLIMIT_DATA, "VmData")}) {
        if (bound) available = std::min(available, *bound);
    }
    return available;
}

void setAvailableMemoryForTesting(std::optional<std::uint64_t> bytes)
{
    testingMemoryBytes.store(bytes.value_or(0));
    testingMemory.store(bytes.has_value());
}

void requireMemoryFor(const std::string& path, std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel)
{
    // Beside the pixels: the byte-pair counts, an export's block of rows and the NDVI
    // tables, a few mebibytes whatever the size.
    constexpr std::uint64_t kBeside = std::uint64_t{4} << 20;
    std::uint64_t pixels = 0, needed = 0;
    if (width < 0 || height < 0 || bytesPerPixel < 0 ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), &pixels) ||
        __builtin_mul_overflow(pixels, static_cast<std::uint64_t>(bytesPerPixel), &needed) ||
        __builtin_add_overflow(needed, kBeside, &needed)) {
        needed = std::numeric_limits<std::uint64_t>::max();
    }
    const std::uint64_t available = availableMemory();
    if (needed <= available) return;
    throw ViewError("画像が大きすぎてメモリに収まりません（" + std::to_string(width) + "×" + std::to_string(height) +
                    " の画像に " + std::to_string(needed) + " バイト必要ですが、使えるのは " +
                    std::to_string(available) + " バイトです）\n" + path);
}

FileIdentity identityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, true};
}

bool sameFile(const FileIdentity& a, const std::string& path)
{
    const FileIdentity b = identityOf(path);
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

std::int64_t fileSize(const std::string& path)
{
    return engine::openFileSource(path)->size();
}

LoadedPicture LoadedPicture::readBitmap(const std::string& path)
{
    engine::PictureReader reader = engine::PictureReader::open(path);
    reader.require24Bit(engine::PictureReader::Signature::Names);

    LoadedPicture p;
    p.kind_ = Kind::Bitmap;
    p.path_ = path;
    p.identity_ = identityOf(path);
    p.width_ = reader.width();
    p.height_ = reader.height();
    requireMemoryFor(path, p.width_, p.height_, 3);
    const auto rowBytes = static_cast<std::size_t>(p.width_) * 3;
    p.bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * static_cast<std::size_t>(p.height_));
    if (p.height_ > 0) {
        engine::RowStream rows(reader, engine::RowStream::Order::TopFirst, 0, p.height_ - 1);
        for (std::int64_t y = 0; y < p.height_; ++y) std::memcpy(p.bytes_.get() + y * rowBytes, rows.next(), rowBytes);
    }

    // Two halves counted side by side, then added: counts add exactly.
    p.pairCounts_ = std::make_unique<std::uint64_t[]>(kPairs);
    auto lower = std::make_unique<std::uint64_t[]>(kPairs);
    const std::int64_t middle = p.height_ / 2;
    std::thread helper([&] { countPairs(p, middle, p.height_, lower.get()); });
    countPairs(p, 0, middle, p.pairCounts_.get());
    helper.join();
    for (std::size_t i = 0; i < kPairs; ++i) p.pairCounts_[i] += lower[i];
    return p;
}

LoadedPicture LoadedPicture::readRaster(const std::string& path, std::int64_t width, std::int64_t height,
                                        std::int64_t offset)
{
    auto source = engine::openFileSource(path);
    const std::int64_t needed = width * height * 4;
    if (width <= 0 || height <= 0 || offset < 0 || source->size() < offset + needed) {
        throw ViewError("ラスターの大きさが合いません（" + std::to_string(source->size()) + " バイト、" +
                        std::to_string(width) + "×" + std::to_string(height) + " の float32 には " +
                        std::to_string(offset + needed) + " バイト必要です）\n" + path);
    }
    LoadedPicture p = emptyRaster(path, width, height);
    // Stored little-endian, as this machine keeps floats.
    const auto bytes = static_cast<std::size_t>(needed);
    if (source->readAt(offset, reinterpret_cast<std::uint8_t*>(p.values_.get()), bytes) != bytes) {
        throw engine::EngineError(engine::Failure::Truncated, path);
    }
    return p;
}

LoadedPicture LoadedPicture::emptyRaster(const std::string& path, std::int64_t width, std::int64_t height)
{
    requireMemoryFor(path, width, height, 4);
    LoadedPicture p;
    p.kind_ = Kind::Raster;
    p.path_ = path;
    p.identity_ = identityOf(path);
    p.width_ = width;
    p.height_ = height;
    p.values_ = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(width * height));
    return p;
}

LoadedPicture LoadedPicture::readTiff(const std::string& path)
{
    // The file must open at all before libtiff is asked; its own messages stay quiet.
    engine::openFileSource(path);
    engine::quietLibtiff();
    const std::unique_ptr<TIFF, void (*)(TIFF*)> tiff(TIFFOpen(path.c_str(), "r"), [](TIFF* t) {
        if (t) TIFFClose(t);
    });
    const auto unsupported = [&] {
        return ViewError("対応していないTIFFファイルです（1バンドの float32 のみ）\n" + path);
    };
    if (!tiff) throw unsupported();
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    if (width == 0 || height == 0 || samples != 1 || bits != 32 || format != SAMPLEFORMAT_IEEEFP || TIFFIsTiled(tiff.get()) ||
        TIFFScanlineSize64(tiff.get()) != std::uint64_t{width} * 4) {
        throw unsupported();
    }
    LoadedPicture p = emptyRaster(path, width, height);
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tiff.get(), p.values_.get() + std::size_t{y} * width, y, 0) < 0) {
            throw engine::EngineError(engine::Failure::Truncated, path);
        }
    }
    char* description = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEDESCRIPTION, &description) == 1 && description) p.description_ = description;
    return p;
}

std::optional<std::string> enviHeaderBeside(const std::string& rasterPath)
{
    namespace fs = std::filesystem;
    const fs::path raster(rasterPath);
    std::error_code ec;
    for (fs::path candidate : {fs::path(raster).replace_extension(".hdr"), fs::path(rasterPath + ".hdr")}) {
        if (candidate != raster && fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    return std::nullopt;
}

RasterLayout parseEnviHeader(const std::string& text, const std::string& headerPath)
{
    const auto unsupported = [&] {
        return ViewError("対応していないENVIヘッダーです（1バンドの float32、リトルエンディアンのみ）\n" + headerPath);
    };
    std::size_t start = 0;
    bool first = true;
    std::optional<std::int64_t> samples, lines;
    RasterLayout layout;
    std::int64_t bands = 1, dataType = -1, byteOrder = 0, offset = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (first) {
            if (line != "ENVI") throw ViewError("ENVIヘッダーではありません\n" + headerPath);
            first = false;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = lowered(trimmed(line.substr(0, eq)));
        std::string value = trimmed(line.substr(eq + 1));
        if (key == "description" && value.starts_with('{')) {
            // A braced value may go on over further lines, up to its closing brace.
            while (value.find('}') == std::string::npos && start <= text.size()) {
                std::size_t next = text.find('\n', start);
                if (next == std::string::npos) next = text.size();
                value += ' ' + trimmed(text.substr(start, next - start));
                start = next + 1;
            }
            const std::size_t close = value.find('}');
            layout.description = trimmed(value.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            continue;
        }
        std::int64_t* target = nullptr;
        std::optional<std::int64_t>* optionalTarget = nullptr;
        if (key == "samples") optionalTarget = &samples;
        else if (key == "lines") optionalTarget = &lines;
        else if (key == "bands") target = &bands;
        else if (key == "data type") target = &dataType;
        else if (key == "byte order") target = &byteOrder;
        else if (key == "header offset") target = &offset;
        else continue;
        const auto number = wholeNumber(value);
        if (!number) throw unsupported();
        if (target) *target = *number;
        else *optionalTarget = *number;
    }
    if (first) throw ViewError("ENVIヘッダーではありません\n" + headerPath);
    if (!samples || !lines || *samples <= 0 || *lines <= 0 || bands != 1 || dataType != 4 || byteOrder != 0) {
        throw unsupported();
    }
    layout.width = *samples;
    layout.height = *lines;
    layout.offset = offset;
    return layout;
}

}  // namespace view

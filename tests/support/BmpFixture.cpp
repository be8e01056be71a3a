#include "BmpFixture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <cstdio>
#include <random>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testing_support {

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t v)
{
    bytes[at] = static_cast<std::uint8_t>(v);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t get32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(std::min(bytes.size(), size));
    return bytes;
}

Picture asymmetricPicture(std::int32_t width, std::int32_t height)
{
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            p.pixels.push_back({static_cast<std::uint8_t>(3 + 7 * i), static_cast<std::uint8_t>(100 + 5 * i),
                                static_cast<std::uint8_t>(200 - 3 * i)});
        }
    }
    return p;
}

std::vector<std::uint8_t> bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitCount)
{
    std::vector<std::uint8_t> h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    put32(h, 10, 54);
    put32(h, 14, 40);
    put32(h, 18, static_cast<std::uint32_t>(width));
    put32(h, 22, static_cast<std::uint32_t>(height));
    h[26] = 1;
    h[28] = static_cast<std::uint8_t>(bitCount);
    h[29] = static_cast<std::uint8_t>(bitCount >> 8);
    return h;
}

std::vector<std::uint8_t> encodeBmp(const Picture& picture, const BmpLayout& layout)
{
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    const std::size_t pixels = 14 + layout.infoSize + layout.gap;
    std::vector<std::uint8_t> out(pixels, 0);
    const std::vector<std::uint8_t> h = bmpHeader(picture.width, layout.topDown ? -picture.height : picture.height,
                                                  layout.bitCount);
    std::copy(h.begin(), h.end(), out.begin());
    put32(out, 10, static_cast<std::uint32_t>(pixels));
    put32(out, 14, layout.infoSize);
    std::size_t size = pixels + stride * static_cast<std::size_t>(picture.height);
    put32(out, 34, static_cast<std::uint32_t>(size - pixels));
    out.resize(size, 0);
    for (int y = 0; y < picture.height; ++y) {
        const int stored = layout.topDown ? y : picture.height - 1 - y;
        std::uint8_t* row = out.data() + pixels + stride * static_cast<std::size_t>(stored);
        for (int x = 0; x < picture.width; ++x) {
            const Pixel px = picture.at(x, y);
            row[3 * x] = px.b;
            row[3 * x + 1] = px.g;
            row[3 * x + 2] = px.r;
        }
    }
    if (layout.lastRowUnpadded && picture.height > 0) {
        size -= stride - static_cast<std::size_t>(picture.width) * 3;
        out.resize(size);
    }
    put32(out, 2, static_cast<std::uint32_t>(size));
    return out;
}

std::vector<std::uint8_t> encodeBmp(const Picture& picture, std::uint16_t bitCount)
{
    BmpLayout layout;
    layout.bitCount = bitCount;
    return encodeBmp(picture, layout);
}

Picture decodeBmp(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::uint8_t> padded = bytes;
    padded.resize(std::max<std::size_t>(padded.size(), 54), 0);
    const auto height = static_cast<std::int32_t>(get32(padded, 22));
    const bool topDown = height < 0;
    Picture p{static_cast<std::int32_t>(get32(padded, 18)), topDown ? -height : height, {}};
    if (p.width <= 0 || p.height <= 0) return p;  // no pixels
    const std::size_t offset = get32(padded, 10);
    const std::size_t stride = (static_cast<std::size_t>(p.width) * 3 + 3) / 4 * 4;
    padded.resize(std::max(padded.size(), offset + stride * static_cast<std::size_t>(p.height)), 0);
    for (int y = 0; y < p.height; ++y) {
        const int stored = topDown ? y : p.height - 1 - y;
        const std::uint8_t* row = padded.data() + offset + stride * static_cast<std::size_t>(stored);
        for (int x = 0; x < p.width; ++x) p.pixels.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
    }
    return p;
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write test file " + path.string());
}

#ifndef _WIN32
HeldPipe::HeldPipe(std::filesystem::path path) : path_(std::move(path))
{
    if (::mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    // Opened here, without waiting for a writer, so that the writer's open never waits.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open the pipe");
    reader_ = std::thread([this, fd] {
        for (int ms = 0; ms < 10'000 && !released_; ++ms) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        std::uint8_t chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            bytes_.insert(bytes_.end(), chunk, chunk + n);
        }
        ::close(fd);
    });
}

HeldPipe::~HeldPipe()
{
    if (reader_.joinable()) reader_.join();
}

std::vector<std::uint8_t> HeldPipe::bytes()
{
    if (reader_.joinable()) reader_.join();
    return bytes_;
}
#endif

TempDir::TempDir()
{
    // A name no one else has: created, not found (create_directory is false for a
    // folder that was there).
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "zrvimage-test-%016llx", static_cast<unsigned long long>(random()));
        const auto dir = std::filesystem::temp_directory_path() / name;
        if (std::filesystem::create_directory(dir)) {
            dir_ = dir;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
}

std::vector<std::filesystem::path> writeFrames(const TempDir& dir)
{
    const struct {
        Picture picture;
        BmpLayout layout;
    } frames[] = {
        {asymmetricPicture(6, 5), {}},
        {asymmetricPicture(1, 1), {}},
        {asymmetricPicture(2049, 3), {}},
        {asymmetricPicture(7, 0), {}},
        {asymmetricPicture(13, 9), {}},
        {asymmetricPicture(5, 4), {.topDown = true}},
        {asymmetricPicture(7, 3), {.infoSize = 124, .gap = 6}},
        {asymmetricPicture(2050, 3), {.infoSize = 108, .topDown = true}},
        {asymmetricPicture(9, 4), {.infoSize = 124, .topDown = true, .lastRowUnpadded = true}},
    };
    std::vector<std::filesystem::path> paths;
    for (const auto& frame : frames) {
        paths.push_back(dir.path("frame0" + std::to_string(paths.size() + 1) + ".bmp"));
        writeFile(paths.back(), encodeBmp(frame.picture, frame.layout));
    }
    return paths;
}

}  // namespace testing_support

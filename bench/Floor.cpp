#include "Floor.h"

#include "bitmap/BitmapProbe.h"
#include "bitmap/Crop2048.h"
#include "bitmap/ByteOrder.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <stdexcept>
#include <time.h>
#include <vector>

namespace bench {

const char* operationName(Operation op)
{
    switch (op) {
    case Operation::Crop: return "crop";
    case Operation::Maxima: return "area maxima";
    case Operation::Ndvi: return "NDVI";
    }
    return "?";
}

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

int openOrThrow(const std::filesystem::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("cannot open " + path.string());
    return fd;
}

// Reads the whole file front to back in 1 MiB reads.
void readAll(int fd, std::vector<std::uint8_t>& chunk)
{
    while (::read(fd, chunk.data(), chunk.size()) > 0) {
    }
}

// Writes bytes bytes in 1 MiB writes.
void writeBytes(int fd, const std::vector<std::uint8_t>& chunk, std::int64_t bytes)
{
    while (bytes > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(bytes, static_cast<std::int64_t>(chunk.size())));
        if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("floor write failed");
        bytes -= static_cast<std::int64_t>(n);
    }
}

}  // namespace

Moment Moment::now()
{
    timespec wall{};
    timespec cpu{};
    ::clock_gettime(CLOCK_MONOTONIC, &wall);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return {static_cast<double>(wall.tv_sec) + static_cast<double>(wall.tv_nsec) * 1e-9,
            static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9};
}

Seconds runFloor(Operation op, const std::filesystem::path& input, const std::filesystem::path& output)
{
    const Moment start = Moment::now();
    const int in = openOrThrow(input, O_RDONLY);
    std::vector<std::uint8_t> chunk(kChunk);
    // The output's size comes from the header, read as the operations read it.
    std::uint8_t head[8];
    ::pread(in, head, sizeof head, 18);
    const std::int64_t width = static_cast<std::int32_t>(bitmap::loadLE32(head));
    const std::int64_t height = std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(bitmap::loadLE32(head + 4))));
    std::int64_t outputBytes = 0;
    if (op == Operation::Crop) outputBytes = 54 + height * bitmap::kCropRowBytes;
    if (op == Operation::Ndvi) outputBytes = width * height * 4;

    readAll(in, chunk);
    if (op != Operation::Maxima) {
        const int out = openOrThrow(output, O_WRONLY | O_CREAT | O_TRUNC);
        writeBytes(out, chunk, outputBytes);
        ::close(out);
    }
    ::close(in);
    return Moment::now() - start;
}

}  // namespace bench

#include "Floor.h"

#include "engine/ops/Kernels.h"

#include <algorithm>
#include <fcntl.h>
#include <stdexcept>
#include <time.h>
#include <unistd.h>
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

double now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::int64_t outputBytes(Operation op, std::int64_t width, std::int64_t height)
{
    switch (op) {
    case Operation::Crop: return 54 + height * engine::kCropRowBytes;
    case Operation::Maxima: return 0;
    case Operation::Ndvi: return width * height * 4;
    }
    return 0;
}

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

int openOrThrow(const std::filesystem::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("cannot open " + path.string());
    return fd;
}

}  // namespace

double runFloor(const std::filesystem::path& input, const std::filesystem::path& output, std::int64_t outputBytes,
                bool durable)
{
    // The buffer is made before the clock starts and is written every time, so its
    // pages are in memory: the floor pays for no page faults of its own.
    static std::vector<std::uint8_t> chunk(kChunk, 1);
    const double start = now();
    const int in = openOrThrow(input, O_RDONLY);
    while (::read(in, chunk.data(), chunk.size()) > 0) {
    }
    ::close(in);
    if (outputBytes > 0) {
        const int out = openOrThrow(output, O_WRONLY | O_CREAT | O_TRUNC);
        for (std::int64_t left = outputBytes; left > 0;) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(kChunk)));
            if (::write(out, chunk.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("floor write failed");
            left -= static_cast<std::int64_t>(n);
        }
        if (durable && ::fsync(out) != 0) throw std::runtime_error("floor fsync failed");
        ::close(out);
        if (durable) {
            const int folder = openOrThrow(output.parent_path(), O_RDONLY | O_DIRECTORY);
            ::fsync(folder);
            ::close(folder);
        }
    }
    return now() - start;
}

}  // namespace bench

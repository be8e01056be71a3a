// Pictures too large for the machine are refused before their pixels are allocated,
// with the sizes in the message; the picture area's coordinates stay within int for
// any picture at any zoom.
#include "ViewerFixture.h"

#include "view/Canvas.h"
#include "view/LoadedPicture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <fstream>
#include <sys/resource.h>

namespace {

using namespace view_testing;
using testing_support::put32;

// The memory the viewer sees, for one test.
struct AvailableMemory {
    explicit AvailableMemory(std::uint64_t bytes) { view::setAvailableMemoryForTesting(bytes); }
    ~AvailableMemory() { view::setAvailableMemoryForTesting(std::nullopt); }
};

// A file of bytes followed by a hole up to size: a picture's header claiming a huge
// picture, its pixels never stored.
void writeSparse(const std::filesystem::path& path, const std::vector<std::uint8_t>& head, std::uint64_t size)
{
    testing_support::writeFile(path, head);
    std::filesystem::resize_file(path, size);
}

std::vector<std::uint8_t> bmpHeader(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, width);
    put32(b, 22, height);
    b[26] = 1;
    b[28] = 24;
    return b;
}

constexpr std::uint64_t kBeside = std::uint64_t{4} << 20;  // the buffers beside the pixels

std::string refusal(const std::filesystem::path& file, std::int64_t w, std::int64_t h, std::uint64_t needed,
                    std::uint64_t available)
{
    return "画像が大きすぎてメモリに収まりません（" + std::to_string(w) + "×" + std::to_string(h) + " の画像に " +
           std::to_string(needed) + " バイト必要ですが、使えるのは " + std::to_string(available) + " バイトです）\n" +
           file.string();
}

TEST(BoundsTest, PicturesThatDoNotFitAreRefusedBeforeAllocating)
{
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("small.bmp"), testing_support::encodeBmp(testing_support::asymmetricPicture(7, 5)));
    // A terabyte or more each: allocated, they would fail or take the machine.
    writeSparse(dir.path("huge.bmp"), bmpHeader(1'000'000, 1'000'000), 54 + std::uint64_t{3'000'000} * 1'000'000);
    writeSparse(dir.path("huge.raw"), {}, std::uint64_t{4} * 1'000'000 * 1'000'000);
    const std::string header = "ENVI\nsamples = 1000000\nlines = 1000000\nbands = 1\ndata type = 4\nbyte order = 0\n";
    testing_support::writeFile(dir.path("huge.hdr"), std::vector<std::uint8_t>(header.begin(), header.end()));

    struct Case {
        const char* file;
        std::int64_t width, height, bytesPerPixel;
        std::uint64_t available;  // 0: exactly what it needs
        bool opens;
    };
    const Case cases[] = {
        {"small.bmp", 7, 5, 3, 0, true},
        {"small.bmp", 7, 5, 3, 7 * 5 * 3 + kBeside - 1, false},
        {"huge.bmp", 1'000'000, 1'000'000, 3, std::uint64_t{1} << 30, false},
        {"huge.raw", 1'000'000, 1'000'000, 4, std::uint64_t{1} << 30, false},
    };
    Viewer v;
    for (const Case& c : cases) {
        const std::uint64_t needed = static_cast<std::uint64_t>(c.width * c.height * c.bytesPerPixel) + kBeside;
        const AvailableMemory memory(c.available ? c.available : needed);
        v.messages.clear();
        EXPECT_EQ(v.open(dir.path(c.file)), c.opens) << c.file;
        if (c.opens) {
            EXPECT_TRUE(v.messages.empty()) << c.file;
            continue;
        }
        ASSERT_EQ(v.messages.size(), 1u) << c.file;
        EXPECT_EQ(v.messages[0].toStdString(), refusal(dir.path(c.file), c.width, c.height, needed, c.available));
        // The picture shown before stays.
        ASSERT_NE(v.window.picture(), nullptr);
        EXPECT_EQ(v.window.picture()->width(), 7);
    }
}

// The process's own limits count, less what it already uses.
TEST(BoundsTest, AvailableMemoryHonoursTheDataLimit)
{
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_DATA, &before), 0);
    std::ifstream status("/proc/self/status");
    std::uint64_t usedKilobytes = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmData:", 0) == 0) usedKilobytes = std::stoull(line.substr(7));
    }
    ASSERT_GT(usedKilobytes, 0u);
    constexpr std::uint64_t kRoom = std::uint64_t{48} << 20;
    rlimit lowered = before;
    lowered.rlim_cur = usedKilobytes * 1024 + kRoom;
    if (before.rlim_max != RLIM_INFINITY && before.rlim_max < lowered.rlim_cur) GTEST_SKIP() << "hard limit too low";
    ASSERT_EQ(::setrlimit(RLIMIT_DATA, &lowered), 0);
    const std::uint64_t available = view::availableMemory();
    ::setrlimit(RLIMIT_DATA, &before);
    EXPECT_LE(available, kRoom);
    EXPECT_GT(available, kRoom / 2);
}

TEST(BoundsTest, ZoomAndScrollUnitsStayWithinInt)
{
    struct Size {
        std::int64_t width, height;
    };
    for (const Size s : {Size{2048, 1536}, Size{1, std::int64_t{1} << 31}, Size{1'000'000, std::int64_t{1} << 31},
                         Size{1'000'000, 1}, Size{999'999'999, 1}}) {
        const double zoom = view::maxZoomFor(s.width, s.height);
        EXPECT_GT(zoom, 0.0);
        EXPECT_LE(zoom, view::Canvas::kMaxZoom);
        // The whole picture at that zoom, plus a large screen, still within int.
        EXPECT_LE(std::ceil(static_cast<double>(std::max(s.width, s.height)) * zoom) + 8192, INT_MAX)
            << s.width << "x" << s.height;
    }
    EXPECT_EQ(view::maxZoomFor(2048, 1536), view::Canvas::kMaxZoom);

    struct Units {
        double value;
        int expected;
    };
    for (const Units u : {Units{0.4, 0}, Units{-2.5, -3}, Units{1e12, INT_MAX}, Units{-1e12, INT_MIN},
                          Units{std::nan(""), 0}, Units{HUGE_VAL, INT_MAX}}) {
        EXPECT_EQ(view::toScrollUnits(u.value), u.expected) << u.value;
    }
}

}  // namespace

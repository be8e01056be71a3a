// Rows read through the file's mapping: the same bytes as rows read, and a file cut
// under the reader reported as cut, without the process dying of the fault.

#include "engine/formats/PictureReader.h"
#include "engine/platform/MappedRead.h"

#include "BmpFixture.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
using engine::RowStream;
using testing_support::BmpLayout;

// The pixel bytes of rows y1..y2 (or every row bottom first) as a run takes them:
// each row used, then lost() asked and the row taken again when it was lost; before
// the end, confirm(). afterRow is called after each row.
Bytes streamed(engine::PictureReader& reader, RowStream::Order order, std::int64_t y1, std::int64_t y2,
               RowStream::Reading reading, const std::function<void(std::int64_t)>& afterRow = {})
{
    Bytes out;
    RowStream rows(reader, order, y1, y2, reading);
    const auto bytes = static_cast<std::size_t>(reader.width() * 3);
    out.reserve(static_cast<std::size_t>(rows.rows()) * bytes);
    for (std::int64_t i = 0; i < rows.rows(); ++i) {
        const std::size_t at = out.size();
        const std::uint8_t* row = rows.next();
        out.insert(out.end(), row, row + bytes);
        if (rows.lost()) std::memcpy(out.data() + at, rows.again(), bytes);
        if (afterRow) afterRow(i + 1);
    }
    rows.confirm();
    return out;
}

// A picture whose bytes vary along rows and down columns, so that a row from the
// wrong place shows.
testing_support::Picture varied(std::int32_t width, std::int32_t height)
{
    testing_support::Picture p{width, height, {}};
    p.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const auto v = static_cast<unsigned>(x * 7 + y * 13);
            p.pixels[static_cast<std::size_t>(y) * width + x] = {static_cast<std::uint8_t>(v % 251),
                                                                 static_cast<std::uint8_t>((v / 3) % 256),
                                                                 static_cast<std::uint8_t>((x ^ y) % 256)};
        }
    }
    return p;
}

struct Case {
    const char* name;
    std::int32_t width, height;
    bool topDown, lastRowUnpadded;
};

// Pictures of one window and of several (4 MiB a window), both row orders, widths
// with and without padding, a last row without its padding.
const Case kCases[] = {
    {"SmallBottomUp", 6, 5, false, false},
    {"OddWidthTopDown", 7, 9, true, false},
    {"OddWidthUnpaddedLastRow", 5, 11, false, true},
    {"UnpaddedLastRowTopDown", 5, 11, true, true},
    {"TwoWindowsBottomUp", 1001, 1500, false, true},
    {"TwoWindowsTopDown", 1001, 1500, true, false},
};

// Mapped from a file, from a source that cannot be mapped, and read: the same bytes,
// for every row in both orders and for bands of rows.
TEST(MappedRows, GiveWhatTheReadRowsGive)
{
    testing_support::TempDir dir;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        BmpLayout layout;
        layout.topDown = c.topDown;
        layout.lastRowUnpadded = c.lastRowUnpadded;
        const Bytes file = testing_support::encodeBmp(varied(c.width, c.height), layout);
        const auto path = dir.path(std::string(c.name) + ".bmp");
        testing_support::writeFile(path, file);
        const std::int64_t h = c.height;
        struct Band {
            RowStream::Order order;
            std::int64_t y1, y2;
        };
        const Band bands[] = {{RowStream::Order::TopFirst, 0, h - 1}, {RowStream::Order::BottomFirst, 0, 0},
                              {RowStream::Order::TopFirst, 1, h - 2}, {RowStream::Order::TopFirst, h - 1, h - 1},
                              {RowStream::Order::TopFirst, h / 2, h - 1}, {RowStream::Order::TopFirst, 0, h / 3}};
        // Bands inside the picture on the small ones; whole pictures across windows.
        const std::size_t bandCount = c.height > 100 ? 2 : std::size(bands);
        for (const Band& band : std::span(bands, bandCount)) {
            SCOPED_TRACE(::testing::Message() << band.y1 << ".." << band.y2);
            auto fromFile = engine::PictureReader::open(path.string());
            auto fromMemory = testing_support::readerOf(file);
            auto read = testing_support::readerOf(file);
            for (auto* r : {&fromFile, &fromMemory, &read}) r->require24Bit();
            const Bytes expected = streamed(read, band.order, band.y1, band.y2, RowStream::Reading::Copied);
            EXPECT_TRUE(streamed(fromFile, band.order, band.y1, band.y2, RowStream::Reading::Mapped) == expected);
            EXPECT_TRUE(streamed(fromMemory, band.order, band.y1, band.y2, RowStream::Reading::Mapped) == expected);
        }
    }
}

// A file cannot be cut under its mapping on Windows: what follows is POSIX's.
#ifndef _WIN32

// The file cut while its rows are taken, after a number of rows: every row at or
// past the cut is gone. Cuts inside a page, on a page's edge, inside the file's last
// page (which then reads as zeros rather than faulting) and to nothing but the
// headers; early and late, in both row orders. Mapped or read, the cut is reported.
TEST(MappedRows, AFileCutUnderTheReaderIsReportedAsCut)
{
    testing_support::TempDir dir;
    struct Cut {
        bool topDown;
        std::int64_t afterRows;  // rows taken before the cut
        std::int64_t keep;       // bytes kept
    };
    constexpr std::int64_t kWidth = 1001, kHeight = 1500, kStride = 3004;
    const Cut cuts[] = {
        {true, 10, 54 + kStride * 100 + 1234},
        {true, 1400, 54 + kStride * 1450 + 77},
        {true, 1, 4096 * 100},
        {true, 1300, 54 + kStride * 1499 + 2800},
        {false, 10, 54 + kStride * 5 + 999},
        {false, 1000, 54},
    };
    const auto picture = varied(kWidth, kHeight);
    const auto path = dir.path("cut.bmp");
    BmpLayout topDown;
    topDown.topDown = true;
    const Bytes files[] = {testing_support::encodeBmp(picture), testing_support::encodeBmp(picture, topDown)};
    for (const Cut& cut : cuts) {
        const Bytes& file = files[cut.topDown ? 1 : 0];
        for (const auto reading : {RowStream::Reading::Mapped, RowStream::Reading::Copied}) {
            SCOPED_TRACE(::testing::Message() << (cut.topDown ? "top-down" : "bottom-up") << " after "
                                              << cut.afterRows << " to " << cut.keep
                                              << (reading == RowStream::Reading::Mapped ? " mapped" : " read"));
            testing_support::writeFile(path, file);
            auto reader = engine::PictureReader::open(path.string());
            reader.require24Bit();
            try {
                streamed(reader, RowStream::Order::TopFirst, 0, kHeight - 1, reading, [&](std::int64_t done) {
                    if (done == cut.afterRows) std::filesystem::resize_file(path, static_cast<std::uintmax_t>(cut.keep));
                });
                ADD_FAILURE() << "finished";
            } catch (const engine::EngineError& e) {
                EXPECT_EQ(e.failure(), engine::Failure::Truncated);
            }
        }
    }
}

// A file of two pages mapped, then cut to nothing.
struct CutMapping {
    testing_support::TempDir dir;
    const std::uint8_t* data = nullptr;
    std::size_t size = 2 * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));

    CutMapping()
    {
        const auto path = dir.path("mapped");
        testing_support::writeFile(path, Bytes(size, 7));
        const int fd = ::open(path.c_str(), O_RDONLY);
        void* m = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (m == MAP_FAILED) throw std::runtime_error("mmap");
        data = static_cast<const std::uint8_t*>(m);
        EXPECT_EQ(data[size - 1], 7);
        std::filesystem::resize_file(path, 0);
    }
    ~CutMapping() { ::munmap(const_cast<std::uint8_t*>(data), size); }
};

std::uint8_t touch(const std::uint8_t* p)
{
    return *static_cast<const volatile std::uint8_t*>(p);
}

TEST(ReadGuard, TakesTheFaultOfItsOwnBytes)
{
    CutMapping cut;
    engine::platform::ReadGuard guard(cut.data, cut.size);
    EXPECT_FALSE(guard.lost());
    EXPECT_EQ(touch(cut.data + cut.size - 1), 0);
    EXPECT_TRUE(guard.lost());
    EXPECT_EQ(touch(cut.data), 0);
}

// A fault on bytes it does not guard, and a SIGBUS sent, still end the process.
TEST(ReadGuardDeathTest, LeavesAnyOtherBusErrorAlone)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            CutMapping cut;
            const Bytes other(16);
            engine::platform::ReadGuard guard(other.data(), other.size());
            touch(cut.data);
        },
        "");
    EXPECT_DEATH(
        {
            CutMapping cut;
            engine::platform::ReadGuard guard(cut.data, cut.size);
            std::raise(SIGBUS);
        },
        "");
}

#endif

}  // namespace

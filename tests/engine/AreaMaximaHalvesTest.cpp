// The area maxima of a large rectangle of a file, scanned in two halves on two
// threads: the same maxima as a plain scan, every row told to the progress on the
// caller's thread, and a cancel or a file cut under either half reported as such.

#include "engine/ops/Runs.h"
#include "engine/platform/EngineError.h"
#include "runtime/Exceptions.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::TempDir;

// 1500 x 1000: 4.5 MB of pixels, enough to be split. Dim everywhere but where a test
// puts a bright byte.
Picture dimPicture()
{
    Picture p{1500, 1000, {}};
    p.pixels.resize(1500 * 1000);
    for (std::size_t i = 0; i < p.pixels.size(); ++i) {
        p.pixels[i] = {static_cast<std::uint8_t>(i % 7), static_cast<std::uint8_t>(i % 11), static_cast<std::uint8_t>(i % 13)};
    }
    return p;
}

engine::ChannelMaxima expectedMaxima(const Picture& p, const engine::Rectangle& r)
{
    engine::ChannelMaxima max;
    for (std::int64_t y = r.y1; y <= r.y2; ++y) {
        for (std::int64_t x = r.x1; x <= r.x2; ++x) {
            const auto px = p.at(static_cast<int>(x), static_cast<int>(y));
            const std::uint8_t bytes[3] = {px.b, px.g, px.r};
            max.scan(bytes, 1);
        }
    }
    return max;
}

TEST(AreaMaximaHalves, FindTheMaximaWhereverTheyLieInEitherHalf)
{
    Picture p = dimPicture();
    p.pixels[999 * 1500 + 1499].b = 250;  // the last pixel of the lower half
    p.pixels[0].g = 240;                  // the first of the upper half
    p.pixels[500 * 1500 + 700].r = 230;   // the first row of the lower half
    p.pixels[499 * 1500 + 700].r = 220;   // the last row of the upper half
    const engine::Rectangle rects[] = {{0, 0, 1499, 999}, {1, 1, 1499, 999}, {600, 0, 1499, 998}, {0, 499, 1499, 999}};
    for (const bool topDown : {false, true}) {
        TempDir dir;
        const auto path = dir.path("p.bmp");
        testing_support::writeFile(path, encodeBmp(p, {.topDown = topDown}));
        for (const auto& r : rects) {
            SCOPED_TRACE(std::to_string(r.x1) + "," + std::to_string(r.y1) + " " + (topDown ? "top-down" : "bottom-up"));
            auto reader = engine::PictureReader::open(path.string());
            reader.require24Bit();
            std::int64_t told = 0;
            const auto caller = std::this_thread::get_id();
            engine::RunControl control;
            control.onRows = [&](std::int64_t rows, std::size_t pixels) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                EXPECT_EQ(pixels, static_cast<std::size_t>(r.x2 - r.x1 + 1));
                told += rows;
            };
            const auto max = engine::runAreaMaxima(reader, r, control);
            const auto expected = expectedMaxima(p, r);
            EXPECT_EQ(max.red(), expected.red());
            EXPECT_EQ(max.green(), expected.green());
            EXPECT_EQ(max.blue(), expected.blue());
            EXPECT_EQ(told, r.y2 - r.y1 + 1);
            // And without a progress to tell, as the batch tool runs it.
            const auto quiet = engine::runAreaMaxima(reader, r);
            EXPECT_EQ(quiet.blue(), expected.blue());
        }
    }
}

TEST(AreaMaximaHalves, StopForACancelOrAFileCutUnderThem)
{
    TempDir dir;
    const auto path = dir.path("p.bmp");
    testing_support::writeFile(path, encodeBmp(dimPicture()));
    const engine::Rectangle all{0, 0, 1499, 999};
    {
        auto reader = engine::PictureReader::open(path.string());
        reader.require24Bit();
        std::atomic<bool> cancel{false};
        engine::RunControl control;
        control.cancel = &cancel;
        control.onRows = [&](std::int64_t, std::size_t) { cancel = true; };
        EXPECT_THROW(engine::runAreaMaxima(reader, all, control), runtime::EAbort);
    }
    // Bottom-up: the file's last bytes are the top rows, the upper half's; a cut at a
    // quarter takes rows of both halves.
    for (const double kept : {0.25, 0.9}) {
        SCOPED_TRACE(kept);
        auto reader = engine::PictureReader::open(path.string());
        reader.require24Bit();
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(54 + kept * 1000 * 4500));
        try {
            engine::runAreaMaxima(reader, all);
            ADD_FAILURE() << "read a cut file";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(e.failure(), engine::Failure::Truncated);
        }
        testing_support::writeFile(path, encodeBmp(dimPicture()));
    }
}

}  // namespace

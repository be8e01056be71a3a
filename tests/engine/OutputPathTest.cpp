// The output path: a group of files ends all new or all old, whichever call fails, and
// leaves no temporary; its writers (the block writer, the TIFF writer) report through it.

#include "engine/formats/NdviTiff.h"
#include "engine/formats/PictureReader.h"
#include "engine/ops/Runs.h"
#include "engine/output/OutputFile.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"
#include "MemorySource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace platform = engine::platform;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Bytes = std::vector<std::uint8_t>;

// The seam disarmed whatever a test does.
struct Disarm {
    ~Disarm() { platform::injectFault(0, 0, 0); }
};

std::vector<std::string> namesIn(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const Bytes kOldA{'o', 'l', 'd', 'A'};
const Bytes kNewA(5000, 'a');
const Bytes kNewB(300, 'b');

// a.raw replaces an older file, b.hdr is new: a raster and its header.
void writeGroup(const TempDir& dir)
{
    engine::OutputGroup group;
    group.add(dir.path("a.raw").string()).write(kNewA);
    group.add(dir.path("b.hdr").string()).write(kNewB);
    group.commit();
}

TEST(OutputGroup, EndsAllNewOrAllOldWhicheverCallFails)
{
    Disarm disarm;
    std::uint64_t calls = 0;
    {
        TempDir dir;
        writeFile(dir.path("a.raw"), kOldA);
        platform::injectFault(platform::AnyCall, 0, 0);
        writeGroup(dir);
        calls = platform::callsSinceInjection();
        EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"a.raw", "b.hdr"}));
        EXPECT_EQ(readFile(dir.path("a.raw")), kNewA);
        EXPECT_EQ(readFile(dir.path("b.hdr")), kNewB);
    }
    // Two opens, two writes, two syncs and closes, two renames, the folder's sync.
    ASSERT_GE(calls, 11u);
    for (const int error : {ENOSPC, EIO}) {
        for (std::uint64_t n = 1; n <= calls; ++n) {
            TempDir dir;
            writeFile(dir.path("a.raw"), kOldA);
            platform::injectFault(platform::AnyCall, n, error);
            try {
                writeGroup(dir);
                ADD_FAILURE() << "call " << n << " failed and the group was placed";
            } catch (const engine::EngineError& e) {
                EXPECT_TRUE(e.path() == dir.path("a.raw").string() || e.path() == dir.path("b.hdr").string())
                    << e.path();
            }
            EXPECT_TRUE(platform::faultFired());
            EXPECT_EQ(namesIn(dir.dir()), std::vector<std::string>{"a.raw"}) << "call " << n;
            EXPECT_EQ(readFile(dir.path("a.raw")), kOldA) << "call " << n;
        }
    }
}

// A second rename that fails takes the first back: the old raster, not a new raster
// beside no header. Every way of putting a file in place: swapped with its old copy;
// where the file system cannot swap, renamed over it with the old one linked aside; and
// where it has no links either (FAT), with the old one renamed aside.
TEST(OutputGroup, ASecondRenameThatFailsUndoesTheFirst)
{
    Disarm disarm;
    for (const int unsupported : {0, 1, 2}) {  // swap, then link, refused in turn
        const bool canSwap = unsupported == 0;
        TempDir dir;
        writeFile(dir.path("a.raw"), kOldA);
        fs::create_directory(dir.path("sub"));
        try {
            engine::OutputGroup group;
            group.add(dir.path("a.raw").string()).write(kNewA);
            engine::StagedFile& b = group.add(dir.path("sub/b.hdr").string());
            b.write(kNewB);
            fs::remove(b.temporaryPath());  // its rename finds nothing to rename
            if (!canSwap) platform::injectFault(platform::Rename, 1, EOPNOTSUPP, unsupported);
            group.commit();
            ADD_FAILURE() << "placed";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(e.failure(), engine::Failure::CannotCreateOutput);
            EXPECT_EQ(e.path(), dir.path("sub/b.hdr").string());
        }
        EXPECT_EQ(platform::faultFired(), !canSwap);
        EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"a.raw", "sub"})) << canSwap;
        EXPECT_EQ(readFile(dir.path("a.raw")), kOldA) << canSwap;
        EXPECT_TRUE(fs::is_empty(dir.path("sub")));
        platform::injectFault(0, 0, 0);
    }
}

TEST(OutputGroup, WithoutSwapsOrLinksPlacesTheNewFileAndDropsTheOldCopy)
{
    Disarm disarm;
    for (const std::uint64_t unsupported : {1, 2}) {
        TempDir dir;
        writeFile(dir.path("a.raw"), kOldA);
        platform::injectFault(platform::Rename, 1, EOPNOTSUPP, unsupported);
        writeGroup(dir);
        EXPECT_TRUE(platform::faultFired());
        EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"a.raw", "b.hdr"})) << unsupported;
        EXPECT_EQ(readFile(dir.path("a.raw")), kNewA) << unsupported;
    }
}

TEST(OutputGroup, AFolderUnderAFinalNameIsRefusedBeforeAnythingIsPlaced)
{
    TempDir dir;
    writeFile(dir.path("a.raw"), kOldA);
    fs::create_directory(dir.path("b.hdr"));
    try {
        writeGroup(dir);
        ADD_FAILURE() << "placed";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::CannotCreateOutput);
        EXPECT_EQ(e.path(), dir.path("b.hdr").string());
    }
    EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"a.raw", "b.hdr"}));
    EXPECT_EQ(readFile(dir.path("a.raw")), kOldA);
}

TEST(OutputGroup, RefusesTheInputUnderAnotherName)
{
    TempDir dir;
    writeFile(dir.path("in.bmp"), testing_support::encodeBmp(testing_support::asymmetricPicture()));
    fs::create_hard_link(dir.path("in.bmp"), dir.path("link.bmp"));
    const auto reader = engine::PictureReader::open(dir.path("in.bmp").string());
    engine::OutputGroup group;
    try {
        group.add(dir.path("link.bmp").string(), &reader);
        ADD_FAILURE() << "accepted";
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(e.failure(), engine::Failure::OutputIsInput);
        EXPECT_EQ(e.path(), dir.path("link.bmp").string());
    }
    EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"in.bmp", "link.bmp"}));
}

// A writer on a staged file that fails, or is left unfinished by a run that threw,
// keeps the group from being placed; its failure names the final path.
TEST(StagedWriters, AFailedOrUnfinishedWriterKeepsTheOldFile)
{
    Disarm disarm;
    const auto picture = testing_support::asymmetricPicture(40, 30);
    const struct {
        const char* what;
        std::uint64_t fault;  // the writer's write that fails (the TIFF's first is its header)
        bool finish;
        std::function<void(engine::StagedFile&, bool finish)> write;
    } cases[] = {
        {"block writer, failed write", 1, true,
         [](engine::StagedFile& f, bool finish) {
             auto out = engine::OutputFile::into(f);
             out->write(kNewA.data(), kNewA.size());
             if (finish) out->finish();
         }},
        {"block writer, unfinished", 0, false,
         [](engine::StagedFile& f, bool finish) {
             auto out = engine::OutputFile::into(f);
             out->write(kNewA.data(), kNewA.size());
             if (finish) out->finish();
         }},
        {"TIFF writer, failed write", 2, true,
         [&](engine::StagedFile& f, bool finish) {
             auto reader = testing_support::readerOf(testing_support::encodeBmp(picture));
             reader.require24Bit();
             engine::NdviTiffWriter tiff(f, 40, 30);
             engine::runNdvi(reader, 255, 255, nullptr,
                             [&](std::int64_t first, std::int64_t count, const float* v) { tiff.addRows(first, count, v); });
             if (finish) tiff.finish();
         }},
        {"TIFF writer, unfinished", 0, false,
         [](engine::StagedFile& f, bool) { engine::NdviTiffWriter tiff(f, 40, 30); }},
        // Many strips, compressed on other threads: a write that fails while later
        // strips are still being compressed, and a run that stops with strips in flight.
        {"TIFF writer, many strips, failed write", 5, true,
         [](engine::StagedFile& f, bool finish) {
             engine::NdviTiffWriter tiff(f, 2000, 400);
             const std::vector<float> rows(2000 * 400, 0.25f);
             tiff.addRows(0, 400, rows.data());
             if (finish) tiff.finish();
         }},
        {"TIFF writer, many strips, stopped in flight", 0, false,
         [](engine::StagedFile& f, bool) {
             engine::NdviTiffWriter tiff(f, 2000, 400);
             const std::vector<float> rows(2000 * 300, 0.25f);
             tiff.addRows(0, 300, rows.data());
         }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.path("out").string();
        writeFile(path, kOldA);
        engine::OutputGroup group;
        engine::StagedFile& file = group.add(path);
        platform::injectFault(platform::Write, c.fault, EIO);
        try {
            c.write(file, c.finish);
            if (c.fault != 0) ADD_FAILURE() << c.what << ": reported written";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(e.failure(), engine::Failure::WriteFailed) << c.what;
            EXPECT_EQ(e.path(), path) << c.what;
        }
        EXPECT_TRUE(file.failed()) << c.what;
        EXPECT_EQ(platform::faultFired(), c.fault != 0) << c.what;
        platform::injectFault(0, 0, 0);
        EXPECT_THROW(group.commit(), engine::EngineError) << c.what;
        EXPECT_EQ(readFile(path), kOldA) << c.what;
    }
}

// The TIFF written into a staged file is the file the writer makes at a path, byte for
// byte; the mapped crop's straight copy works into a staged file too.
TEST(StagedWriters, WriteWhatTheyWriteToAPath)
{
    TempDir dir;
    {
        const auto picture = testing_support::asymmetricPicture(300, 500);  // three strips
        auto reader = testing_support::readerOf(testing_support::encodeBmp(picture));
        reader.require24Bit();
        const auto write = [&](engine::NdviTiffWriter& tiff) {
            engine::runNdvi(reader, 255, 255, nullptr,
                            [&](std::int64_t first, std::int64_t count, const float* v) { tiff.addRows(first, count, v); });
            tiff.finish();
        };
        engine::NdviTiffWriter direct(dir.path("direct.tif").string(), 300, 500, "d");
        write(direct);
        engine::OutputGroup group;
        engine::NdviTiffWriter staged(group.add(dir.path("staged.tif").string()), 300, 500, "d");
        write(staged);
        group.commit();
        EXPECT_EQ(readFile(dir.path("staged.tif")), readFile(dir.path("direct.tif")));
    }
    {
        const auto picture = testing_support::asymmetricPicture(2048, 40);
        writeFile(dir.path("in.bmp"), testing_support::encodeBmp(picture));
        auto reader = engine::PictureReader::open(dir.path("in.bmp").string());
        reader.require24Bit();
        engine::OutputGroup group;
        auto out = engine::OutputFile::into(group.add(dir.path("crop.bmp").string(), &reader));
        engine::runCrop(reader, *out);
        out->finish();
        group.commit();
        EXPECT_EQ(readFile(dir.path("crop.bmp")), testing_support::expectedCrop(picture));
    }
    engine::writeWholeFile(dir.path("text").string(), std::string("header"));
    EXPECT_EQ(readFile(dir.path("text")), (Bytes{'h', 'e', 'a', 'd', 'e', 'r'}));
}

#ifdef _WIN32
// An output on another drive is staged on that drive, beside its final name (never in
// %TEMP%, from where the rename would be a copy). The other drive is one whose \\tmp
// folder exists (wine's Z:, the host's root); without one there is nothing to show.
TEST(OutputGroup, OnAnotherDriveStagesBesideTheFinalName)
{
    const fs::path temp = fs::temp_directory_path();
    std::optional<fs::path> folder;
    for (wchar_t letter = L'D'; letter <= L'Z' && !folder; ++letter) {
        const fs::path tmp = std::wstring{letter, L':', L'\\'} + L"tmp";
        std::error_code ec;
        if (letter != temp.root_name().wstring()[0] && fs::is_directory(tmp, ec)) {
            const fs::path candidate = tmp / ("zrvimage-drive-test-" + std::to_string(::GetCurrentProcessId()));
            if (fs::create_directory(candidate, ec)) folder = candidate;
        }
    }
    if (!folder) GTEST_SKIP() << "no second drive with a tmp folder";
    struct Remove {
        fs::path folder;
        ~Remove()
        {
            std::error_code ec;
            fs::remove_all(folder, ec);
        }
    } remove{*folder};
    const std::string final = platform::utf8Of(*folder / "out.raw");
    writeFile(*folder / "out.raw", kOldA);
    {
        engine::OutputGroup group;
        engine::StagedFile& file = group.add(final);
        EXPECT_EQ(platform::pathOf(file.temporaryPath()).parent_path(), *folder);
        file.write(kNewA);
        // The old file and the temporary side by side, and the writer's lock file.
        EXPECT_EQ(namesIn(*folder).size(), 3u);
        group.commit();
    }
    EXPECT_EQ(namesIn(*folder), std::vector<std::string>{"out.raw"});
    EXPECT_EQ(readFile(*folder / "out.raw"), kNewA);
}
#endif

}  // namespace

namespace {

// A failure says why, in the user's words, whichever call the system refused.
TEST(OutputGroup, AFailureGivesTheSystemsReason)
{
    Disarm disarm;
    const struct {
        unsigned call;
        int error;
        const char* message;
    } cases[] = {
        {platform::Open, ENOSPC, "出力ファイルを作成できません（容量が不足しています）"},
        {platform::Open, EACCES, "出力ファイルを作成できません（アクセスが拒否されました）"},
        {platform::Open, ENAMETOOLONG, "出力ファイルを作成できません（パスが長すぎます）"},
        {platform::Write, ENOSPC, "出力ファイルの書き込みに失敗しました（容量が不足しています）"},
        {platform::Write, EIO, "出力ファイルの書き込みに失敗しました（入出力エラーが発生しました）"},
        {platform::Sync, EIO, "出力ファイルの書き込みに失敗しました（入出力エラーが発生しました）"},
        {platform::Rename, EBUSY, "出力ファイルを作成できません（ほかのプログラムが使用中です）"},
        {platform::Rename, EACCES, "出力ファイルを作成できません（アクセスが拒否されました）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        writeFile(dir.path("a.raw"), kOldA);
        platform::injectFault(c.call, 1, c.error, 1000);
        try {
            writeGroup(dir);
            ADD_FAILURE() << "placed";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(e.systemError(), c.error);
            const std::string what = e.what();
            EXPECT_EQ(what.substr(0, what.find('\n')), c.message);
        }
        platform::injectFault(0, 0, 0);
        EXPECT_EQ(readFile(dir.path("a.raw")), kOldA);
    }
}

// A folder the file system cannot sync (a network share, some FUSE mounts: EINVAL,
// ENOTSUP) is no failure; an I/O error still is. The folder's sync is the group's last.
TEST(OutputGroup, AFolderSyncTheFileSystemCannotDoIsNoFailure)
{
    Disarm disarm;
    std::uint64_t syncs = 0;
    {
        TempDir dir;
        platform::injectFault(platform::Sync, 0, 0);
        writeGroup(dir);
        syncs = platform::callsSinceInjection();
    }
    for (const int error : {EINVAL, ENOTSUP, EIO}) {
        SCOPED_TRACE(error);
        TempDir dir;
        writeFile(dir.path("a.raw"), kOldA);
        platform::injectFault(platform::Sync, syncs, error);
        if (error == EIO) {
            EXPECT_THROW(writeGroup(dir), engine::EngineError);
            EXPECT_EQ(readFile(dir.path("a.raw")), kOldA);
        } else {
            writeGroup(dir);
            EXPECT_EQ(readFile(dir.path("a.raw")), kNewA);
        }
        EXPECT_TRUE(platform::faultFired());
    }
}

}  // namespace

// Tidying a folder: what a dead writer left is put right, what a running one has is
// left alone, whoever's it is told by the lock the writer holds and not by its process
// number; a group's journal copy in another folder is acted on only with its primary.

#include "engine/output/OutputJournal.h"
#include "engine/output/OutputPath.h"
#include "engine/platform/Platform.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace platform = engine::platform;
using engine::TidyStep;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> namesIn(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<TidyStep::Kind> kinds(const std::vector<TidyStep>& steps)
{
    std::vector<TidyStep::Kind> k;
    for (const auto& s : steps) k.push_back(s.kind);
    return k;
}

// Another writer, "4242x0badf00d", in folder: its lock file, held while alive.
constexpr const char* kOwner = "4242x0badf00d";
struct OtherWriter {
    explicit OtherWriter(const fs::path& folder) : lock(folder / (std::string(".zrvimage-") + kOwner + ".lock"))
    {
        writeFile(lock, {});
        fd = platform::openFile(lock.string(), platform::Access::Read);
        EXPECT_EQ(platform::lockFile(fd), 0);
    }
    ~OtherWriter() { die(); }
    void die()
    {
        platform::releaseFile(fd);  // as the system does for a killed process
        fd = -1;
    }
    fs::path lock;
    int fd = -1;
};

TEST(Tidy, LeavesARunningWritersFilesAndRemovesThemOnceItIsGone)
{
    const TempDir dir;
    writeFile(dir.path("a.raw"), {'o', 'l', 'd'});
    OtherWriter writer(dir.dir());
    const std::string temporary = std::string(".a.raw.") + kOwner + "-0.tmp";
    writeFile(dir.path(temporary), {'n', 'e'});

    EXPECT_EQ(kinds(engine::tidyFolder(dir.dir().string())), std::vector<TidyStep::Kind>{TidyStep::Running});
    EXPECT_EQ(namesIn(dir.dir()).size(), 3u);

    writer.die();
    const auto steps = engine::tidyFolder(dir.dir().string());
    ASSERT_EQ(kinds(steps), std::vector<TidyStep::Kind>{TidyStep::Removed});
    EXPECT_EQ(steps[0].names, std::vector<std::string>{temporary});
    EXPECT_EQ(engine::tidyLine(steps[0]), "中断された書き込みの一時ファイルを削除しました: " + temporary);
    EXPECT_EQ(namesIn(dir.dir()), std::vector<std::string>{"a.raw"});
    EXPECT_EQ(readFile(dir.path("a.raw")), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(engine::tidyFolder(dir.dir().string()).empty());  // nothing left to do
}

TEST(Tidy, TemporariesFromBeforeLockFilesGoOnlyWhenTheirProcessIsGone)
{
    const TempDir dir;
    // This process is running; a number far above any system's limit is not.
    const std::string mine = ".a.raw." + std::to_string(platform::processId()) + "-0.tmp";
    const std::string gone = ".b.raw.2147483000-3.tmp";
    writeFile(dir.path(mine), {1});
    writeFile(dir.path(gone), {2});
    writeFile(dir.path(".hidden.tmp"), {3});  // a user's own hidden file: not ours
    const auto steps = engine::tidyFolder(dir.dir().string());
    ASSERT_EQ(kinds(steps), std::vector<TidyStep::Kind>{TidyStep::Removed});
    EXPECT_EQ(steps[0].names, std::vector<std::string>{gone});
    EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{".a.raw." + std::to_string(platform::processId()) + "-0.tmp",
                                                             ".hidden.tmp"}));
}

// A dead writer's group across two folders, killed after its first rename: the raster
// is placed, the preview's new file still under its temporary name in the other folder.
TEST(Tidy, AGroupAcrossFoldersIsFinishedFromItsPrimaryJournalOnly)
{
    for (const bool primaryThere : {true, false}) {
        SCOPED_TRACE(primaryThere ? "primary journal there" : "only the copy");
        const TempDir dir;
        fs::create_directory(dir.path("out"));
        fs::create_directory(dir.path("prev"));
        const std::string tmpRaw = std::string(".a.raw.") + kOwner + "-0.tmp";
        const std::string tmpPng = std::string(".a.png.") + kOwner + "-1.tmp";
        writeFile(dir.path("out/a.raw"), {'n', 'e', 'w'});  // placed: the old one now has the temporary name
        writeFile(dir.path("out") / tmpRaw, {'o', 'l', 'd'});
        writeFile(dir.path("prev/a.png"), {'o', 'l', 'd'});
        writeFile(dir.path("prev") / tmpPng, {'n', 'e', 'w'});
        const auto id = [](const fs::path& p) { return *platform::identityOf(p.string()); };
        const auto line = [&](const std::string& final, const std::string& tmp, const fs::path& file) {
            const auto i = id(file);
            return "file\t" + final + "\t" + tmp + "\t" + std::to_string(i.device) + "\t" + std::to_string(i.file) + "\n";
        };
        const std::string journalName = std::string(".zrvimage-") + kOwner + "-0.journal";
        const std::string primary = "zrvimage journal 1\n" + line("a.raw", tmpRaw, dir.path("out/a.raw"))
                                    + line((dir.path("prev") / "a.png").string(), (dir.path("prev") / tmpPng).string(),
                                           dir.path("prev") / tmpPng)
                                    + "end\t2\n";
        const std::string copy = "zrvimage journal 1\nprimary\t" + (dir.path("out") / journalName).string() + "\n"
                                 + line((dir.path("out") / "a.raw").string(), (dir.path("out") / tmpRaw).string(),
                                        dir.path("out/a.raw"))
                                 + line("a.png", tmpPng, dir.path("prev") / tmpPng) + "end\t2\n";
        if (primaryThere) writeFile(dir.path("out") / journalName, Bytes(primary.begin(), primary.end()));
        writeFile(dir.path("prev") / journalName, Bytes(copy.begin(), copy.end()));

        // The preview's folder first: with the primary there, it finishes the whole group.
        const auto steps = engine::tidyFolder(dir.path("prev").string());
        if (primaryThere) {
            ASSERT_EQ(kinds(steps), std::vector<TidyStep::Kind>{TidyStep::Finished});
            EXPECT_EQ(readFile(dir.path("prev/a.png")), (Bytes{'n', 'e', 'w'}));
            EXPECT_EQ(namesIn(dir.path("prev")), std::vector<std::string>{"a.png"});
            EXPECT_EQ(kinds(engine::tidyFolder(dir.path("out").string())), std::vector<TidyStep::Kind>{TidyStep::Removed});
            EXPECT_EQ(namesIn(dir.path("out")), std::vector<std::string>{"a.raw"});
        } else {
            // Never acted on: nothing was renamed before the primary was on the disk.
            EXPECT_EQ(kinds(steps), std::vector<TidyStep::Kind>{TidyStep::Removed});
            EXPECT_EQ(readFile(dir.path("prev/a.png")), (Bytes{'o', 'l', 'd'}));
            EXPECT_EQ(namesIn(dir.path("prev")), std::vector<std::string>{"a.png"});
        }
    }
}

// A journal cut short by the kill (no "end" line) was written before any rename.
TEST(Tidy, AJournalCutShortIsDroppedWithItsTemporaries)
{
    const TempDir dir;
    writeFile(dir.path("a.raw"), {'o', 'l', 'd'});
    const std::string tmp = std::string(".a.raw.") + kOwner + "-0.tmp";
    writeFile(dir.path(tmp), {'n', 'e', 'w'});
    const std::string cut = "zrvimage journal 1\nfile\ta.raw\t" + tmp + "\t1\t";
    writeFile(dir.path(std::string(".zrvimage-") + kOwner + "-0.journal"), Bytes(cut.begin(), cut.end()));
    engine::tidyFolder(dir.dir().string());
    EXPECT_EQ(namesIn(dir.dir()), std::vector<std::string>{"a.raw"});
    EXPECT_EQ(readFile(dir.path("a.raw")), (Bytes{'o', 'l', 'd'}));
}

// The first output a process writes into a folder tidies it first; its own lock file
// is there only while its files are being written.
TEST(Tidy, TheFirstWriteIntoAFolderTidiesItAndLeavesNoLockFileBehind)
{
    const TempDir dir;
    const std::string stale = std::string(".a.raw.") + kOwner + "-7.tmp";
    writeFile(dir.path(stale), {'x'});
    {
        engine::OutputGroup group;
        group.add(dir.path("b.raw").string()).write(Bytes{'b'});
        bool lockThere = false;
        for (const auto& n : namesIn(dir.dir())) lockThere |= n == ".zrvimage-" + engine::outputOwner() + ".lock";
        EXPECT_TRUE(lockThere);
        group.commit();
    }
    EXPECT_EQ(namesIn(dir.dir()), std::vector<std::string>{"b.raw"});
}

}  // namespace

// zrvimage-batch killed at every open, write, fsync, close, rename, link and unlink of
// its outputs in turn, with older outputs at every final name and with none; then the
// folders tidied (by `tidy`, or by the next run into them). Every group must end
// wholly old or wholly new, and no temporary, journal or lock file may be left.

#include "BatchRun.h"
#include "Program.h"

#include "MarkerScene.h"
#include "SeasonOracle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>

#ifndef _WIN32

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes>;  // "folder/name" -> bytes

constexpr int kKilled = 128 + 9;

// Every file under the given folders, hidden ones included.
Files contents(const fs::path& root, const std::vector<std::string>& folders)
{
    Files files;
    for (const auto& folder : folders) {
        for (const auto& name : filesIn(root / folder)) files[folder + "/" + name] = readFile(root / folder / name);
    }
    return files;
}

// The program run with ZRVIMAGE_CRASH_AT=nth, or unarmed for 0.
ProgramRun runKilledAt(std::uint64_t nth, const std::vector<std::string>& args, const fs::path& scratch)
{
    if (nth > 0) {
        ::setenv("ZRVIMAGE_CRASH_AT", std::to_string(nth).c_str(), 1);
    }
    ProgramRun run = runProgram(args, scratch);
    ::unsetenv("ZRVIMAGE_CRASH_AT");
    return run;
}

struct Writer {
    const char* what;
    std::vector<std::string> folders;  // where its outputs go, under the test's folder
    std::vector<std::string> outputs;  // "folder/name"
    // The arguments, given the test's folder (inputs are made there first).
    std::function<std::vector<std::string>(const fs::path&)> args;
};

std::vector<Writer> writers()
{
    const auto ndviInput = [](const fs::path& root) {
        writeFile(root / "a.bmp", encodeBmp(asymmetricPicture(7, 3)));
        return (root / "a.bmp").string();
    };
    return {
        // A raster, its header, and a preview in a folder of its own: a group across
        // two folders.
        {"ndvi --envi-header --preview-dir",
         {"out", "prev"},
         {"out/a.hdr", "out/a.raw", "prev/a.png"},
         [=](const fs::path& root) {
             return std::vector<std::string>{"ndvi", ndviInput(root), "--nir-white", "255", "--red-white", "255",
                                             "--envi-header", "--preview-dir", (root / "prev").string(), "--out-dir",
                                             (root / "out").string(), "--force", "-j", "1"};
         }},
        {"ndvi --tiff",
         {"out"},
         {"out/a.tif"},
         [=](const fs::path& root) {
             writeFile(root / "a.bmp", encodeBmp(asymmetricPicture(300, 40)));
             return std::vector<std::string>{"ndvi", (root / "a.bmp").string(), "--nir-white", "255", "--red-white",
                                             "255", "--tiff", "--out-dir", (root / "out").string(), "--force"};
         }},
        {"crop",
         {"out"},
         {"out/a.bmp"},
         [=](const fs::path& root) {
             writeFile(root / "a.bmp", encodeBmp(asymmetricPicture(2050, 6)));
             return std::vector<std::string>{"crop", (root / "a.bmp").string(), "--out-dir", (root / "out").string(),
                                             "--force"};
         }},
        {"series",
         {"out"},
         {"out/season.csv"},
         [=](const fs::path& root) {
             const testing_support::SeasonScene scene;
             const std::string regions = scene.regionsJson();
             writeFile(root / "regions.json", Bytes(regions.begin(), regions.end()));
             std::vector<std::string> args{"series"};
             for (int k = 0; k < 2; ++k) {
                 const fs::path frame = root / ("f" + std::to_string(k) + ".bmp");
                 writeFile(frame, encodeBmp(scene.picture(0.8 + 0.1 * k, static_cast<std::uint32_t>(k))));
                 args.push_back(frame.string());
             }
             args.insert(args.end(), {"--regions", (root / "regions.json").string(), "--csv",
                                      (root / "out" / "season.csv").string(), "--force", "-j", "1"});
             return args;
         }},
        {"anchor",
         {"out"},
         {"out/anchored.json"},
         [=](const fs::path& root) {
             const MarkerScene scene;
             writeFile(root / "day1.bmp", encodeBmp(scene.frame()));
             writeText(root / "drawn.json", engine::regionsJson(scene.regions()));
             return std::vector<std::string>{"anchor", (root / "day1.bmp").string(), "--regions",
                                             (root / "drawn.json").string(), "-o", (root / "out" / "anchored.json").string(),
                                             "--force"};
         }},
        {"tags",
         {"out"},
         {"out/sheet.png"},
         [=](const fs::path& root) {
             return std::vector<std::string>{"tags", "--ids", "0-3,7", "--size-mm", "60", "-o",
                                             (root / "out" / "sheet.png").string(), "--force"};
         }},
    };
}

TEST(CrashSweep, EveryKillLeavesEachGroupWhollyOldOrWhollyNewOnceTidied)
{
    std::uint64_t kills = 0;
    std::uint64_t finished = 0;  // tidies that placed a group from its journal
    std::uint64_t rolledBack = 0;
    for (const Writer& w : writers()) {
        const TempDir dir;
        const fs::path root = dir.dir();
        const std::vector<std::string> args = w.args(root);
        const auto fresh = [&] {
            for (const auto& f : w.folders) {
                fs::remove_all(root / f);
                fs::create_directories(root / f);
            }
        };
        // The new files, from a run with nothing killed.
        fresh();
        ASSERT_EQ(runKilledAt(0, args, root).status, 0) << w.what;
        const Files made = contents(root, w.folders);
        std::vector<std::string> names;
        for (const auto& [name, bytes] : made) names.push_back(name);
        ASSERT_EQ(names, w.outputs) << w.what;

        for (const bool withOld : {true, false}) {
            Files old;
            if (withOld) {
                for (const auto& name : w.outputs) old[name] = Bytes{'o', 'l', 'd', static_cast<std::uint8_t>(name.back())};
            }
            for (std::uint64_t n = 1;; ++n) {
                SCOPED_TRACE(std::string(w.what) + (withOld ? ", over old files" : ", none before") + ", killed at call "
                             + std::to_string(n));
                fresh();
                for (const auto& [name, bytes] : old) writeFile(root / name, bytes);
                const ProgramRun run = runKilledAt(n, args, root);
                if (run.status != kKilled) {
                    // Past the last call: a whole run.
                    std::cout << w.what << (withOld ? ", over old files: " : ", none before: ") << n - 1 << " kills\n";
                    EXPECT_EQ(run.status, 0) << run.err;
                    EXPECT_EQ(contents(root, w.folders), made);
                    break;
                }
                ++kills;
                // Put right by tidy, or (every other kill) by the next run into the
                // folders, which must find them tidy before it writes.
                if (n % 2 == 1) {
                    std::vector<std::string> tidy{"tidy"};
                    for (const auto& f : w.folders) tidy.push_back((root / f).string());
                    const ProgramRun tidied = runKilledAt(0, tidy, root);
                    EXPECT_EQ(tidied.status, 0) << tidied.err;
                    EXPECT_EQ(tidied.err, "");
                    if (tidied.out.find("完了しました") != std::string::npos) ++finished;
                    if (tidied.out.find("削除しました") != std::string::npos) ++rolledBack;
                    const Files now = contents(root, w.folders);
                    EXPECT_TRUE(now == old || now == made) << "mixed or left over after tidy:\n" << tidied.out;
                } else {
                    EXPECT_EQ(runKilledAt(0, args, root).status, 0);
                    EXPECT_EQ(contents(root, w.folders), made) << "a run after the kill";
                }
                ASSERT_LT(n, 500u) << "the run never ends";
            }
        }
    }
    std::cout << "kills: " << kills << ", groups finished by tidy: " << finished
              << ", temporaries removed by tidy: " << rolledBack << "\n";
    RecordProperty("kills", static_cast<int>(kills));
    EXPECT_GT(finished, 0u);
}

}  // namespace

#endif

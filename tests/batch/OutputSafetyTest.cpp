// A file that fails, or a run that is interrupted, leaves the outputs as they were:
// the old ones, or none, never a partial or empty file under an output's name and
// never a temporary file beside it.

#include "BatchRun.h"

#include "ExpectedOutput.h"
#include "batch/FileRun.h"
#include "batch/OutputPlan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;

const std::vector<std::uint8_t> kOld{'o', 'l', 'd'};

// Inputs a.bmp (the one made to fail) and b.bmp, and every output of both from an
// earlier run in out/.
struct EarlierRun {
    TempDir dir;
    fs::path a = dir.path("a.bmp");
    fs::path b = dir.path("b.bmp");
    fs::path out = dir.path("out");
    testing_support::Picture picture = asymmetricPicture(7, 3);

    explicit EarlierRun(const std::vector<const char*>& outputs)
    {
        writeFile(a, encodeBmp(picture));
        writeFile(b, encodeBmp(picture));
        fs::create_directories(out);
        for (const char* name : outputs) writeFile(out / name, kOld);
    }
    std::vector<std::string> ndviArgs() const
    {
        return {"ndvi", a.string(), b.string(), "--nir-white", "255", "--red-white", "255", "--out-dir", out.string(),
                "--envi-header", "--preview-dir", out.string(), "--stats", "--force", "-j", "2"};
    }
};

TEST(FailedFile, KeepsItsOldOutputsWhereverItFailsAndLeavesNoTemporaryFile)
{
    const auto folderAt = [](const char* name) {
        return [name](EarlierRun& r) {
            fs::remove(r.out / name);
            fs::create_directory(r.out / name);
        };
    };
    const auto cannotCreate = [](const char* name) {
        return [name](const EarlierRun& r) { return "出力ファイルを作成できません（フォルダーです）: " + (r.out / name).string(); };
    };
    const struct {
        const char* what;
        std::function<void(EarlierRun&)> breakFile;                 // makes a.bmp's run fail
        std::function<std::string(const EarlierRun&)> message;  // after "a.bmp: "
    } cases[] = {
        {"8-bit picture", [](EarlierRun& r) { writeFile(r.a, encodeBmp(r.picture, 8)); },
         [](const EarlierRun&) { return std::string("24ビットフォルスカラ―画像を指定してください"); }},
        {"picture cut short", [](EarlierRun& r) { writeFile(r.a, testing_support::cut(encodeBmp(r.picture), 54 + 24)); },
         [](const EarlierRun& r) { return "画像ファイルが途中で切れています: " + r.a.string(); }},
        // A folder under an output's name fails the file only once its raster,
        // header and preview are all written: the latest point a file can fail.
        {"raster name is a folder", folderAt("a.raw"), cannotCreate("a.raw")},
        {"header name is a folder", folderAt("a.hdr"), cannotCreate("a.hdr")},
        {"preview name is a folder", folderAt("a.png"), cannotCreate("a.png")},
    };
    for (const auto& c : cases) {
        EarlierRun run({"a.raw", "a.hdr", "a.png", "b.raw", "b.hdr", "b.png"});
        c.breakFile(run);
        const std::string message = c.message(run);

        const BatchResult result = runBatch(run.ndviArgs());
        EXPECT_EQ(result.status, batch::kSomeFailed) << c.what;
        EXPECT_NE(result.err.find(run.a.string() + ": " + message + "\n"), std::string::npos) << c.what << "\n" << result.err;

        // Exactly the outputs there were: no temporary file, nothing new.
        EXPECT_EQ(filesIn(run.out), (std::vector<std::string>{"a.hdr", "a.png", "a.raw", "b.hdr", "b.png", "b.raw"}))
            << c.what;
        for (const char* name : {"a.raw", "a.hdr", "a.png"}) {
            if (fs::is_regular_file(run.out / name)) {
                EXPECT_EQ(readFile(run.out / name), kOld) << c.what << ": " << name;
            }
        }
        // The other file's outputs are replaced as usual.
        EXPECT_EQ(readFile(run.out / "b.raw"), testing_support::expectedNdvi(run.picture)) << c.what;
        EXPECT_NE(readFile(run.out / "b.hdr"), kOld);
        EXPECT_NE(readFile(run.out / "b.png"), kOld);
        EXPECT_NE(result.out.find(run.b.string() + "\tmarkers="), std::string::npos) << c.what;
    }
}

TEST(FailedFile, WithNoEarlierOutputLeavesNothingAtAll)
{
    EarlierRun run({});
    fs::create_directory(run.out / "a.png");  // the preview cannot be put in place
    const BatchResult result = runBatch(run.ndviArgs());
    EXPECT_EQ(result.status, batch::kSomeFailed);
    EXPECT_EQ(filesIn(run.out), (std::vector<std::string>{"a.png", "b.hdr", "b.png", "b.raw"}));

    const BatchResult crop = runBatch({"crop", run.a.string(), "-o", (run.out / "a.png").string(), "--force"});
    EXPECT_EQ(crop.status, batch::kSomeFailed);
    EXPECT_EQ(filesIn(run.out), (std::vector<std::string>{"a.png", "b.hdr", "b.png", "b.raw"}));
}

// Cancelling (what Ctrl-C does) stops a file inside the engine's run, after its
// temporary output was created and partly written.
TEST(Cancelled, FileStopsSilentlyWithItsOldOutputs)
{
    for (const char* command : {"crop", "ndvi"}) {
        EarlierRun run({"a.bmp", "a.raw", "a.hdr", "a.png"});
        std::vector<std::string> args{command, run.a.string(), "--out-dir", run.out.string(), "--force"};
        if (command == std::string("ndvi")) {
            args.insert(args.end(), {"--nir-white", "255", "--red-white", "255", "--envi-header", "--preview-dir",
                                     run.out.string()});
        }
        const auto options = std::get<batch::Options>(batch::parseCommandLine(args));
        const auto jobs = batch::planJobs(options);
        std::vector<std::string> messages;
        const std::atomic<bool> cancel{true};

        const batch::FileOutcome outcome =
            batch::runFile(options, jobs[0], [&](const std::string& m) { messages.push_back(m); }, &cancel);
        EXPECT_FALSE(outcome.succeeded) << command;
        EXPECT_EQ(outcome.line, "");
        EXPECT_TRUE(messages.empty()) << messages.front();
        EXPECT_EQ(filesIn(run.out), (std::vector<std::string>{"a.bmp", "a.hdr", "a.png", "a.raw"})) << command;
        for (const auto& name : filesIn(run.out)) EXPECT_EQ(readFile(run.out / name), kOld) << command << ": " << name;
    }
}

TEST(Cancelled, RunStartsNoFurtherFileAndSaysSo)
{
    EarlierRun run({"a.raw", "b.raw"});
    std::ostringstream out, err;
    const std::atomic<bool> interrupted{true};
    const int status = batch::run({"ndvi", run.a.string(), run.b.string(), "--nir-white", "255", "--red-white", "255",
                                   "--out-dir", run.out.string(), "--force", "--stats"},
                                  out, err, false, &interrupted);
    EXPECT_EQ(status, batch::kInterrupted);
    EXPECT_EQ(err.str(), "zrvimage-batch: 中断しました\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(filesIn(run.out), (std::vector<std::string>{"a.raw", "b.raw"}));
    EXPECT_EQ(readFile(run.out / "a.raw"), kOld);
    EXPECT_EQ(readFile(run.out / "b.raw"), kOld);
}

}  // namespace

// Every open, write, sync, close and rename of a file's outputs failed in turn, with
// an older output at every final name: the run either succeeds with all the new files
// or reports the file and leaves every old one byte for byte; never a short file under
// a final name, never a temporary left.

#include "BatchRun.h"

#include "FaultSweep.h"

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes>;

Files contents(const fs::path& dir)
{
    Files files;
    for (const auto& name : filesIn(dir)) files[name] = readFile(dir / name);
    return files;
}

TEST(FaultSweep, EveryFailedOutputCallLeavesAllOldOrAllNew)
{
    const struct {
        const char* what;
        testing_support::Picture picture;
        std::vector<std::string> options;  // after the command and input
        std::vector<std::string> outputs;
    } cases[] = {
        {"ndvi --envi-header with preview", asymmetricPicture(7, 3),
         {"--nir-white", "255", "--red-white", "255", "--envi-header", "--preview-dir", "OUT"},
         {"a.hdr", "a.png", "a.raw"}},
        // Three strips of floats: several writes, and the directory written last.
        {"ndvi --tiff", asymmetricPicture(300, 500), {"--nir-white", "255", "--red-white", "255", "--tiff"}, {"a.tif"}},
        // Wider than the crop: copied straight from the mapped picture.
        {"crop", asymmetricPicture(2050, 20), {}, {"a.bmp"}},
    };
    std::uint64_t faults = 0;
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path input = dir.path("a.bmp");
        const fs::path out = dir.path("out");
        writeFile(input, encodeBmp(c.picture));
        const std::string command = std::string(c.what).substr(0, std::string(c.what).find(' '));
        std::vector<std::string> args{command, input.string()};
        for (const auto& o : c.options) args.push_back(o == "OUT" ? out.string() : o);
        args.insert(args.end(), {"--out-dir", out.string(), "--force", "-j", "1"});

        // The new files, from a run with nothing failing and nothing there before.
        fs::create_directory(out);
        ASSERT_EQ(runBatch(args).status, 0) << c.what;
        const Files fresh = contents(out);
        ASSERT_EQ(filesIn(out), c.outputs) << c.what;
        Files old;
        for (const auto& name : c.outputs) old[name] = Bytes{'o', 'l', 'd', static_cast<std::uint8_t>(name[2])};

        BatchResult result;
        const auto run = [&] {
            fs::remove_all(out);
            fs::create_directory(out);
            for (const auto& [name, bytes] : old) writeFile(out / name, bytes);
            result = runBatch(args);
        };
        const auto check = [&](const std::string& label) {
            const Files now = contents(out);  // hidden temporaries included
            if (result.status == 0) {
                EXPECT_EQ(now, fresh) << c.what << ", " << label << ": reported written";
                EXPECT_EQ(result.err, "") << c.what << ", " << label;
                return;
            }
            EXPECT_EQ(now, old) << c.what << ", " << label << ": failed\n" << result.err;
            bool namesAnOutput = false;
            for (const auto& name : c.outputs) {
                namesAnOutput |= result.err.find((out / name).string()) != std::string::npos;
            }
            EXPECT_TRUE(namesAnOutput) << c.what << ", " << label << ": " << result.err;
            EXPECT_EQ(result.err.rfind(input.string() + ": ", 0), 0u) << c.what << ", " << label << ": " << result.err;
        };
        faults += testing_support::sweepFaults(run, check);
    }
    RecordProperty("faults", static_cast<int>(faults));
    std::cout << "faults injected: " << faults << "\n";
}

}  // namespace

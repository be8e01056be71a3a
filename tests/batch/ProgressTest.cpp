// The progress line: on a terminal only, never mixed into the results.

#include "BatchRun.h"

#include "batch/Console.h"

#include <gtest/gtest.h>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(Progress, LineGivesFilesDoneRateAndTimeLeft)
{
    const struct {
        std::size_t done, total;
        double seconds;
        const char* line;
    } cases[] = {
        {0, 10, 0.0, "処理中 0/10 ファイル"},
        {3, 10, 1.5, "処理中 3/10 ファイル  2.0 ファイル/秒  残り 0:04"},
        {10, 10, 4.0, "処理中 10/10 ファイル  2.5 ファイル/秒  残り 0:00"},
        {1, 7201, 1.0, "処理中 1/7201 ファイル  1.0 ファイル/秒  残り 2:00:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(batch::progressLine(c.done, c.total, c.seconds), c.line);
}

TEST(Progress, IsDrawnOnATerminalOnlyAndLeavesTheResultsAlone)
{
    TempDir dir;
    std::vector<std::string> args{"maxima", "--rect", "0,0,9,9"};
    for (const char* name : {"a.bmp", "b.bmp"}) {
        args.push_back(dir.path(name).string());
        writeFile(args.back(), encodeBmp(asymmetricPicture()));
    }
    const BatchResult piped = runBatch(args, false);
    const BatchResult terminal = runBatch(args, true);
    EXPECT_EQ(piped.status, batch::kAllSucceeded);
    EXPECT_EQ(terminal.status, batch::kAllSucceeded);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(terminal.out, piped.out);
    EXPECT_TRUE(terminal.err.starts_with("\r処理中 0/2 ファイル")) << terminal.err;
    EXPECT_NE(terminal.err.find("\r処理中 2/2 ファイル"), std::string::npos) << terminal.err;
    EXPECT_TRUE(terminal.err.ends_with("\r\033[K")) << "the line is cleared at the end";
}

}  // namespace

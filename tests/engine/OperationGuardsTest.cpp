// What every operation does with cancelled dialogs, unusable inputs and outputs it
// must not or cannot write, before any result is worked out.

#include "OperationRun.h"
#include "Operations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using window::FileDialog;
using window::ResultLabel;
using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::encodeBmp;
using testing_support::exitStatusOf;
using testing_support::kCrop;
using testing_support::kMaxima;
using testing_support::kNdvi;
using testing_support::Operation;
using testing_support::operationName;
using testing_support::OperationRun;
using testing_support::progressUntouched;
using testing_support::readFile;

namespace fs = std::filesystem;

const std::map<ResultLabel, std::string> kOldLabels{
    {ResultLabel::Label8, "7"}, {ResultLabel::Label9, "8"}, {ResultLabel::Label10, "9"}};

class EveryOperation : public ::testing::TestWithParam<Operation> {
protected:
    // A run whose window already shows results from an earlier area maxima.
    static void prepare(OperationRun& run) { run.fake.labels = kOldLabels; }

    std::vector<FileDialog> dialogsUpToSave() const
    {
        if (GetParam().saveTitle) return {FileDialog::Open, FileDialog::Save};
        return {FileDialog::Open};
    }

    // Nothing shown or changed in the window, and no file but the input.
    static void expectSilentEnd(const OperationRun& run)
    {
        EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
        EXPECT_TRUE(progressUntouched(run.fake.progress));
        EXPECT_EQ(run.fake.pumps, 0);
        EXPECT_EQ(run.fake.labels, kOldLabels);
        EXPECT_EQ(run.files(), std::vector<std::string>{"in.bmp"});
    }
};

class FileWritingOperation : public EveryOperation {};

TEST_P(EveryOperation, CancelledOpenDialogDoesNothing)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    prepare(run);
    run.fake.dialogAnswers = {std::nullopt};

    GetParam().run(run.fake);

    EXPECT_EQ(run.fake.dialogsShown, std::vector<FileDialog>{FileDialog::Open});
    const auto& open = run.fake.dialogRequests.at(0);
    EXPECT_EQ(open.title, GetParam().openTitle);
    EXPECT_EQ(open.filter, "BMPファイル (*.bmp) | *.bmp");
    EXPECT_EQ(open.defaultExt, ".bmp");
    expectSilentEnd(run);
}

TEST_P(EveryOperation, InputThatCannotBeOpenedIsReported)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    prepare(run);
    const std::pair<std::string, std::string> cases[] = {
        {(run.dir.dir() / "missing" / "in.bmp").string(), "ファイルまたはフォルダーが見つかりません"},
        {run.dir.dir().string(), "フォルダーです"}};
    for (const auto& [path, reason] : cases) {
        run.fake.dialogAnswers = {path, run.output.string()};
        run.fake.messages.clear();
        run.fake.dialogsShown.clear();

        GetParam().run(run.fake);

        EXPECT_EQ(run.fake.messages, std::vector<std::string>{"入力ファイルを開けません（" + reason + "）\n" + path});
        EXPECT_EQ(run.fake.dialogsShown, std::vector<FileDialog>{FileDialog::Open});
    }
    EXPECT_TRUE(progressUntouched(run.fake.progress));
    EXPECT_EQ(run.fake.labels, kOldLabels);
    EXPECT_EQ(run.files(), std::vector<std::string>{"in.bmp"});
}

TEST_P(EveryOperation, EightBitInputAsksForTwentyFourBitsAndEndsTheProcess)
{
    OperationRun run(encodeBmp(asymmetricPicture(), 8));
    prepare(run);

    EXPECT_EQ(exitStatusOf([&] { GetParam().run(run.fake); }), -1);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{GetParam().eightBitMessage});
    EXPECT_EQ(run.fake.dialogsShown, dialogsUpToSave());
    EXPECT_TRUE(progressUntouched(run.fake.progress));
    EXPECT_EQ(run.files(), std::vector<std::string>{"in.bmp"});
}

// Other depths, widths without pixels and damaged headers: BadInputSweepTest.

TEST_P(EveryOperation, PictureWiderThanAMillionPixelsIsRefused)
{
    OperationRun run(bmpHeader(1'000'001, 2, 24));  // refused before its size is looked at
    prepare(run);

    GetParam().run(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"画像の幅が大きすぎます"});
    EXPECT_TRUE(progressUntouched(run.fake.progress));
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_EQ(run.fake.labels, kOldLabels);
    EXPECT_EQ(run.files(), std::vector<std::string>{"in.bmp"});
}

TEST_P(FileWritingOperation, CancelledSaveDialogWritesNothing)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    run.fake.dialogAnswers = {run.input.string(), std::nullopt};

    GetParam().run(run.fake);

    EXPECT_EQ(run.fake.dialogsShown, (std::vector<FileDialog>{FileDialog::Open, FileDialog::Save}));
    const auto& save = run.fake.dialogRequests.at(1);
    EXPECT_EQ(save.title, GetParam().saveTitle);
    EXPECT_EQ(save.filter, GetParam().saveFilter);
    EXPECT_EQ(save.defaultExt, GetParam().saveExt);
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{});
    EXPECT_TRUE(progressUntouched(run.fake.progress));
    EXPECT_EQ(run.files(), std::vector<std::string>{"in.bmp"});
}

TEST_P(FileWritingOperation, OutputThatCannotBeCreatedIsReported)
{
    OperationRun run(encodeBmp(asymmetricPicture()));
    fs::create_directory(run.dir.path("folder"));
    const std::pair<std::string, std::string> cases[] = {
        {(run.dir.dir() / "missing" / "out.dat").string(), "ファイルまたはフォルダーが見つかりません"},
        {run.dir.path("folder").string(), "フォルダーです"}};
    for (const auto& [path, reason] : cases) {
        run.fake.dialogAnswers = {run.input.string(), path};
        run.fake.messages.clear();

        GetParam().run(run.fake);

        EXPECT_EQ(run.fake.messages, std::vector<std::string>{"出力ファイルを作成できません（" + reason + "）\n" + path});
    }
    EXPECT_EQ(run.fake.pumps, 0);
    EXPECT_EQ(run.fake.progress.stepCount(), 0);
    EXPECT_EQ(run.files(), (std::vector<std::string>{"folder", "in.bmp"}));
    EXPECT_TRUE(fs::is_empty(run.dir.path("folder")));
}

struct OtherName {
    const char* name;
    // Makes another name for the input inside the run's folder and gives it.
    std::function<fs::path(const OperationRun&)> make;
};

TEST_P(FileWritingOperation, InputIsNeverOverwrittenUnderAnyName)
{
    const OtherName names[] = {
        {"same path", [](const OperationRun& r) { return r.input; }},
        {"dot folder", [](const OperationRun& r) { return r.dir.dir() / "." / "in.bmp"; }},
        {"parent folder", [](const OperationRun& r) { return r.dir.dir() / ".." / r.dir.dir().filename() / "in.bmp"; }},
        {"hard link",
         [](const OperationRun& r) {
             fs::create_hard_link(r.input, r.dir.path("hard.bmp"));
             return r.dir.path("hard.bmp");
         }},
#ifdef _WIN32
        // Names differ in case and slashes there; symbolic links need a privilege.
        {"other case", [](const OperationRun& r) { return r.dir.path("IN.BMP"); }},
        {"forward slashes", [](const OperationRun& r) { return fs::path(r.dir.dir().generic_string() + "/in.bmp"); }},
#else
        {"symbolic link",
         [](const OperationRun& r) {
             fs::create_symlink(r.input, r.dir.path("soft.bmp"));
             return r.dir.path("soft.bmp");
         }},
#endif
    };
    const auto picture = encodeBmp(asymmetricPicture());
    for (const auto& name : names) {
        SCOPED_TRACE(name.name);
        OperationRun run(picture);
        const fs::path path = name.make(run);
        run.fake.dialogAnswers = {run.input.string(), path.string()};

        GetParam().run(run.fake);

        EXPECT_EQ(run.fake.messages, std::vector<std::string>{"入力ファイルと同じファイルには保存できません"});
        EXPECT_EQ(readFile(run.input), picture);
        EXPECT_EQ(run.fake.pumps, 0);
        EXPECT_EQ(run.fake.progress.stepCount(), 0);
    }
}

TEST_P(FileWritingOperation, WriteFailureIsReportedInPlaceOfDone)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    OperationRun run(encodeBmp(asymmetricPicture()));
    run.fake.dialogAnswers = {run.input.string(), "/dev/full"};

    GetParam().run(run.fake);

    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"出力ファイルの書き込みに失敗しました（容量が不足しています）\n/dev/full"});
    EXPECT_EQ(run.fake.progress.stepCount(), 5);
    EXPECT_EQ(run.fake.progress.position(), 0);
}

// An output its disk holds (here a pipe read only once the window has pumped while
// waiting) leaves the window answering, and the run ends as on any disk. (A picture
// of 2048 columns would be copied straight, which holds the window for the write.)
TEST_P(FileWritingOperation, AnOutputItsDiskHoldsLeavesTheWindowAnswering)
{
#ifdef _WIN32
    GTEST_SKIP() << "no named pipe in the file system to hold the writer";
#else
    OperationRun run(encodeBmp(asymmetricPicture(1000, 40)));
    testing_support::HeldPipe pipe(run.dir.path("disk"));
    run.fake.dialogAnswers = {run.input.string(), run.dir.path("disk").string()};
    run.fake.onWaitingPump = [&] { pipe.release(); };

    GetParam().run(run.fake);
    const auto written = pipe.bytes();

    EXPECT_GT(run.fake.waitingPumps, 0);
    EXPECT_EQ(run.fake.messages, std::vector<std::string>{"完了"});
    run.fake.dialogAnswers = {run.input.string(), run.output.string()};
    GetParam().run(run.fake);  // the same again, to a plain file
    EXPECT_EQ(written, run.outputBytes());
#endif
}

INSTANTIATE_TEST_SUITE_P(Operations, EveryOperation, ::testing::Values(kCrop, kMaxima, kNdvi), operationName);
INSTANTIATE_TEST_SUITE_P(Operations, FileWritingOperation, ::testing::Values(kCrop, kNdvi), operationName);

}  // namespace

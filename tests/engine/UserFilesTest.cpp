// The user's files come to no harm: an output that cannot be written leaves nothing
// behind, and an input deleted, locked or swapped while the save dialog is up is still
// read as it was when it was opened.

#include "BmpFixture.h"
#include "FakeServices.h"
#include "Operations.h"
#include "engine/platform/Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <vector>

namespace {

using window::FileDialog;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::FakeServices;
using testing_support::kCrop;
using testing_support::kNdvi;
using testing_support::Operation;
using testing_support::Picture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;

// The fake window, with something done to the files while the save dialog is up.
class WhileSaveDialogIsUp : public FakeServices {
public:
    std::function<void()> action;
    std::optional<std::string> chooseFile(FileDialog dialog, const window::FileDialogRequest& request) override
    {
        if (dialog == FileDialog::Save && action) action();
        return FakeServices::chooseFile(dialog, request);
    }
};

class UserFiles : public ::testing::TestWithParam<Operation> {
protected:
    TempDir dir;
    const Picture picture = asymmetricPicture(7, 3);
    const Bytes input = encodeBmp(picture);
    const fs::path inputPath = dir.path("in.bmp");

    void SetUp() override { writeFile(inputPath, input); }

    // Runs the operation with the output chosen at path; the messages it showed.
    Messages runTo(const fs::path& path)
    {
        FakeServices fake;
        fake.dialogAnswers = {inputPath.string(), path.string()};
        GetParam().run(fake);
        return fake.messages;
    }
};

// A folder the user may not write into, as the system refuses it: through the platform
// layer's seam, so that it is refused for root and under wine too, which write into a
// read-only folder whatever its permissions.
TEST_P(UserFiles, OutputInAFolderThatCannotBeWrittenIsReportedAndNothingChanges)
{
    const fs::path locked = dir.path("locked");
    fs::create_directory(locked);
    writeFile(locked / "old.raw", {1, 2, 3});

    for (const char* name : {"new.raw", "old.raw"}) {
        SCOPED_TRACE(name);
        const fs::path path = locked / name;
        engine::platform::injectFault(engine::platform::Open, 1, EACCES, 1000);
        const Messages shown = runTo(path);
        engine::platform::injectFault(0, 0, 0);
        EXPECT_EQ(shown, Messages{"出力ファイルを作成できません（アクセスが拒否されました）\n" + engine::platform::utf8Of(path)});
    }
    EXPECT_EQ(readFile(locked / "old.raw"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(fs::exists(locked / "new.raw"));
    EXPECT_EQ(readFile(inputPath), input);
}

TEST_P(UserFiles, OutputWhereNotEvenRootMayCreateFilesIsReported)
{
    // Folders of the kernel's own: no file can be made there, whoever asks.
    const std::pair<const char*, std::string> cases[] = {
        {"/proc/zrvimage-out.raw", "ファイルまたはフォルダーが見つかりません"},
        {"/proc/self/zrvimage-out.raw", "ファイルまたはフォルダーが見つかりません"},
        {"/sys/zrvimage-out.raw", "アクセスが拒否されました"}};
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        if (!fs::exists(fs::path(path).parent_path())) continue;
        EXPECT_EQ(runTo(path), Messages{"出力ファイルを作成できません（" + reason + "）\n" + std::string(path)});
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(readFile(inputPath), input);
}

struct Interference {
    const char* name;
    // Done to the input while the save dialog is up.
    std::function<void(const fs::path& input, const fs::path& folder)> act;
    // The picture the run must read: the input as it was opened, or as it is now.
    bool readsAsOpened;
};

TEST_P(UserFiles, InputChangedWhileTheSaveDialogIsUpIsReadThroughTheFileOpenedBefore)
{
    const Interference cases[] = {
        {"deleted", [](const fs::path& in, const fs::path&) { fs::remove(in); }, true},
        {"made unreadable", [](const fs::path& in, const fs::path&) { fs::permissions(in, fs::perms::none); }, true},
        {"replaced by another picture",
         [](const fs::path& in, const fs::path& folder) {
             writeFile(folder / "other.bmp", encodeBmp(asymmetricPicture(2, 2)));
             // Windows refuses to replace a file that is open: the run reads the
             // picture it opened either way.
             std::error_code refused;
             fs::rename(folder / "other.bmp", in, refused);
#ifndef _WIN32
             EXPECT_FALSE(refused);
#endif
         },
         true},
        // The same file cut short: refused as it is when the run starts, before the
        // output exists.
        {"cut to its header", [](const fs::path& in, const fs::path&) { fs::resize_file(in, 54); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const fs::path in = folder.path("写真.bmp");
        const fs::path out = folder.path("out.dat");
        writeFile(in, input);
        WhileSaveDialogIsUp fake;
        fake.dialogAnswers = {engine::platform::utf8Of(in), out.string()};
        fake.action = [&] { c.act(in, folder.dir()); };

        GetParam().run(fake);

        if (!c.readsAsOpened) {
            EXPECT_EQ(fake.messages, Messages{"画像ファイルが途中で切れています\n" + engine::platform::utf8Of(in)});
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        EXPECT_EQ(fake.messages, Messages{"完了"});
        EXPECT_EQ(readFile(out), GetParam().expected(picture));
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, UserFiles, ::testing::Values(kCrop, kNdvi), testing_support::operationName);

}  // namespace

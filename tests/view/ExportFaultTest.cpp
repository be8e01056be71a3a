// Every open, write, sync, close and rename of each export failed in turn, with an
// older file at every final name: the export either succeeds with complete new files,
// or says which file failed and leaves every old one byte for byte; never a short file
// under a final name, never a temporary left, never "書き出しました" after a failure.
#include "ViewerFixture.h"

#include "FaultSweep.h"

#include <QAction>

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace {

using namespace view_testing;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes>;

// Every file in dir but the picture, hidden temporaries included.
Files outputsIn(const fs::path& dir)
{
    Files files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != "frame.bmp") files[name] = testing_support::readFile(entry.path());
    }
    return files;
}

QAction* actionNamed(QWidget& window, const QString& prefix)
{
    for (QAction* a : window.findChildren<QAction*>()) {
        if (a->text().startsWith(prefix)) return a;
    }
    return nullptr;
}

TEST(ExportFaultTest, EveryFailedCallLeavesAllOldOrAllNew)
{
    const struct {
        const char* menu;  // the start of its menu entry
        std::vector<std::string> outputs;  // the first is chosen in the save dialog
    } cases[] = {
        {"NDVIラスター", {"out.raw", "out.hdr"}},
        {"NDVI（TIFF float32）", {"out.tif"}},
        {"表示中の画像", {"out.png"}},
        {"範囲の数値", {"out.csv"}},
    };
    std::uint64_t faults = 0;
    for (const auto& c : cases) {
        testing_support::TempDir dir;
        // Some hundred rows: the raster and the TIFF take several writes.
        testing_support::writeFile(dir.path("frame.bmp"),
                                   testing_support::encodeBmp(testing_support::asymmetricPicture(300, 500)));
        Viewer v;
        ASSERT_TRUE(v.open(dir.path("frame.bmp")));
        v.window.setWhiteValues({230, 210});
        v.window.setView(view::Canvas::Mode::Ndvi);
        v.window.selectArea(engine::Rectangle{10, 20, 200, 300});
        QAction* action = actionNamed(v.window, QString::fromUtf8(c.menu));
        ASSERT_NE(action, nullptr) << c.menu;
        const QString chosen = QString::fromStdString(dir.path(c.outputs[0]).string());

        v.savePaths = {chosen};
        action->trigger();
        ASSERT_TRUE(v.messages.empty()) << c.menu;
        const Files fresh = outputsIn(dir.dir());
        ASSERT_EQ(fresh.size(), c.outputs.size()) << c.menu;
        Files old;
        for (const auto& name : c.outputs) old[name] = Bytes{'o', 'l', 'd', static_cast<std::uint8_t>(name.back())};

        const auto run = [&] {
            for (const auto& [name, bytes] : old) testing_support::writeFile(dir.path(name), bytes);
            v.messages.clear();
            v.savePaths = {chosen};
            v.confirmations = {true};  // replace the old file
            action->trigger();
        };
        const auto check = [&](const std::string& label) {
            const Files now = outputsIn(dir.dir());
            const QString status = v.window.noticeText();
            if (v.messages.empty()) {
                EXPECT_EQ(now, fresh) << c.menu << ", " << label << ": reported written";
                EXPECT_EQ(status, QStringLiteral("書き出しました: ") + chosen) << c.menu << ", " << label;
                return;
            }
            EXPECT_EQ(now, old) << c.menu << ", " << label << ": failed";
            ASSERT_EQ(v.messages.size(), 1u) << c.menu << ", " << label;
            bool namesAnOutput = false;
            for (const auto& name : c.outputs) {
                namesAnOutput |= v.messages[0].contains(QString::fromStdString(dir.path(name).string()));
            }
            EXPECT_TRUE(namesAnOutput) << c.menu << ", " << label << ": " << v.messages[0].toStdString();
            EXPECT_FALSE(status.contains(QStringLiteral("書き出しました"))) << c.menu << ", " << label;
        };
        faults += testing_support::sweepFaults(run, check);
    }
    RecordProperty("faults", static_cast<int>(faults));
    std::cout << "faults injected: " << faults << "\n";
}

}  // namespace

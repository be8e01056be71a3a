// The user's files through the real window: Japanese folder and file names for the
// input and every output, typed into Qt's own dialogs, reach the disk unchanged and
// never let an output land on the input.
#include "ModalDriver.h"
#include "window/Unit87.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

QString pathText(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

template <typename T>
T* child(TForm87& form, const char* name)
{
    auto* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ReliabilityWindow, JapaneseFolderAndFileNamesForInputAndOutputs)
{
    TempDir dir;
    // Full-width brackets and digits, a space, and both look-alike dashes (― and ー).
    const fs::path inFolder = dir.path("撮影データ（畑）");
    const fs::path outFolder = dir.path("処理結果 ２０２４");
    fs::create_directory(inFolder);
    fs::create_directory(outFolder);
    const fs::path input = inFolder / "カラ―画像ー１.bmp";
    const Picture picture = asymmetricPicture();
    const auto original = encodeBmp(picture);
    writeFile(input, original);

    TForm87 form;
    child<QLineEdit>(form, "Edit3")->setText(QStringLiteral("99999"));
    child<QLineEdit>(form, "Edit4")->setText(QStringLiteral("99999"));
    ModalDriver driver;
    // Output names typed without their extension: the dialogs add it.
    driver.fileAnswers = {pathText(input), pathText(outFolder / "切り出し"),   // crop
                          pathText(input),                                    // area maxima
                          pathText(input), pathText(outFolder / "ＮＤＶＩ画像"),  // NDVI raster
                          pathText(input), pathText(inFolder / "カラ―画像ー１")};  // crop onto its input
    driver.boxAnswers = {QMessageBox::Yes};  // replace it: still refused
    for (const char* button : {"Button1", "Button2", "Button3", "Button1"}) child<QPushButton>(form, button)->click();

    std::vector<QString> boxes;
    for (const auto& box : driver.boxes) boxes.push_back(box.text);
    EXPECT_EQ(boxes, (std::vector<QString>{QString::fromUtf8("完了"), QString::fromUtf8("完了"), QString::fromUtf8("完了"),
                                           QString::fromUtf8("カラ―画像ー１.bmp は既に存在します。\n置き換えますか?"),
                                           QString::fromUtf8("入力ファイルと同じファイルには保存できません")}));
    EXPECT_EQ(namesIn(outFolder), (std::vector<std::string>{"切り出し.bmp", "ＮＤＶＩ画像.raw"}));
    EXPECT_EQ(readFile(outFolder / "切り出し.bmp"), expectedCrop(picture));
    EXPECT_EQ(readFile(outFolder / "ＮＤＶＩ画像.raw"), expectedNdvi(picture));
    const std::vector<std::string> labels = {child<QLabel>(form, "Label8")->text().toStdString(),
                                             child<QLabel>(form, "Label9")->text().toStdString(),
                                             child<QLabel>(form, "Label10")->text().toStdString()};
    EXPECT_EQ(labels, expectedMaxima(picture));
    EXPECT_EQ(namesIn(inFolder), std::vector<std::string>{"カラ―画像ー１.bmp"});
    EXPECT_EQ(readFile(input), original);

    // Each dialog proposes the Japanese name last confirmed in it, unchanged.
    ASSERT_EQ(driver.dialogs.size(), 7u);
    EXPECT_EQ(driver.dialogs[2].proposed, QString::fromUtf8("カラ―画像ー１.bmp"));
    EXPECT_EQ(driver.dialogs[4].proposed, QString::fromUtf8("切り出し.bmp"));
}

}  // namespace

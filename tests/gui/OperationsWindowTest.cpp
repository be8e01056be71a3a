// The crop and the area maxima run through the real window: typed fields, real
// dialogs and boxes, the result labels and the picture written.
#include "ModalDriver.h"
#include "window/Unit87.h"

#include "BmpFixture.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace {

using namespace testing_support;

template <typename T = QWidget>
T* child(TForm87& form, const char* name)
{
    auto* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// The four corner fields, typed key by key after clearing them.
void typeCorners(TForm87& form, const std::array<const char*, 4>& corners)
{
    const char* names[] = {"Edit1", "Edit2", "Edit3", "Edit4"};
    for (int i = 0; i < 4; ++i) {
        auto* edit = child<QLineEdit>(form, names[i]);
        edit->clear();
        QTest::keyClicks(edit, QString::fromUtf8(corners[i]));
    }
}

using Labels = std::array<QString, 3>;  // red, green, blue

Labels resultLabels(TForm87& form)
{
    return {child<QLabel>(form, "Label8")->text(), child<QLabel>(form, "Label9")->text(),
            child<QLabel>(form, "Label10")->text()};
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The first pixel where the cropped image is not the input's left columns with black
// beyond the input's width, or nothing when every pixel matches.
std::optional<std::string> firstCropDifference(const QImage& image, const Picture& input)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            QRgb expected = qRgb(0, 0, 0);
            if (x < input.width) {
                const Pixel px = input.at(x, y);
                expected = qRgb(px.r, px.g, px.b);
            }
            const QRgb actual = image.pixel(x, y) | 0xff000000u;
            if (actual != expected) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel (%d, %d) is #%06x, expected #%06x", x, y,
                              actual & 0xffffffu, expected & 0xffffffu);
                return std::string(text);
            }
        }
    }
    return std::nullopt;
}

// In the 6 x 5 picture red falls and green and blue rise from the top-left pixel on,
// so red's maximum sits at a rectangle's upper-left corner and the others at its
// lower-right one: swapped fields, flipped rows or swapped channels all show.
TEST(OperationsWindow, AreaMaximaShowsTheRectanglesMaximaOnlyAfterDone)
{
    TempDir dir;
    writeFile(dir.path("frame.bmp"), encodeBmp(asymmetricPicture()));
    const struct {
        std::array<const char*, 4> corners;  // x1, y1, x2, y2 as typed
        Labels shown;                        // red, green, blue
    } runs[] = {
        {{"1", "2", "3", "3"}, {"161", "205", "150"}},     // interior: r(1,2), g and b (3,3)
        {{"2", "4", "4", "4"}, {"122", "240", "199"}},     // the bottom row only
        {{"-5", "-1", "-1", "-1"}, {"200", "245", "206"}},  // negative corners: the whole picture
        {{"150", "0", "300", "4"}, {"0", "0", "0"}},        // beyond the right edge: no pixel
        {{"0", "0", "0", "0"}, {"200", "100", "3"}},        // the top-left pixel only
    };

    TForm87 form;
    ModalDriver driver;
    Labels before{};  // the labels start empty
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.corners[0]) + "," + run.corners[1] + " " + run.corners[2] + "," + run.corners[3]);
        driver.boxes.clear();
        driver.dialogs.clear();
        driver.fileAnswers = {pathText(dir.path("frame.bmp"))};
        std::optional<Labels> whileDone;
        int barWhileDone = -1;
        driver.onBox = [&](const ShownBox&) {
            whileDone = resultLabels(form);
            barWhileDone = child<QProgressBar>(form, "ProgressBar1")->value();
        };
        typeCorners(form, run.corners);
        child<QPushButton>(form, "Button2")->click();

        ASSERT_EQ(driver.dialogs.size(), 1u);
        EXPECT_EQ(driver.dialogs[0].title, QString::fromUtf8("対象カラ―画像ファイル"));
        EXPECT_EQ(driver.dialogs[0].nameFilters, QStringList{QString::fromUtf8("BMPファイル (*.bmp)")});
        EXPECT_EQ(driver.dialogs[0].defaultSuffix, QStringLiteral("bmp"));
        EXPECT_FALSE(driver.dialogs[0].save);
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("完了"));
        EXPECT_EQ(driver.boxes[0].icon, QMessageBox::NoIcon);
        ASSERT_TRUE(whileDone);
        EXPECT_EQ(*whileDone, before);  // still the last run's values
        EXPECT_EQ(barWhileDone, child<QProgressBar>(form, "ProgressBar1")->maximum());  // full
        EXPECT_EQ(resultLabels(form), run.shown);
        for (const char* name : {"Label8", "Label9", "Label10"}) {
            auto* label = child<QLabel>(form, name);
            EXPECT_GE(label->width(), label->sizeHint().width()) << name << " cut off";
        }
        EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);
        before = run.shown;
    }
}

TEST(OperationsWindow, AreaMaximaThatStopsEarlyLeavesTheLabelsAsTheyWere)
{
    TempDir dir;
    writeFile(dir.path("frame.bmp"), encodeBmp(asymmetricPicture()));
    writeFile(dir.path("deep.bmp"), encodeBmp(asymmetricPicture(), 32));
    const struct {
        const char* name;
        std::optional<QString> input;
        std::array<const char*, 4> corners;
        const char* box;  // nullptr: none
        QMessageBox::Icon icon;
    } cases[] = {
        {"cancelled dialog", std::nullopt, {"0", "0", "5", "4"}, nullptr, QMessageBox::NoIcon},
        {"32-bit picture", pathText(dir.path("deep.bmp")), {"0", "0", "5", "4"},
         "24ビットカラー画像以外には対応していません（32ビット）", QMessageBox::NoIcon},
        // Edit3 is converted before Edit4, so its text is the one reported.
        {"field not an integer", pathText(dir.path("frame.bmp")), {"0", "0", "abc", "xyz"},
         "'abc' は整数ではありません.", QMessageBox::Critical},
    };

    TForm87 form;
    ModalDriver driver;
    driver.fileAnswers = {pathText(dir.path("frame.bmp"))};
    typeCorners(form, {"1", "2", "3", "3"});
    child<QPushButton>(form, "Button2")->click();
    const Labels earlier = resultLabels(form);
    ASSERT_EQ(earlier, (Labels{QStringLiteral("161"), QStringLiteral("205"), QStringLiteral("150")}));

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver.boxes.clear();
        driver.fileAnswers = {c.input};
        typeCorners(form, c.corners);
        child<QPushButton>(form, "Button2")->click();

        if (c.box) {
            ASSERT_EQ(driver.boxes.size(), 1u);
            EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8(c.box));
            EXPECT_EQ(driver.boxes[0].icon, c.icon);
            EXPECT_EQ(driver.boxes[0].title, form.applicationTitle());
        } else {
            EXPECT_TRUE(driver.boxes.empty());
        }
        EXPECT_EQ(resultLabels(form), earlier);
        EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);
        EXPECT_TRUE(child<QPushButton>(form, "Button2")->isEnabled());
    }
}

// One picture wider than 2048 and one narrower, each through both dialogs, the output
// named without its extension; the result is read back by Qt's own BMP reader.
TEST(OperationsWindow, CropWritesA2048WidePictureOfTheInputsLeftColumns)
{
    const struct {
        int width, height;
    } pictures[] = {{2051, 3}, {5, 4}};
    for (const auto& p : pictures) {
        SCOPED_TRACE(std::to_string(p.width) + " x " + std::to_string(p.height));
        TempDir dir;
        const Picture input = asymmetricPicture(p.width, p.height);
        writeFile(dir.path("wide.bmp"), encodeBmp(input));

        TForm87 form;
        ModalDriver driver;
        driver.fileAnswers = {pathText(dir.path("wide.bmp")), pathText(dir.path("cropped"))};
        int barWhileDone = -1;
        driver.onBox = [&](const ShownBox&) { barWhileDone = child<QProgressBar>(form, "ProgressBar1")->value(); };
        child<QPushButton>(form, "Button1")->click();

        ASSERT_EQ(driver.dialogs.size(), 2u);
        EXPECT_EQ(driver.dialogs[0].title, QString::fromUtf8("切り出し対象カラ―画像ファイル"));
        EXPECT_FALSE(driver.dialogs[0].save);
        EXPECT_EQ(driver.dialogs[1].title, QString::fromUtf8("保存先ファイル名を指定する"));
        EXPECT_TRUE(driver.dialogs[1].save);
        for (const ShownDialog& d : driver.dialogs) {
            EXPECT_EQ(d.nameFilters, QStringList{QString::fromUtf8("BMPファイル (*.bmp)")});
            EXPECT_EQ(d.defaultSuffix, QStringLiteral("bmp"));
        }
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("完了"));
        EXPECT_EQ(barWhileDone, p.height);  // one step per row
        EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);

        EXPECT_FALSE(std::filesystem::exists(dir.path("cropped")));
        const auto bytes = readFile(dir.path("cropped.bmp"));
        ASSERT_EQ(bytes.size(), 54u + 6144u * p.height);
        EXPECT_EQ(le32(bytes, 18), 2048u);
        EXPECT_EQ(le32(bytes, 22), static_cast<std::uint32_t>(p.height));
        EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);

        QImage image;
        ASSERT_TRUE(image.load(pathText(dir.path("cropped.bmp")), "BMP"));
        EXPECT_EQ(image.size(), QSize(2048, p.height));
        EXPECT_FALSE(image.hasAlphaChannel());
        EXPECT_EQ(firstCropDifference(image, input), std::nullopt);
    }
}

TEST(OperationsWindow, CropRefusesToSaveOverItsInputTypedWithoutExtension)
{
    TempDir dir;
    const auto original = encodeBmp(asymmetricPicture());
    writeFile(dir.path("frame.bmp"), original);
    TForm87 form;
    ModalDriver driver;
    // The save dialog adds ".bmp", which makes the name the input's; told to replace
    // that existing file, the crop still refuses.
    driver.fileAnswers = {pathText(dir.path("frame.bmp")), pathText(dir.path("frame"))};
    driver.boxAnswers = {QMessageBox::Yes};
    child<QPushButton>(form, "Button1")->click();

    ASSERT_EQ(driver.boxes.size(), 2u);
    EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("frame.bmp は既に存在します。\n置き換えますか?"));
    EXPECT_EQ(driver.boxes[1].text, QString::fromUtf8("入力ファイルと同じファイルには保存できません"));
    EXPECT_EQ(readFile(dir.path("frame.bmp")), original);
    EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);
}

// The two operations with an output share SaveDialog1: the NDVI's save dialog proposes
// the crop's output, and a bare name typed there lands in that output's folder.
TEST(OperationsWindow, NdviSaveDialogProposesTheCropsLastOutput)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path("in"));
    std::filesystem::create_directory(dir.path("out"));
    writeFile(dir.path("in") / "frame.bmp", encodeBmp(asymmetricPicture()));
    const QString input = pathText(dir.path("in") / "frame.bmp");

    TForm87 form;
    ModalDriver driver;
    driver.fileAnswers = {input, pathText(dir.path("out") / "cropped")};
    child<QPushButton>(form, "Button1")->click();
    ASSERT_TRUE(std::filesystem::exists(dir.path("out") / "cropped.bmp"));

    driver.fileAnswers = {input, QStringLiteral("ndvi")};
    child<QPushButton>(form, "Button3")->click();
    ASSERT_EQ(driver.dialogs.size(), 4u);
    EXPECT_EQ(driver.dialogs[3].title, QString::fromUtf8("保存先ファイル名（NDVI-RAW）を指定する"));
    EXPECT_EQ(driver.dialogs[3].proposed, QStringLiteral("cropped.bmp"));
    EXPECT_EQ(readFile(dir.path("out") / "ndvi.raw").size(), 6u * 5u * 4u);
}

// Each of these ends the program with status -1 right after its box. The child echoes
// its boxes to standard error, and for the crop whether the output exists while the
// box is up: the 8-bit refusal comes before the output is created.
TEST(OperationsWindowDeathTest, FatalBoxesEndTheProgramWithStatusMinusOne)
{
    using ::testing::AllOf;
    using ::testing::HasSubstr;
    using ::testing::Not;
    const struct {
        const char* name;
        const char* button;
        int bitCount;
        std::array<const char*, 4> corners;
        const char* message;
        const char* notShown;
    } cases[] = {
        // The gate comes before the fields are converted.
        {"maxima, 8-bit", "Button2", 8, {"0", "0", "abc", "0"}, "24ビットカラー画像を指定してください", "は整数ではありません"},
        // The checks take the corners as typed: clamping would widen each of these
        // rectangles to the picture's edge and let it pass.
        {"maxima, y upside down", "Button2", 24, {"0", "3", "0", "2"}, "y値が違います", "完了"},
        {"maxima, x right to left", "Button2", 24, {"3", "0", "2", "0"}, "x値が違います", "完了"},
        {"maxima, both, y first", "Button2", 24, {"3", "3", "2", "2"}, "y値が違います", "x値が違います"},
        {"crop, 8-bit", "Button1", 8, {"0", "0", "0", "0"}, "24ビットカラ―画像を指定してください", "output exists"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = [&] {
            TempDir dir;
            writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(), static_cast<std::uint16_t>(c.bitCount)));
            const auto output = dir.path("out.bmp");
            TForm87 form;
            typeCorners(form, c.corners);
            ModalDriver driver;
            driver.fileAnswers = {pathText(dir.path("in.bmp")), pathText(output)};
            driver.echoBoxes = true;
            driver.onBox = [&](const ShownBox&) {
                std::fprintf(stderr, "output %s\n", std::filesystem::exists(output) ? "exists" : "absent");
            };
            child<QPushButton>(form, c.button)->click();
            std::exit(0);  // not reached
        };
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(255),
                    AllOf(HasSubstr(c.message), Not(HasSubstr(c.notShown))));
    }
}

}  // namespace

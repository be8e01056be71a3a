// A raster opens with the model it was made with, read from its ENVI header or its
// TIFF description, and no calibration field can be changed while it shows.
#include "ViewerFixture.h"

#include "engine/calibration/Calibration.h"

#include <QAbstractSpinBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

QString modelLine(Viewer& v)
{
    return v.window.findChild<QLabel*>(QStringLiteral("model"))->text();
}

std::vector<QWidget*> calibrationControls(Viewer& v)
{
    std::vector<QWidget*> controls;
    for (const char* name : {"nirWhite", "redWhite", "nirDark", "redDark", "nirWhiteReflectance",
                             "redWhiteReflectance", "nirDarkReflectance", "redDarkReflectance"}) {
        controls.push_back(v.window.findChild<QAbstractSpinBox*>(QLatin1String(name)));
    }
    for (QPushButton* b : v.window.findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("暗色板を解除")) controls.push_back(b);
    }
    return controls;
}

TEST(RasterModelTest, RastersShowTheirModelAndLockTheCalibration)
{
    const engine::NdviModel made{{201, 0.92f, 12, 0.031f}, {187, 0.9f, 15, 0.045f}};
    testing_support::TempDir dir;
    const Picture picture = testing_support::asymmetricPicture(7, 5);
    testing_support::writeFile(dir.path("frame.bmp"), testing_support::encodeBmp(picture));
    {
        Viewer maker;
        ASSERT_TRUE(maker.open(dir.path("frame.bmp")));
        maker.window.setModel(made);
        ASSERT_TRUE(maker.window.exportRaster(QString::fromStdString(dir.path("made.raw").string())));
        ASSERT_TRUE(maker.window.exportTiff(QString::fromStdString(dir.path("made.tif").string())));
    }
    std::filesystem::copy_file(dir.path("made.raw"), dir.path("bare.raw"));
    const std::string bare = "ENVI\nsamples = 7\nlines = 5\nbands = 1\ndata type = 4\nbyte order = 0\n";
    testing_support::writeFile(dir.path("bare.hdr"), std::vector<std::uint8_t>(bare.begin(), bare.end()));
    std::filesystem::copy_file(dir.path("made.raw"), dir.path("wrapped.raw"));
    const std::string wrapped = "ENVI\ndescription = {\n  NIR: any words;\n  Red: more words}\nsamples = 7\n"
                                "lines = 5\nbands = 1\ndata type = 4\nbyte order = 0\n";
    testing_support::writeFile(dir.path("wrapped.hdr"), std::vector<std::uint8_t>(wrapped.begin(), wrapped.end()));

    const QString described = QStringLiteral("ラスターの較正: ") +
                              QString::fromStdString(engine::describeModel(made)).replace(QStringLiteral("; "), QStringLiteral("\n"));
    const std::pair<const char*, QString> cases[] = {
        {"made.raw", described},
        {"made.tif", described},
        {"bare.raw", QStringLiteral("ラスターの較正: 不明（ヘッダーに記述がありません）")},
        {"wrapped.raw", QStringLiteral("ラスターの較正: NIR: any words\nRed: more words")},
    };
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("frame.bmp")));
    const QString inUse = modelLine(v);
    ASSERT_TRUE(inUse.startsWith(QStringLiteral("使用中: NIR: 白色板 255")));
    for (const auto& [name, line] : cases) {
        ASSERT_TRUE(v.open(dir.path(name))) << name;
        EXPECT_EQ(modelLine(v), line) << name;
        for (QWidget* w : calibrationControls(v)) EXPECT_FALSE(w->isEnabled()) << name << " " << w->objectName().toStdString();
        // The values are the picture's under the model it was made with.
        const Pixel px = picture.at(4, 3);
        EXPECT_EQ(v.hover(4, 3), QStringLiteral("x=4 y=3  NDVI=%1")
                                     .arg(fourDecimals(oracleNdvi(px.r, px.g, testing_support::targetsOf(made)))))
            << name;
    }
    // A picture again: the model in use, the fields free.
    ASSERT_TRUE(v.open(dir.path("frame.bmp")));
    EXPECT_EQ(modelLine(v), inUse);
    EXPECT_TRUE(calibrationControls(v)[0]->isEnabled());
}

TEST(RasterModelTest, TiffsOtherThanOneFloatBandAreRefusedNamingTheFile)
{
    testing_support::TempDir dir;
    const auto notTiff = dir.path("words.tif");
    const std::string text = "not a TIFF";
    testing_support::writeFile(notTiff, std::vector<std::uint8_t>(text.begin(), text.end()));
    Viewer v;
    EXPECT_FALSE(v.open(notTiff));
    EXPECT_EQ(v.messages, std::vector<QString>{QStringLiteral("対応していないTIFFファイルです（1バンドの float32 のみ）\n") +
                                               QString::fromStdString(notTiff.string())});
}

}  // namespace

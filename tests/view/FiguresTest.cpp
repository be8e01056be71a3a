// The rectangle's figures in the side panel, each worked out here from the picture's
// pixels: channel maxima, means, deviations, NDVI figures and the histogram.
#include "ViewerFixture.h"

#include "engine/ops/Kernels.h"
#include "view/HistogramWidget.h"

#include <QClipboard>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using namespace view_testing;

// Figures over the pixels of a fitted rectangle, by plain loops.
struct Expected {
    std::uint64_t pixels = 0, markers = 0;
    int maxima[3] = {0, 0, 0};      // red, green, blue
    std::vector<double> values[3];  // red, green, blue bytes
    std::vector<double> ndvi;
};

Expected expectedOver(const Picture& p, engine::Rectangle r, int nirWhite, int redWhite)
{
    Expected e;
    for (auto y = r.y1; y <= r.y2; ++y) {
        for (auto x = r.x1; x <= r.x2; ++x) {
            const Pixel px = p.at(static_cast<int>(x), static_cast<int>(y));
            ++e.pixels;
            e.values[0].push_back(px.r);
            e.values[1].push_back(px.g);
            e.values[2].push_back(px.b);
            const int bytes[] = {px.r, px.g, px.b};
            for (int c = 0; c < 3; ++c) e.maxima[c] = std::max(e.maxima[c], bytes[c]);
            const float v = oracleNdvi(px.r, px.g, nirWhite, redWhite);
            if (v == -10.0f) ++e.markers;
            else e.ndvi.push_back(v);
        }
    }
    return e;
}

double mean(const std::vector<double>& v)
{
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
}

double deviation(const std::vector<double>& v)
{
    const double m = mean(v);
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size()));
}

struct FiguresCase {
    const char* name;
    engine::Rectangle typed;
    engine::Rectangle fitted;  // to the 9 x 7 picture: nothing where x1 > x2
    const char* shown;
};

class FiguresTest : public ::testing::TestWithParam<FiguresCase> {};

TEST_P(FiguresTest, PanelShowsAreaMaximaAndStatisticsOfTheRectangle)
{
    Picture p = testing_support::asymmetricPicture(9, 7);
    p.pixels[3 * 9 + 4] = {1, 0, 0};  // a marker pixel
    testing_support::TempDir dir;
    const auto file = dir.path("frame.bmp");
    testing_support::writeFile(file, testing_support::encodeBmp(p));

    Viewer v;
    v.window.setWhiteValues({230, 190});
    ASSERT_TRUE(v.open(file));
    v.window.selectArea(GetParam().typed);

    const Expected e = expectedOver(p, GetParam().fitted, 230, 190);

    EXPECT_EQ(v.line(QStringLiteral("範囲: ")), QStringLiteral("範囲: ") + QLatin1String(GetParam().shown));
    EXPECT_EQ(v.line(QStringLiteral("画素数: ")), QStringLiteral("画素数: %1").arg(e.pixels));
    const int* maxes = e.maxima;
    const char* names[] = {"Red", "Green", "Blue"};
    for (int c = 0; c < 3; ++c) {
        const QString prefix = QStringLiteral("%1-Max : ").arg(QLatin1String(names[c]));
        EXPECT_EQ(v.line(prefix), QStringLiteral("%1%2  平均 : %3  標準偏差 : %4")
                                      .arg(prefix)
                                      .arg(maxes[c])
                                      .arg(e.pixels ? QString::number(mean(e.values[c]), 'f', 2) : QStringLiteral("-"))
                                      .arg(e.pixels ? QString::number(deviation(e.values[c]), 'f', 2) : QStringLiteral("-")));
    }
    if (e.ndvi.empty()) {
        EXPECT_EQ(v.line(QStringLiteral("NDVI-Mean : ")), QStringLiteral("NDVI-Mean : -  標準偏差 : -"));
    } else {
        EXPECT_EQ(v.line(QStringLiteral("NDVI-Mean : ")), QStringLiteral("NDVI-Mean : %1  標準偏差 : %2")
                                                              .arg(fourDecimals(mean(e.ndvi)), fourDecimals(deviation(e.ndvi))));
        EXPECT_EQ(v.line(QStringLiteral("NDVI-Min : ")),
                  QStringLiteral("NDVI-Min : %1  NDVI-Max : %2")
                      .arg(fourDecimals(*std::min_element(e.ndvi.begin(), e.ndvi.end())),
                           fourDecimals(*std::max_element(e.ndvi.begin(), e.ndvi.end()))));
    }
    EXPECT_EQ(v.line(QStringLiteral("NDVI=-10 ")), QStringLiteral("NDVI=-10 の画素数: %1").arg(e.markers));

    // The same corners copied for the batch tool, and the whole line of figures.
    EXPECT_TRUE(v.window.figuresLine().startsWith(QLatin1String(GetParam().shown).toString().replace(QLatin1Char(','), QLatin1Char('\t')) +
                                                  QStringLiteral("\t%1\t%2\t%3\t%4").arg(e.pixels).arg(maxes[0]).arg(maxes[1]).arg(maxes[2])));
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, FiguresTest,
    ::testing::Values(FiguresCase{"inside", {1, 1, 5, 4}, {1, 1, 5, 4}, "1,1,5,4"},
                      FiguresCase{"overhanging", {-3, 2, 100, 3}, {0, 2, 8, 3}, "0,2,8,3"},
                      FiguresCase{"wholePicture", {0, 0, 8, 6}, {0, 0, 8, 6}, "0,0,8,6"},
                      FiguresCase{"onlyTheMarker", {4, 3, 4, 3}, {4, 3, 4, 3}, "4,3,4,3"},
                      FiguresCase{"rightOfThePicture", {12, 1, 14, 2}, {12, 1, 8, 2}, "12,1,8,2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RectangleDrag, DraggingSelectsWholePixelsFromCornerToCorner)
{
    const Picture p = testing_support::asymmetricPicture(9, 7);
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("f.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("f.bmp")));
    view::Canvas* canvas = v.window.canvas();
    // From the lower right corner to the upper left one; the pixels' edges, not centres.
    const QPointF from = canvas->centreOfPixel(6, 4) + QPointF(canvas->zoom() * 0.4, canvas->zoom() * 0.4);
    const QPointF to = canvas->centreOfPixel(2, 1) - QPointF(canvas->zoom() * 0.4, canvas->zoom() * 0.4);
    QTest::mousePress(canvas->viewport(), Qt::LeftButton, {}, from.toPoint());
    QTest::mouseMove(canvas->viewport(), ((from + to) / 2).toPoint());
    QTest::mouseMove(canvas->viewport(), to.toPoint());
    QTest::mouseRelease(canvas->viewport(), Qt::LeftButton, {}, to.toPoint());
    EXPECT_EQ(v.line(QStringLiteral("範囲: ")), QStringLiteral("範囲: 2,1,6,4"));
    EXPECT_EQ(v.line(QStringLiteral("画素数: ")), QStringLiteral("画素数: 20"));

    // Ctrl+Shift+C copies the corners for zrvimage-batch --rect; Ctrl+C the figures.
    QTest::keyClick(&v.window, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("2,1,6,4"));
    QTest::keyClick(&v.window, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), v.window.figuresLine());
    EXPECT_TRUE(v.window.figuresLine().startsWith(QStringLiteral("2\t1\t6\t4\t20\t")));
}

// The histogram's 20 bins over -1..+1 (+1 in the last), counted here pixel by pixel:
// of the whole picture without a rectangle, of the rectangle with one.
TEST(Histogram, CountsTheNdviOfThePictureOrTheRectangle)
{
    Picture p = testing_support::asymmetricPicture(23, 17);
    p.pixels[40] = {7, 0, 0};
    p.pixels[41] = {0, 0, 200};  // NDVI +1
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("h.bmp"), testing_support::encodeBmp(p));
    const auto expected = [&](engine::Rectangle r) {
        std::array<std::uint64_t, 20> bins{};
        for (auto y = r.y1; y <= r.y2; ++y) {
            for (auto x = r.x1; x <= r.x2; ++x) {
                const Pixel px = p.at(static_cast<int>(x), static_cast<int>(y));
                const float v = oracleNdvi(px.r, px.g, 211, 173);
                if (v != -10.0f) ++bins[static_cast<std::size_t>(std::clamp(static_cast<int>(std::floor((v + 1.0) * 10.0)), 0, 19))];
            }
        }
        return bins;
    };
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("h.bmp")));
    v.window.setWhiteValues({211, 173});
    EXPECT_EQ(v.window.histogram()->counts(), expected({0, 0, 22, 16}));
    v.window.selectArea(engine::Rectangle{3, 1, 19, 9});
    EXPECT_EQ(v.window.histogram()->counts(), expected({3, 1, 19, 9}));
    v.window.selectArea(std::nullopt);
    EXPECT_EQ(v.window.histogram()->counts(), expected({0, 0, 22, 16}));
}

// The white values the panel rectangle gives, by sorting its bytes here.
struct WhiteCase {
    const char* name;
    view::WhiteChoice choice;
};

class WhitePanelTest : public ::testing::TestWithParam<WhiteCase> {};

TEST_P(WhitePanelTest, SetWhiteFillsTheSpinBoxesFromTheRectangle)
{
    // A 20 x 10 panel with values around 240 and two glints at 255 in NIR, in a darker field.
    Picture p{30, 16, {}};
    std::vector<int> nir, red;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 30; ++x) {
            const bool panel = x >= 5 && x < 25 && y >= 3 && y < 13;
            Pixel px{60, 70, 150};
            if (panel) {
                px = {240, static_cast<std::uint8_t>(228 + (x * 3 + y) % 9), static_cast<std::uint8_t>(236 + (x + 2 * y) % 8)};
                if ((x == 7 && y == 4) || (x == 20 && y == 11)) px.r = 255;
                nir.push_back(px.r);
                red.push_back(px.g);
            }
            p.pixels.push_back(px);
        }
    }
    const auto expected = [&](std::vector<int> values) {
        std::sort(values.begin(), values.end());
        switch (GetParam().choice) {
        case view::WhiteChoice::Maximum: return values.back();
        case view::WhiteChoice::Mean: {
            double s = 0;
            for (int x : values) s += x;
            return static_cast<int>(std::lround(s / static_cast<double>(values.size())));
        }
        case view::WhiteChoice::Percentile99: {
            const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(values.size())));
            return values[rank - 1];
        }
        }
        return -1;
    };
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("panel.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("panel.bmp")));
    v.window.selectArea(engine::Rectangle{5, 3, 24, 12});
    v.window.setWhiteChoice(GetParam().choice);

    QPushButton* button = nullptr;
    for (QPushButton* b : v.window.findChildren<QPushButton*>()) {
        if (b->text() == QStringLiteral("白色板に設定")) button = b;
    }
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);

    const int nirWhite = expected(nir);
    const int redWhite = expected(red);
    EXPECT_EQ(v.window.findChild<QSpinBox*>(QStringLiteral("nirWhite"))->value(), nirWhite);
    EXPECT_EQ(v.window.findChild<QSpinBox*>(QStringLiteral("redWhite"))->value(), redWhite);
    // And the NDVI figures follow the new white values: a panel pixel now reads near 0.
    const Pixel px = p.at(10, 5);
    EXPECT_EQ(v.hover(10, 5).section(QStringLiteral("NDVI="), 1), fourDecimals(oracleNdvi(px.r, px.g, nirWhite, redWhite)));
}

INSTANTIATE_TEST_SUITE_P(Choices, WhitePanelTest,
                         ::testing::Values(WhiteCase{"maximum", view::WhiteChoice::Maximum},
                                           WhiteCase{"mean", view::WhiteChoice::Mean},
                                           WhiteCase{"percentile99", view::WhiteChoice::Percentile99}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// A rectangle of millions of pixels is worked out in the background; its figures are
// the same in the end, for the white values set last.
TEST(LargeRectangle, FiguresArriveForTheLatestWhiteValues)
{
    const Picture p = testing_support::asymmetricPicture(2200, 2000);
    testing_support::TempDir dir;
    testing_support::writeFile(dir.path("large.bmp"), testing_support::encodeBmp(p));
    Viewer v;
    ASSERT_TRUE(v.open(dir.path("large.bmp")));
    v.window.selectArea(engine::Rectangle{0, 0, 2199, 1999});
    v.window.setWhiteValues({250, 240});
    v.window.setWhiteValues({231, 219});
    const auto ready = [&] { return !v.line(QStringLiteral("NDVI-Mean : ")).isEmpty(); };
    ASSERT_TRUE(QTest::qWaitFor(ready, 120000));

    std::vector<double> ndvi;
    ndvi.reserve(p.pixels.size());
    int redMax = 0;
    for (const Pixel& px : p.pixels) {
        const float value = oracleNdvi(px.r, px.g, 231, 219);
        if (value != -10.0f) ndvi.push_back(value);
        redMax = std::max<int>(redMax, px.r);
    }
    EXPECT_EQ(v.line(QStringLiteral("NDVI-Mean : ")),
              QStringLiteral("NDVI-Mean : %1  標準偏差 : %2").arg(fourDecimals(mean(ndvi)), fourDecimals(deviation(ndvi))));
    EXPECT_TRUE(v.line(QStringLiteral("Red-Max : ")).startsWith(QStringLiteral("Red-Max : %1  ").arg(redMax)));
}

}  // namespace

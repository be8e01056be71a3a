#include "ModalDriver.h"
#include "window/Unit87.h"

#include "BmpFixture.h"
#include "NdviOracle.h"

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace {

using namespace testing_support;

template <typename T = QWidget>
T* child(TForm87& form, const char* name)
{
    auto* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

TEST(Window, HasEveryControlWhereItBelongsWithItsStartText)
{
    TForm87 form;
    const struct {
        const char* name;
        const char* className;
        const char* parent;
        int left, top, width, height;  // width -1: sized to its text
        const char* text;
    } table[] = {
        {"Label13", "QLabel", "Form87", 24, 376, -1, -1, "Progress :"},
        {"ProgressBar1", "QProgressBar", "Form87", 80, 376, 257, 17, ""},
        {"GroupBox1", "QGroupBox", "Form87", 24, 16, 313, 57, "切り出し（2048×1536)"},
        {"Button1", "QPushButton", "GroupBox1", 24, 24, 75, 25, "実行"},
        {"GroupBox2", "QGroupBox", "Form87", 24, 79, 313, 154, "エリア最大値算出"},
        {"Label1", "QLabel", "GroupBox2", 24, 38, -1, -1, "左上座標（x,y) :"},
        {"Label2", "QLabel", "GroupBox2", 24, 64, -1, -1, "右下座標（x,y）:"},
        {"Label3", "QLabel", "GroupBox2", 162, 16, -1, -1, "x"},
        {"Label4", "QLabel", "GroupBox2", 218, 16, -1, -1, "y"},
        {"Label5", "QLabel", "GroupBox2", 152, 96, -1, -1, "Red  -Max :"},
        {"Label6", "QLabel", "GroupBox2", 152, 115, -1, -1, "Green-Max :"},
        {"Label7", "QLabel", "GroupBox2", 152, 134, -1, -1, "Blue -Max :"},
        {"Label8", "QLabel", "GroupBox2", 218, 96, -1, -1, ""},
        {"Label9", "QLabel", "GroupBox2", 218, 115, -1, -1, ""},
        {"Label10", "QLabel", "GroupBox2", 218, 134, -1, -1, ""},
        {"Button2", "QPushButton", "GroupBox2", 24, 96, 75, 25, "実行"},
        {"Edit1", "QLineEdit", "GroupBox2", 152, 35, 41, 21, "0"},
        {"Edit2", "QLineEdit", "GroupBox2", 208, 35, 41, 21, "0"},
        {"Edit3", "QLineEdit", "GroupBox2", 152, 62, 41, 21, "0"},
        {"Edit4", "QLineEdit", "GroupBox2", 208, 62, 41, 21, "0"},
        {"GroupBox3", "QGroupBox", "Form87", 24, 239, 313, 122, "NDVI画像（Float-RAW）作成"},
        {"Label11", "QLabel", "GroupBox3", 24, 28, -1, -1, "白色板 NIR (Max:255) :"},
        {"Label12", "QLabel", "GroupBox3", 24, 56, -1, -1, "白色板 Red (Max:255) :"},
        {"Edit5", "QLineEdit", "GroupBox3", 152, 24, 41, 21, "255"},
        {"Edit6", "QLineEdit", "GroupBox3", 152, 51, 41, 21, "255"},
        {"Button3", "QPushButton", "GroupBox3", 24, 86, 75, 25, "実行"},
        {"Button4", "QPushButton", "Form87", 262, 400, 75, 25, "ヘルプ"},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.name);
        QWidget* w = child(form, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), c.className);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(w->pos(), QPoint(c.left, c.top));
        if (c.width >= 0) {
            EXPECT_EQ(w->size(), QSize(c.width, c.height));
        }
        EXPECT_EQ(textOf(w), QString::fromUtf8(c.text));
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) {
            EXPECT_GE(label->width(), label->sizeHint().width());  // nothing cut off
        }
    }
    EXPECT_NE(form.findChild<QFileDialog*>(QStringLiteral("OpenDialog1")), nullptr);
    EXPECT_NE(form.findChild<QFileDialog*>(QStringLiteral("SaveDialog1")), nullptr);
    EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);
}

TEST(Window, TitleSizeFontIconAndKeyboardOrder)
{
    TForm87 form;
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("MIRVALEN－ZRV画像処理ソフト"));
    EXPECT_EQ(form.size(), QSize(364, 433));
    EXPECT_EQ(form.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_FALSE(form.windowIcon().isNull());
    const QImage icon(QStringLiteral(":/zrvimage.xpm"));
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_LE(icon.colorCount(), 16);
    // The title comes from this test program's own file name.
    EXPECT_EQ(form.applicationTitle(), QStringLiteral("gui_tests"));

    const char* order[] = {"Button1", "Button2", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Button3", "Button4"};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget* next = child(form, order[i])->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName(), QString::fromLatin1(order[i + 1]))
            << "after " << order[i];
    }
}

TEST(Window, HelpShowsItsTwoParagraphsInAPlainBox)
{
    TForm87 form;
    ModalDriver driver;
    child<QPushButton>(form, "Button4")->click();
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text,
              QString::fromUtf8("NDVI画像作成では，NIRとRが共にゼロの場合，-10としています．\n\n"
                                "RAWファイルの画像処理は，リモートセンシング画像処理ソフトVKS等を使用して下さい．"));
    EXPECT_EQ(driver.boxes[0].title, form.applicationTitle());
    EXPECT_EQ(driver.boxes[0].icon, QMessageBox::NoIcon);
}

TEST(Window, NdviRunThroughTheRealDialogsAndBoxes)
{
    TempDir dir;
    const Picture picture = asymmetricPicture();
    writeFile(dir.path("frame.bmp"), encodeBmp(picture));
    const QString input = QString::fromStdString(dir.path("frame.bmp").string());
    const QString output = QString::fromStdString(dir.path("ndvi").string());  // no extension typed

    TForm87 form;
    child<QLineEdit>(form, "Edit5")->setText(QStringLiteral("200"));
    child<QLineEdit>(form, "Edit6")->setText(QStringLiteral("180"));
    ModalDriver driver;
    driver.fileAnswers = {input, output};
    std::vector<int> positions;
    driver.onPoll = [&] { positions.push_back(child<QProgressBar>(form, "ProgressBar1")->value()); };
    child<QPushButton>(form, "Button3")->click();

    ASSERT_EQ(driver.dialogs.size(), 2u);
    EXPECT_EQ(driver.dialogs[0].title, QString::fromUtf8("対象物フォルスカラ―画像ファイル"));
    EXPECT_EQ(driver.dialogs[0].nameFilters, QStringList{QString::fromUtf8("BMPファイル (*.bmp)")});
    EXPECT_EQ(driver.dialogs[0].defaultSuffix, QStringLiteral("bmp"));
    EXPECT_FALSE(driver.dialogs[0].save);
    EXPECT_EQ(driver.dialogs[1].title, QString::fromUtf8("保存先ファイル名（NDVI-RAW）を指定する"));
    EXPECT_EQ(driver.dialogs[1].nameFilters, QStringList{QString::fromUtf8("RAWファイル (*.raw)")});
    EXPECT_EQ(driver.dialogs[1].defaultSuffix, QStringLiteral("raw"));
    EXPECT_TRUE(driver.dialogs[1].save);

    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("完了"));
    // While "完了" is up the bar shows full; after it, empty again.
    EXPECT_EQ(positions.back(), 5);
    EXPECT_EQ(child<QProgressBar>(form, "ProgressBar1")->value(), 0);

    // The default extension was added to the typed name.
    const auto raw = readFile(dir.path("ndvi.raw"));
    ASSERT_EQ(raw.size(), 6u * 5u * 4u);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            float v;
            std::memcpy(&v, raw.data() + 4 * (y * 6 + x), 4);
            const Pixel px = picture.at(x, y);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(v),
                      std::bit_cast<std::uint32_t>(testing_support::oracleNdvi(px.r, px.g, 200, 180)));
        }
    }

    // Each dialog proposes the name last confirmed in it.
    driver.fileAnswers = {std::nullopt};
    child<QPushButton>(form, "Button3")->click();
    ASSERT_EQ(driver.dialogs.size(), 3u);
    EXPECT_EQ(driver.dialogs[2].proposed, QStringLiteral("frame.bmp"));
}

TEST(Window, ConversionErrorShowsTheErrorBoxAndTheWindowGoesOn)
{
    TempDir dir;
    writeFile(dir.path("frame.bmp"), encodeBmp(asymmetricPicture()));
    TForm87 form;
    child<QLineEdit>(form, "Edit5")->setText(QStringLiteral("abc"));
    ModalDriver driver;
    driver.fileAnswers = {QString::fromStdString(dir.path("frame.bmp").string()),
                          QString::fromStdString(dir.path("out.raw").string())};
    child<QPushButton>(form, "Button3")->click();

    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("'abc' は整数ではありません."));
    EXPECT_EQ(driver.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(driver.boxes[0].title, form.applicationTitle());
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.raw")));
    EXPECT_TRUE(child<QPushButton>(form, "Button3")->isEnabled());
}

// A clock that moves on by a fixed step each time it is read, so the pump's decisions
// are the same on a slow and a fast machine.
TForm87::Clock steppingClock(qint64 stepNs)
{
    return [stepNs, now = qint64{0}]() mutable { return now += stepNs; };
}

TEST(Window, EventsAreHandledOnceTenMillisecondsHavePassed)
{
    TempDir dir;
    writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(2048, 48)));
    TForm87 form;
    form.setClock(steppingClock(4'000'000));
    int passes = 0;
    form.setEventPassHook([&] { ++passes; });
    // The area maxima of the whole picture: no output, so no wait for a disk, whose
    // length no test can know, adds a look at the clock.
    child<QLineEdit>(form, "Edit3")->setText(QStringLiteral("2047"));
    child<QLineEdit>(form, "Edit4")->setText(QStringLiteral("47"));
    ModalDriver driver;
    driver.fileAnswers = {QString::fromStdString(dir.path("in.bmp").string())};

    child<QPushButton>(form, "Button2")->click();

    // The pump is handed over after pixels 1, 16385, ... 81921 of 98,304: six times, each
    // a clock reading 4 ms on, so every third one is 12 ms after the last pass.
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(form.eventPasses(), 2);
    EXPECT_EQ(form.longestEventGapNs(), 12'000'000);
    EXPECT_EQ(form.eventPassesNs(), 2 * 4'000'000);  // each pass, one clock step
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, QString::fromUtf8("完了"));
}

TEST(Window, RunButtonsAreOffDuringARunWhileHelpAnswers)
{
    TempDir dir;
    writeFile(dir.path("big.bmp"), encodeBmp(asymmetricPicture(2048, 100)));
    TForm87 form;
    form.show();
    form.setClock(steppingClock(10'000'000));  // every hand-over handles the events
    ModalDriver driver;
    driver.fileAnswers = {QString::fromStdString(dir.path("big.bmp").string()),
                          QString::fromStdString(dir.path("big.raw").string())};
    bool sawRun = false;
    form.setEventPassHook([&] {
        const int position = form.progressBar().position();
        if (!form.isRunning() || sawRun || position == 0 || position == form.progressBar().max()) return;
        sawRun = true;
        EXPECT_FALSE(child<QPushButton>(form, "Button1")->isEnabled());
        EXPECT_FALSE(child<QPushButton>(form, "Button2")->isEnabled());
        EXPECT_FALSE(child<QPushButton>(form, "Button3")->isEnabled());
        EXPECT_TRUE(child<QPushButton>(form, "Button4")->isEnabled());
        EXPECT_TRUE(child<QLineEdit>(form, "Edit1")->isEnabled());
        child<QPushButton>(form, "Button4")->click();  // help in the middle of a run
    });
    child<QPushButton>(form, "Button3")->click();
    EXPECT_TRUE(sawRun);
    ASSERT_EQ(driver.boxes.size(), 2u);
    EXPECT_TRUE(driver.boxes[0].text.startsWith(QString::fromUtf8("NDVI画像作成では")));
    EXPECT_EQ(driver.boxes[1].text, QString::fromUtf8("完了"));
    EXPECT_EQ(readFile(dir.path("big.raw")).size(), 2048u * 100u * 4u);
    EXPECT_TRUE(child<QPushButton>(form, "Button1")->isEnabled());
}

TEST(Window, ClosingDuringARunLetsItFinishWithoutItsLastBox)
{
    TempDir dir;
    writeFile(dir.path("big.bmp"), encodeBmp(asymmetricPicture(2048, 100)));
    TForm87 form;
    form.show();
    form.setClock(steppingClock(10'000'000));
    ModalDriver driver;
    driver.fileAnswers = {QString::fromStdString(dir.path("big.bmp").string()),
                          QString::fromStdString(dir.path("big.raw").string())};
    bool closed = false;
    form.setEventPassHook([&] {
        const int position = form.progressBar().position();
        if (!closed && form.isRunning() && position > 0 && position < form.progressBar().max()) {
            closed = true;
            form.close();
            EXPECT_TRUE(form.isVisible());  // still shown while the run goes on
        }
    });
    child<QPushButton>(form, "Button3")->click();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(driver.boxes.empty());  // "完了" returned at once, unseen
    EXPECT_EQ(readFile(dir.path("big.raw")).size(), 2048u * 100u * 4u);
    EXPECT_FALSE(form.isVisible());
}

TEST(WindowDeathTest, EightBitPictureEndsTheProgramWithStatusMinusOne)
{
    TempDir dir;
    writeFile(dir.path("gray.bmp"), encodeBmp(asymmetricPicture(), 8));
    const QString input = QString::fromStdString(dir.path("gray.bmp").string());
    const QString output = QString::fromStdString(dir.path("gray.raw").string());
    const auto run = [&] {
            TForm87 form;
            ModalDriver driver;
            driver.fileAnswers = {input, output};
            driver.echoBoxes = true;
            child<QPushButton>(form, "Button3")->click();
            std::exit(0);  // not reached
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(255), "24ビットフォルスカラ―画像を指定してください");
    EXPECT_FALSE(std::filesystem::exists(dir.path("gray.raw")));
}

}  // namespace

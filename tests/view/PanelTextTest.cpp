// What the user reads beside the picture: confirmations the pointer's readout does not
// hide, the rectangle typed in the panel, and the labels a screen reader reads.
#include "ViewerFixture.h"

#include "view/panel/CalibrationSection.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

using namespace view_testing;

struct OpenFrame {
    testing_support::TempDir dir;
    Picture picture = testing_support::asymmetricPicture(9, 7);
    Viewer v;

    OpenFrame()
    {
        testing_support::writeFile(dir.path("frame.bmp"), testing_support::encodeBmp(picture));
        EXPECT_TRUE(v.open(dir.path("frame.bmp")));
    }

    QString chosen(const char* name) const { return QString::fromStdString(dir.path(name).string()); }
    QLineEdit* rectangleField() { return v.window.findChild<QLineEdit*>(QStringLiteral("rectangle")); }

    void type(const QString& text)
    {
        QLineEdit* field = rectangleField();
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
};

TEST(NoticeTest, ExportsAndCopiesStayConfirmedWhileThePointerMoves)
{
    OpenFrame f;
    f.v.window.selectArea(engine::Rectangle{1, 1, 4, 3});
    const std::pair<const char*, const char*> exports[] = {
        {"NDVIラスター", "out.raw"}, {"NDVI（TIFF", "out.tif"}, {"表示中の画像", "out.png"}, {"範囲の数値（CSV）", "out.csv"}};
    for (const auto& [menu, name] : exports) {
        f.v.savePaths = {f.chosen(name)};
        f.v.action(QString::fromUtf8(menu))->trigger();
        ASSERT_TRUE(f.v.messages.empty()) << menu;
        EXPECT_FALSE(f.v.hover(2, 2).isEmpty());
        EXPECT_EQ(f.v.window.noticeText(), QStringLiteral("書き出しました: ") + f.chosen(name)) << menu;
    }
    const std::pair<const char*, const char*> copies[] = {
        {"範囲の数値をコピー", "範囲の数値をコピーしました"},
        {"範囲 X1,Y1,X2,Y2 をコピー", "範囲をコピーしました（zrvimage-batch --rect に使えます）"}};
    for (const auto& [menu, notice] : copies) {
        f.v.action(QString::fromUtf8(menu))->trigger();
        f.v.hover(3, 1);
        EXPECT_EQ(f.v.window.noticeText(), QString::fromUtf8(notice)) << menu;
    }
    // A failed export leaves no earlier confirmation standing.
    f.v.savePaths = {f.chosen("frame.bmp")};
    f.v.action(QStringLiteral("表示中の画像"))->trigger();
    EXPECT_EQ(f.v.messages.size(), 1u);
    EXPECT_EQ(f.v.window.noticeText(), QString());
}

TEST(TypedRectangleTest, EnterAppliesCornersFittedToThePictureAndRefusesBadText)
{
    OpenFrame f;
    struct Case {
        const char* typed;
        const char* shown;  // the rectangle after Enter
        const char* message;  // the start of the refusal, or none
    };
    const Case cases[] = {
        {"1,2,4,5", "1,2,4,5", nullptr},
        {" 2, 1 ,6,4 ", "2,1,6,4", nullptr},
        {"-3,-1,20,4", "0,0,8,4", nullptr},  // fitted like a dragged rectangle
        {"1,2,4", "0,0,8,4", "範囲には X1,Y1,X2,Y2 を整数4つで指定してください: '1,2,4'"},
        {"a,b,c,d", "0,0,8,4", "範囲には X1,Y1,X2,Y2"},
        {"1,2,4,5,6", "0,0,8,4", "範囲には X1,Y1,X2,Y2"},
        {"5,1,2,4", "0,0,8,4", "範囲は X1≦X2、Y1≦Y2 で指定してください: '5,1,2,4'"},
        {"3,3,3,3", "3,3,3,3", nullptr},
        {"", "なし", nullptr},  // an empty field: no rectangle
    };
    for (const Case& c : cases) {
        f.v.messages.clear();
        f.type(QString::fromUtf8(c.typed));
        EXPECT_EQ(f.v.line(QStringLiteral("範囲: ")), QStringLiteral("範囲: ") + QString::fromUtf8(c.shown)) << c.typed;
        EXPECT_EQ(f.rectangleField()->text(), QString::fromUtf8(c.shown) == QStringLiteral("なし") ? QString() : QString::fromUtf8(c.shown))
            << c.typed;
        if (c.message) {
            ASSERT_EQ(f.v.messages.size(), 1u) << c.typed;
            EXPECT_TRUE(f.v.messages[0].startsWith(QString::fromUtf8(c.message))) << f.v.messages[0].toStdString();
        } else {
            EXPECT_TRUE(f.v.messages.empty()) << c.typed;
        }
    }
    // The figures follow the typed rectangle as they follow a dragged one.
    f.type(QStringLiteral("1,2,4,5"));
    EXPECT_EQ(f.v.line(QStringLiteral("画素数: ")), QStringLiteral("画素数: 16"));
    ASSERT_TRUE(f.v.window.canvas()->selection());
    EXPECT_EQ(view::rectangleText(*f.v.window.canvas()->selection()), QStringLiteral("1,2,4,5"));
    // A dragged or menu-given rectangle replaces the field's text.
    f.v.window.selectArea(engine::Rectangle{0, 0, 2, 2});
    EXPECT_EQ(f.rectangleField()->text(), QStringLiteral("0,0,2,2"));
}

QString accessible(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    return a ? a->text(which) : QStringLiteral("<none>");
}

TEST(AccessibilityTest, ReadoutFiguresAndModelAreReadAsTheyShowNow)
{
    OpenFrame f;
    QLabel* pointer = f.v.window.findChild<QLabel*>(QStringLiteral("pointer"));
    QLabel* figures = f.v.window.findChild<QLabel*>(QStringLiteral("figures"));
    QLabel* model = f.v.window.findChild<QLabel*>(QStringLiteral("model"));
    QLabel* notice = f.v.window.findChild<QLabel*>(QStringLiteral("notice"));
    ASSERT_TRUE(pointer && figures && model && notice);

    const auto check = [&](const char* when) {
        const std::pair<QLabel*, const char*> labels[] = {
            {pointer, "ポインターの画素"}, {figures, "範囲の数値"}, {model, "使用中の較正"}, {notice, "お知らせ"}};
        for (const auto& [label, name] : labels) {
            EXPECT_EQ(accessible(label, QAccessible::Name), QString::fromUtf8(name)) << when;
            EXPECT_EQ(accessible(label, QAccessible::Description), label->text()) << when << ", " << name;
        }
    };
    f.v.hover(2, 3);
    f.v.window.selectArea(engine::Rectangle{1, 1, 5, 4});
    f.v.window.setWhiteValues({201, 187});
    f.v.action(QStringLiteral("範囲の数値をコピー"))->trigger();
    ASSERT_FALSE(pointer->text().isEmpty());
    ASSERT_TRUE(model->text().contains(QStringLiteral("白色板 201")));
    ASSERT_TRUE(figures->text().contains(QStringLiteral("画素数: 20")));
    check("after changes");
    f.v.hover(6, 5);
    f.v.window.setWhiteValues({150, 140});
    f.v.window.selectArea(std::nullopt);
    check("after more changes");
}

}  // namespace

// The window's file dialogs as a user meets them: Qt's own texts in Japanese, a
// question before an existing file is replaced, and nothing left behind by a dialog
// confirmed with Enter after typing a path.
#include "ModalDriver.h"
#include "window/Unit87.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

QString pathText(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

QString utf8(const char* text)
{
    return QString::fromUtf8(text);
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const window::FileDialogRequest kBmpRequest{"対象カラ―画像ファイル", "BMPファイル (*.bmp) | *.bmp", ".bmp"};

// What the dialog shows besides the files: its labels and its two buttons.
struct DialogTexts {
    QString lookIn, fileName, fileType, accept, cancel;
    bool operator==(const DialogTexts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DialogTexts& t)
{
    for (const QString& s : {t.lookIn, t.fileName, t.fileType, t.accept, t.cancel}) out << '[' << s.toStdString() << ']';
    return out;
}

DialogTexts textsOf(QFileDialog& dialog)
{
    const auto label = [&](const char* name) {
        auto* l = dialog.findChild<QLabel*>(QString::fromLatin1(name));
        return l ? l->text() : QStringLiteral("(none)");
    };
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    const auto button = [&](QDialogButtonBox::StandardButton which) {
        QPushButton* b = buttons ? buttons->button(which) : nullptr;
        return b ? b->text() : QStringLiteral("(none)");
    };
    const bool save = dialog.acceptMode() == QFileDialog::AcceptSave;
    return {label("lookInLabel"), label("fileNameLabel"), label("fileTypeLabel"),
            button(save ? QDialogButtonBox::Save : QDialogButtonBox::Open), button(QDialogButtonBox::Cancel)};
}

// Qt's translations are loaded whatever the locale the tests run under (LANG=C too).
TEST(DialogsWindow, FileDialogsShowQtsOwnTextsInJapanese)
{
    const struct {
        window::FileDialog dialog;
        DialogTexts texts;
    } cases[] = {
        {window::FileDialog::Open,
         {utf8("アドレス:"), utf8("ファイル名(&N):"), utf8("ファイルの種類:"), utf8("開く(&O)"), utf8("キャンセル")}},
        {window::FileDialog::Save,
         {utf8("アドレス:"), utf8("ファイル名(&N):"), utf8("ファイルの種類:"), utf8("保存(&S)"), utf8("キャンセル")}},
    };
    TForm87 form;
    ModalDriver driver;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dialog == window::FileDialog::Open ? "open" : "save");
        std::optional<DialogTexts> shown;
        driver.onDialog = [&](QFileDialog& dialog) { shown = textsOf(dialog); };
        driver.fileAnswers = {std::nullopt};
        EXPECT_EQ(form.chooseFile(c.dialog, kBmpRequest), std::nullopt);
        ASSERT_TRUE(shown);
        EXPECT_EQ(*shown, c.texts);
    }
}

// The save dialog proposes the last output's name, so Enter alone used to replace an
// earlier result. Now the dialog asks, in Japanese, with "No" as the default button:
// Enter keeps the earlier file and returns to the dialog; "Yes" replaces it.
TEST(DialogsWindow, SavingOverAnExistingFileAsksFirstWithNoAsTheDefault)
{
    const Picture picture = asymmetricPicture();
    const std::vector<std::uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const struct {
        const char* name;
        std::deque<QMessageBox::StandardButton> reply;  // empty: Enter
        bool replaced;
    } cases[] = {
        {"Enter", {}, false},
        {"Yes", {QMessageBox::Yes}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.path("frame.bmp"), encodeBmp(picture));
        writeFile(dir.path("cropped.bmp"), earlier);
        TForm87 form;
        ModalDriver driver;
        // Typed without its extension: the dialog adds it, then finds the file exists.
        // Back in the dialog after "No", the user cancels.
        driver.fileAnswers = {pathText(dir.path("frame.bmp")), pathText(dir.path("cropped")), std::nullopt};
        driver.boxAnswers = c.reply;
        form.findChild<QPushButton*>(QStringLiteral("Button1"))->click();

        ASSERT_FALSE(driver.boxes.empty());
        const ShownBox& question = driver.boxes[0];
        EXPECT_EQ(question.title, utf8("保存先ファイル名を指定する"));
        EXPECT_EQ(question.text, utf8("cropped.bmp は既に存在します。\n置き換えますか?"));
        EXPECT_EQ(question.buttons, (QStringList{utf8("はい(&Y)"), utf8("いいえ(&N)")}));
        EXPECT_EQ(question.defaultButton, utf8("いいえ(&N)"));
        if (c.replaced) {
            ASSERT_EQ(driver.boxes.size(), 2u);
            EXPECT_EQ(driver.boxes[1].text, utf8("完了"));
            EXPECT_EQ(driver.dialogs.size(), 2u);
            EXPECT_EQ(readFile(dir.path("cropped.bmp")), expectedCrop(picture));
        } else {
            EXPECT_EQ(driver.boxes.size(), 1u);
            ASSERT_EQ(driver.dialogs.size(), 3u);
            EXPECT_TRUE(driver.dialogs[2].save);
            EXPECT_EQ(readFile(dir.path("cropped.bmp")), earlier);
            EXPECT_EQ(namesIn(dir.dir()), (std::vector<std::string>{"cropped.bmp", "frame.bmp"}));
        }
    }
}

// Typing a path opens the name field's completion list, and Enter confirms the dialog
// with the list still up. A following box or dialog would close it; when the operation
// ends silently instead, the first click in the window must still reach its button.
TEST(DialogsWindow, FirstClickAfterADialogConfirmedByTypingAndEnterIsNotLost)
{
    TempDir dir;
    writeFile(dir.path("frame.bmp"), encodeBmp(asymmetricPicture()));
    const struct {
        window::FileDialog dialog;
        const char* typed;  // each lists frame.bmp as a completion
        const char* chosen;
    } cases[] = {
        {window::FileDialog::Open, "frame.bmp", "frame.bmp"},
        {window::FileDialog::Save, "fr", "fr.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        TForm87 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ModalDriver driver;
        driver.typeNames = true;
        driver.fileAnswers = {pathText(dir.path(c.typed))};
        EXPECT_EQ(form.chooseFile(c.dialog, kBmpRequest), dir.path(c.chosen).string());

        // One click on help, through the window as the platform delivers it.
        auto* help = form.findChild<QPushButton*>(QStringLiteral("Button4"));
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, help->mapTo(&form, help->rect().center()));
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0].text, utf8(TForm87::helpText()));
    }
}

}  // namespace

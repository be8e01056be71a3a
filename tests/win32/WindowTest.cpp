// The Win32 window run in process on a real display (wine on a virtual X server):
// its controls read back from the windows themselves, its buttons clicked, the system
// file dialogs and the window's own boxes answered through their controls. Every output
// is compared with the same script run by the engine alone, and with a reckoning of
// its own.
#include "WindowDriver.h"
#include "window/Form87Layout.h"
#include "window/win32/Boxes.h"
#include "window/win32/Form87.h"

#include "BmpFixture.h"
#include "ExpectedOutput.h"
#include "FakeServices.h"
#include "Operations.h"
#include "engine/platform/Messages.h"
#include "runtime/ErrorText.h"
#include "runtime/Exceptions.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
using window::win32::TForm87;
namespace form87 = window::form87;
namespace fs = std::filesystem;

std::wstring wide(std::string_view utf8)
{
    std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), static_cast<int>(out.size()));
    return out;
}

std::u8string u8(const char* text)
{
    return text ? std::u8string(text, text + std::char_traits<char>::length(text)) : std::u8string();
}

std::string u8string(const char* text)
{
    return text ? text : "";
}

std::string pathUtf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A form shown on the screen, as the program shows it.
struct ShownForm {
    TForm87 form;
    ShownForm() { ShowWindow(form.handle(), SW_SHOW); }
    HWND operator[](std::string_view name) const { return form.control(name); }
    void click(std::string_view name) const { SendMessageW(form.control(name), BM_CLICK, 0, 0); }
    void type(std::string_view name, std::string_view text) const { SetWindowTextW(form.control(name), wide(text).c_str()); }
    std::string text(std::string_view name) const { return utf8(windowText(form.control(name))); }
    int barPosition() const { return static_cast<int>(SendMessageW(form.control("ProgressBar1"), PBM_GETPOS, 0, 0)); }
};

std::vector<std::string> boxTexts(const WindowDriver& driver)
{
    std::vector<std::string> texts;
    for (const ShownBox& box : driver.boxes) texts.push_back(utf8(box.text));
    return texts;
}

// The same operation run by the engine through the scripted stand-in, with the same
// fields and the same answers: what the window has to give.
struct EngineRun {
    std::vector<std::string> messages;
    std::map<window::ResultLabel, std::string> labels;
    std::vector<int> positionAtMessage;
};

EngineRun runByEngine(const Operation& op, const std::map<window::Field, std::string>& fields,
                      std::deque<std::optional<std::string>> answers)
{
    FakeServices services;
    services.fields = fields;
    services.dialogAnswers = std::move(answers);
    // What escapes the script, the window shows in its error box.
    try {
        op.run(services);
    } catch (const runtime::Exception& e) {
        services.messages.push_back(runtime::errorBoxText(e.message()));
    }
    return {services.messages, services.labels, services.positionAtMessage};
}

const std::map<window::Field, std::string> kDefaultFields = {
    {window::Field::Edit1, "0"}, {window::Field::Edit2, "0"},   {window::Field::Edit3, "0"},
    {window::Field::Edit4, "0"}, {window::Field::Edit5, "255"}, {window::Field::Edit6, "255"},
};

int scaled(int pixels)
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(pixels, dpi, 96);
}

TEST(Win32Window, HasEveryControlWhereItBelongsWithItsStartText)
{
    ShownForm form;
    EXPECT_EQ(utf8(windowText(form.form.handle())), form87::kCaption);
    RECT client;
    GetClientRect(form.form.handle(), &client);
    EXPECT_EQ(client.right, scaled(form87::kClientWidth));
    EXPECT_EQ(client.bottom, scaled(form87::kClientHeight));

    std::map<std::string_view, POINT> origins{{form87::kFormName, POINT{0, 0}}};
    const std::map<form87::Kind, std::wstring> classes = {
        {form87::Kind::Label, L"Static"}, {form87::Kind::ProgressBar, PROGRESS_CLASSW}, {form87::Kind::GroupBox, L"Button"},
        {form87::Kind::Button, L"Button"}, {form87::Kind::Edit, L"Edit"}};
    for (const form87::Control& c : form87::kControls) {
        SCOPED_TRACE(std::string(c.name));
        HWND control = form[c.name];
        const POINT parent = origins.at(c.parent.empty() ? form87::kFormName : c.parent);
        origins[c.name] = POINT{parent.x + c.left, parent.y + c.top};
        wchar_t cls[64] = {};
        GetClassNameW(control, cls, 64);
        EXPECT_EQ(CompareStringOrdinal(cls, -1, classes.at(c.kind).c_str(), -1, TRUE), CSTR_EQUAL) << utf8(cls);
        RECT place;
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, form.form.handle(), reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, scaled(parent.x + c.left));
        EXPECT_EQ(place.top, scaled(parent.y + c.top));
        if (c.width >= 0) {
            EXPECT_EQ(place.right - place.left, scaled(c.width));
            EXPECT_EQ(place.bottom - place.top, scaled(c.height));
        } else if (!c.text.empty()) {
            EXPECT_GT(place.right - place.left, 0);  // sized to its text
        }
        EXPECT_EQ(form.text(c.name), c.text);
        EXPECT_TRUE(IsWindowVisible(control));
    }
    EXPECT_EQ(form.barPosition(), 0);

    // The keyboard's order, from the first control on.
    std::vector<std::string> order;
    HWND first = GetNextDlgTabItem(form.form.handle(), nullptr, FALSE);
    for (HWND at = first; at && order.size() < 20;) {
        for (const form87::Control& c : form87::kControls) {
            if (form[c.name] == at) order.emplace_back(c.name);
        }
        at = GetNextDlgTabItem(form.form.handle(), at, FALSE);
        if (at == first) break;
    }
    EXPECT_EQ(order, std::vector<std::string>(form87::kTabOrder.begin(), form87::kTabOrder.end()));
}

TEST(Win32Window, HelpShowsItsTwoParagraphsInABoxOfOurs)
{
    ShownForm form;
    WindowDriver driver;
    form.click("Button4");
    ASSERT_EQ(driver.boxes.size(), 1u);
    const ShownBox& box = driver.boxes[0];
    EXPECT_EQ(box.caption, form.form.applicationTitle());
    EXPECT_EQ(utf8(box.text), form87::kHelpText);
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_EQ(box.defaultButton, L"OK");
    EXPECT_FALSE(box.stopIcon);
    EXPECT_TRUE(driver.dialogs.empty());
}

class Win32WindowOperation : public ::testing::TestWithParam<Operation> {};

// Folders and names in Japanese, full-width characters and look-alike dashes, the
// outputs typed without their extension: what the window writes is what the engine
// gives for the same picture, to the byte, and what the picture's pixels give.
TEST_P(Win32WindowOperation, WritesWhatTheEngineWritesForJapaneseNames)
{
    const Operation& op = GetParam();
    TempDir dir;
    const fs::path inFolder = dir.dir() / fs::path(u8"撮影データ（畑）");
    const fs::path outFolder = dir.dir() / fs::path(u8"処理結果 ２０２４");
    fs::create_directory(inFolder);
    fs::create_directory(outFolder);
    const Picture picture = asymmetricPicture(2051, 3);
    const fs::path input = inFolder / fs::path(u8"カラ―画像ー１.bmp");
    writeFile(input, encodeBmp(picture));

    ShownForm form;
    std::map<window::Field, std::string> fields = kDefaultFields;
    if (op.run == kMaxima.run) {
        fields[window::Field::Edit1] = "1";
        fields[window::Field::Edit3] = "2050";
        fields[window::Field::Edit4] = "2";
        form.type("Edit1", "1");
        form.type("Edit3", "2050");
        form.type("Edit4", "2");
    }
    WindowDriver driver;
    const fs::path typed = outFolder / fs::path(u8"切り出し");
    driver.fileAnswers = {input.wstring(), typed.wstring()};
    int barWhileDone = -1;
    driver.onBox = [&](const ShownBox&) { barWhileDone = form.barPosition(); };
    form.click(op.run == kCrop.run ? "Button1" : op.run == kMaxima.run ? "Button2" : "Button3");

    const std::size_t dialogCount = op.writesFile() ? 2 : 1;
    ASSERT_EQ(driver.dialogs.size(), dialogCount);
    EXPECT_EQ(utf8(driver.dialogs[0].title), op.openTitle);
    EXPECT_EQ(utf8(driver.dialogs[0].filter), "BMPファイル (*.bmp) ");  // nothing trimmed
    EXPECT_EQ(boxTexts(driver), std::vector<std::string>{engine::kDoneMessage});
    EXPECT_EQ(form.barPosition(), 0);

    // The system dialog adds the extension; the engine's run is given it.
    const fs::path scratch = dir.dir() / fs::path(u8"by-engine" + u8(op.saveExt));
    const EngineRun engine = runByEngine(op, fields, {pathUtf8(input), pathUtf8(scratch)});
    EXPECT_EQ(engine.messages, std::vector<std::string>{engine::kDoneMessage});
    EXPECT_EQ(std::vector<int>{barWhileDone}, engine.positionAtMessage);
    if (op.writesFile()) {
        EXPECT_EQ(barWhileDone, picture.height);  // one step per row
        const std::string saveFilter = op.saveFilter;
        EXPECT_EQ(utf8(driver.dialogs[1].title), op.saveTitle);
        EXPECT_EQ(utf8(driver.dialogs[1].filter), saveFilter.substr(0, saveFilter.find('|')));
        const fs::path written = outFolder / fs::path(typed.filename().u8string() + u8(op.saveExt));
        ASSERT_TRUE(fs::exists(written));
        EXPECT_EQ(readFile(written), readFile(scratch));
        EXPECT_EQ(readFile(written), op.expected(picture));
    } else {
        std::array<int, 3> most{};  // red, green, blue over x 1..2050, y 0..2
        for (int y = 0; y <= 2; ++y) {
            for (int x = 1; x <= 2050; ++x) {
                most[0] = std::max<int>(most[0], picture.at(x, y).r);
                most[1] = std::max<int>(most[1], picture.at(x, y).g);
                most[2] = std::max<int>(most[2], picture.at(x, y).b);
            }
        }
        const std::array<std::string, 3> shown = {form.text("Label8"), form.text("Label9"), form.text("Label10")};
        EXPECT_EQ(shown, (std::array<std::string, 3>{std::to_string(most[0]), std::to_string(most[1]), std::to_string(most[2])}));
        EXPECT_EQ(shown, (std::array<std::string, 3>{engine.labels.at(window::ResultLabel::Label8),
                                                     engine.labels.at(window::ResultLabel::Label9),
                                                     engine.labels.at(window::ResultLabel::Label10)}));
        EXPECT_TRUE(fs::is_empty(outFolder));
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, Win32WindowOperation, ::testing::Values(kCrop, kMaxima, kNdvi), operationName);

// Every picture layout the engine's tests know, through the one window one after
// another: the same boxes, labels and bytes as the engine's own run of the same answers.
TEST(Win32Window, EveryLayoutGivesWhatTheEngineGives)
{
    TempDir dir;
    const std::vector<fs::path> frames = writeFrames(dir);
    ShownForm form;
    form.type("Edit3", "99999");
    form.type("Edit4", "99999");
    std::map<window::Field, std::string> fields = kDefaultFields;
    fields[window::Field::Edit3] = fields[window::Field::Edit4] = "99999";
    const struct {
        const Operation* op;
        const char* button;
    } operations[] = {{&kCrop, "Button1"}, {&kMaxima, "Button2"}, {&kNdvi, "Button3"}};
    for (const fs::path& frame : frames) {
        for (const auto& [op, button] : operations) {
            SCOPED_TRACE(frame.filename().string() + " " + op->name);
            const std::string stem = frame.stem().string() + "-" + op->name;
            const fs::path byWindow = dir.path(stem + u8string(op->saveExt));
            const fs::path byEngine = dir.path(stem + "-engine" + u8string(op->saveExt));
            WindowDriver driver;
            driver.fileAnswers = {frame.wstring(), dir.path(stem).wstring()};  // the dialog adds the extension
            form.click(button);
            const EngineRun engine = runByEngine(*op, fields, {pathUtf8(frame), pathUtf8(byEngine)});
            ASSERT_EQ(engine.messages, std::vector<std::string>{engine::kDoneMessage});  // nothing refused
            EXPECT_EQ(boxTexts(driver), engine.messages);
            if (op->writesFile()) {
                ASSERT_EQ(fs::exists(byWindow), fs::exists(byEngine));
                if (fs::exists(byEngine)) {
                    EXPECT_EQ(readFile(byWindow), readFile(byEngine));
                }
            } else if (!engine.labels.empty()) {
                EXPECT_EQ((std::array<std::string, 3>{form.text("Label8"), form.text("Label9"), form.text("Label10")}),
                          (std::array<std::string, 3>{engine.labels.at(window::ResultLabel::Label8),
                                                      engine.labels.at(window::ResultLabel::Label9),
                                                      engine.labels.at(window::ResultLabel::Label10)}));
            }
        }
    }
}

// What the window refuses, it refuses as the engine's script does, with the same
// messages, and leaves the folder as it was.
TEST(Win32Window, RefusalsShowTheScriptsMessagesAndWriteNothing)
{
    const struct {
        const char* name;
        const Operation* op;
        const char* button;
        std::map<window::Field, std::string> fields;
        std::vector<const char*> answers;  // names in the folder; "" cancels
        std::vector<int> boxAnswers;
        std::vector<std::string> boxes;  // how each box's text begins
        bool stopIcon;
    } cases[] = {
        {"cancelled", &kNdvi, "Button3", kDefaultFields, {""}, {}, {}, false},
        {"no such input", &kCrop, "Button1", kDefaultFields, {"missing.bmp"}, {}, {engine::kCannotOpenInput}, false},
        {"not a number", &kNdvi, "Button3", {{window::Field::Edit5, "abc"}, {window::Field::Edit6, "255"}},
         {"in.bmp", "out"}, {}, {"'abc' は整数ではありません."}, true},
        {"onto its input", &kNdvi, "Button3", kDefaultFields, {"in.bmp", "in.bmp"}, {IDYES},
         {"in.bmp は既に存在します。\n置き換えますか?", engine::kOutputIsInput}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto original = encodeBmp(asymmetricPicture());
        writeFile(dir.path("in.bmp"), original);
        ShownForm form;
        for (const auto& [field, text] : c.fields) form.type("Edit" + std::to_string(static_cast<int>(field)), text);
        WindowDriver driver;
        std::deque<std::optional<std::string>> engineAnswers;
        for (const char* name : c.answers) {
            driver.fileAnswers.push_back(*name ? std::optional(dir.path(name).wstring()) : std::nullopt);
            engineAnswers.push_back(*name ? std::optional(pathUtf8(dir.path(name))) : std::nullopt);
        }
        driver.boxAnswers.assign(c.boxAnswers.begin(), c.boxAnswers.end());
        form.click(c.button);

        const std::vector<std::string> texts = boxTexts(driver);
        ASSERT_EQ(texts.size(), c.boxes.size());
        for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i].substr(0, c.boxes[i].size()), c.boxes[i]);
        if (!driver.boxes.empty()) {
            EXPECT_EQ(driver.boxes.back().stopIcon, c.stopIcon);
            EXPECT_EQ(driver.boxes.back().caption, form.form.applicationTitle());
        }
        EXPECT_EQ(readFile(dir.path("in.bmp")), original);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.dir()), fs::directory_iterator()), 1);
        EXPECT_EQ(form.barPosition(), 0);
        std::vector<std::string> shown = boxTexts(driver);
        if (!c.boxAnswers.empty()) shown.erase(shown.begin());  // the question is the window's own
        EXPECT_EQ(shown, runByEngine(*c.op, c.fields, engineAnswers).messages);
        EXPECT_TRUE(IsWindowEnabled(form["Button1"]));
    }
}

// The save dialog proposes the last output's name, so Enter alone would replace an
// earlier result: the window asks first in Japanese, "No" the default; Enter keeps the
// earlier file and returns to the dialog, "Yes" replaces it.
TEST(Win32Window, SavingOverAnExistingFileAsksFirstWithNoAsTheDefault)
{
    const Picture picture = asymmetricPicture();
    const std::vector<std::uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const struct {
        const char* name;
        std::deque<int> reply;  // empty: Enter
        bool replaced;
    } cases[] = {{"Enter", {}, false}, {"Yes", {IDYES}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.path("frame.bmp"), encodeBmp(picture));
        writeFile(dir.path("cropped.bmp"), earlier);
        ShownForm form;
        WindowDriver driver;
        driver.fileAnswers = {dir.path("frame.bmp").wstring(), dir.path("cropped").wstring(), std::nullopt};
        driver.boxAnswers = c.reply;
        form.click("Button1");

        ASSERT_FALSE(driver.boxes.empty());
        const ShownBox& question = driver.boxes[0];
        EXPECT_EQ(utf8(question.caption), kCrop.saveTitle);
        EXPECT_EQ(utf8(question.text), "cropped.bmp は既に存在します。\n置き換えますか?");
        EXPECT_EQ(question.buttons, (std::vector<std::wstring>{window::win32::kYesText, window::win32::kNoText}));
        EXPECT_EQ(question.defaultButton, window::win32::kNoText);
        if (c.replaced) {
            EXPECT_EQ(boxTexts(driver)[1], engine::kDoneMessage);
            EXPECT_EQ(driver.dialogs.size(), 2u);
            EXPECT_EQ(readFile(dir.path("cropped.bmp")), expectedCrop(picture));
        } else {
            EXPECT_EQ(driver.boxes.size(), 1u);
            ASSERT_EQ(driver.dialogs.size(), 3u);  // back in the save dialog, which proposes the name
            EXPECT_EQ(driver.dialogs[2].title, driver.dialogs[1].title);
            EXPECT_EQ(driver.dialogs[2].proposed, L"cropped.bmp");
            EXPECT_EQ(readFile(dir.path("cropped.bmp")), earlier);
        }
    }
}

// The two operations with an output share the save dialog: the NDVI's proposes the
// crop's output.
TEST(Win32Window, NdviSaveDialogProposesTheCropsLastOutput)
{
    TempDir dir;
    writeFile(dir.path("frame.bmp"), encodeBmp(asymmetricPicture()));
    ShownForm form;
    WindowDriver driver;
    driver.fileAnswers = {dir.path("frame.bmp").wstring(), dir.path("cropped").wstring()};
    form.click("Button1");
    driver.fileAnswers = {dir.path("frame.bmp").wstring(), dir.path("ndvi").wstring()};
    form.click("Button3");
    ASSERT_EQ(driver.dialogs.size(), 4u);
    EXPECT_EQ(driver.dialogs[2].proposed, L"frame.bmp");
    EXPECT_EQ(driver.dialogs[3].proposed, L"cropped.bmp");
    EXPECT_EQ(readFile(dir.path("ndvi.raw")), expectedNdvi(asymmetricPicture()));
}

// A clock that moves on by a step each time it is read: what the pump does is the same
// however fast the machine.
TForm87::Clock steppingClock(std::int64_t stepNs)
{
    return [stepNs, now = std::int64_t{0}]() mutable { return now += stepNs; };
}

TEST(Win32Window, EventsAreHandledOnceTenMillisecondsHavePassed)
{
    TempDir dir;
    writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(2048, 48)));
    ShownForm form;
    form.form.setClock(steppingClock(4'000'000));
    int passes = 0;
    form.form.setEventPassHook([&] { ++passes; });
    // The area maxima of the whole picture: no output, so no wait for a disk.
    form.type("Edit3", "2047");
    form.type("Edit4", "47");
    WindowDriver driver;
    driver.fileAnswers = {dir.path("in.bmp").wstring()};
    form.click("Button2");
    // The pump is handed over after pixels 1, 16385, ... 81921 of 98,304: six times, each
    // a clock reading 4 ms on, so every third one is 12 ms after the last pass.
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(boxTexts(driver), std::vector<std::string>{engine::kDoneMessage});
}

// While a run goes on, its buttons are off and help answers; a close asked for lets
// the run finish, without its last box, then ends the program with status 0.
TEST(Win32Window, DuringARunHelpAnswersAndAClosingWaitsForItsEnd)
{
    TempDir dir;
    const Picture picture = asymmetricPicture(300, 300);
    writeFile(dir.path("big.bmp"), encodeBmp(picture));
    ShownForm form;
    WindowDriver driver;
    driver.fileAnswers = {dir.path("big.bmp").wstring(), dir.path("ndvi").wstring()};
    form.form.setClock(steppingClock(20'000'000));  // every hand-over handles the events
    int passes = 0;
    std::array<BOOL, 4> enabled{};
    form.form.setEventPassHook([&] {
        if (++passes != 1) return;
        for (int i = 0; i < 4; ++i) enabled[i] = IsWindowEnabled(form["Button" + std::to_string(i + 1)]);
        PostMessageW(form["Button1"], BM_CLICK, 0, 0);  // off: nothing happens
        PostMessageW(form["Button4"], BM_CLICK, 0, 0);
        PostMessageW(form.form.handle(), WM_CLOSE, 0, 0);
    });
    const HWND window = form.form.handle();
    form.click("Button3");

    EXPECT_GE(passes, 2);
    EXPECT_EQ(enabled, (std::array<BOOL, 4>{FALSE, FALSE, FALSE, TRUE}));
    EXPECT_EQ(boxTexts(driver), std::vector<std::string>{std::string(form87::kHelpText)});  // no "done" box
    EXPECT_EQ(driver.dialogs.size(), 2u);
    EXPECT_EQ(readFile(dir.path("ndvi.raw")), expectedNdvi(picture));
    EXPECT_FALSE(IsWindow(window));
    MSG quit;
    ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 0u);
}

// The 8-bit gate and the inverted rectangle end the program with status -1 after
// their box. The child echoes its boxes to standard error.
TEST(Win32WindowDeathTest, FatalBoxesEndTheProgramWithStatusMinusOne)
{
    const struct {
        const char* name;
        const char* button;
        int bitCount;
        std::array<const char*, 4> corners;
        const char* message;
    } cases[] = {
        {"crop, 8-bit", "Button1", 8, {"0", "0", "0", "0"}, kCrop.eightBitMessage},
        {"maxima, y upside down", "Button2", 24, {"0", "3", "0", "2"}, "y値が違います"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = [&] {
            TempDir dir;
            writeFile(dir.path("in.bmp"), encodeBmp(asymmetricPicture(), static_cast<std::uint16_t>(c.bitCount)));
            ShownForm form;
            for (int i = 0; i < 4; ++i) form.type("Edit" + std::to_string(i + 1), c.corners[i]);
            WindowDriver driver;
            driver.echoBoxes = true;
            driver.fileAnswers = {dir.path("in.bmp").wstring(), dir.path("out.bmp").wstring()};
            form.click(c.button);
            std::exit(0);  // not reached
        };
        EXPECT_EXIT(run(), ::testing::ExitedWithCode(-1), std::string("box: ") + c.message);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Each death test starts this program anew.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

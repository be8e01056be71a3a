#pragma once
// The window's design as data: every control with its parent, place, size and start
// text, the caption, the font, the keyboard order and the help text. The Qt window
// builds itself from this table, and so will any other toolkit's, so that the two
// cannot drift apart. No Qt here.

#include <array>
#include <string_view>

namespace window::form87 {

enum class Kind { Label, ProgressBar, GroupBox, Button, Edit };

struct Control {
    Kind kind;
    std::string_view name;
    std::string_view parent;  // empty: the form itself
    int left, top;
    int width, height;        // -1 for labels: sized to their text
    std::string_view text;    // a group's title, a label's, button's or field's text
};

inline constexpr std::string_view kFormName = "Form87";
inline constexpr std::string_view kCaption = "MIRVALEN－ZRV画像処理ソフト";
inline constexpr int kClientWidth = 364;
inline constexpr int kClientHeight = 433;
// Tahoma 8 pt at 96 dpi.
inline constexpr std::string_view kFontFamily = "Tahoma";
inline constexpr int kFontPixels = 11;

// In the order the controls are made; children after their group.
inline constexpr std::array kControls = {
    Control{Kind::Label, "Label13", "", 24, 376, -1, -1, "Progress :"},
    Control{Kind::ProgressBar, "ProgressBar1", "", 80, 376, 257, 17, ""},
    Control{Kind::GroupBox, "GroupBox1", "", 24, 16, 313, 57, "切り出し（2048×1536)"},
    Control{Kind::Button, "Button1", "GroupBox1", 24, 24, 75, 25, "実行"},
    Control{Kind::GroupBox, "GroupBox2", "", 24, 79, 313, 154, "エリア最大値算出"},
    Control{Kind::Label, "Label1", "GroupBox2", 24, 38, -1, -1, "左上座標（x,y) :"},
    Control{Kind::Label, "Label2", "GroupBox2", 24, 64, -1, -1, "右下座標（x,y）:"},
    Control{Kind::Label, "Label3", "GroupBox2", 162, 16, -1, -1, "x"},
    Control{Kind::Label, "Label4", "GroupBox2", 218, 16, -1, -1, "y"},
    Control{Kind::Label, "Label5", "GroupBox2", 152, 96, -1, -1, "Red  -Max :"},
    Control{Kind::Label, "Label6", "GroupBox2", 152, 115, -1, -1, "Green-Max :"},
    Control{Kind::Label, "Label7", "GroupBox2", 152, 134, -1, -1, "Blue -Max :"},
    Control{Kind::Label, "Label8", "GroupBox2", 218, 96, -1, -1, ""},
    Control{Kind::Label, "Label9", "GroupBox2", 218, 115, -1, -1, ""},
    Control{Kind::Label, "Label10", "GroupBox2", 218, 134, -1, -1, ""},
    Control{Kind::Button, "Button2", "GroupBox2", 24, 96, 75, 25, "実行"},
    Control{Kind::Edit, "Edit1", "GroupBox2", 152, 35, 41, 21, "0"},
    Control{Kind::Edit, "Edit2", "GroupBox2", 208, 35, 41, 21, "0"},
    Control{Kind::Edit, "Edit3", "GroupBox2", 152, 62, 41, 21, "0"},
    Control{Kind::Edit, "Edit4", "GroupBox2", 208, 62, 41, 21, "0"},
    Control{Kind::GroupBox, "GroupBox3", "", 24, 239, 313, 122, "NDVI画像（Float-RAW）作成"},
    Control{Kind::Label, "Label11", "GroupBox3", 24, 28, -1, -1, "白色板 NIR (Max:255) :"},
    Control{Kind::Label, "Label12", "GroupBox3", 24, 56, -1, -1, "白色板 Red (Max:255) :"},
    Control{Kind::Edit, "Edit5", "GroupBox3", 152, 24, 41, 21, "255"},
    Control{Kind::Edit, "Edit6", "GroupBox3", 152, 51, 41, 21, "255"},
    Control{Kind::Button, "Button3", "GroupBox3", 24, 86, 75, 25, "実行"},
    Control{Kind::Button, "Button4", "", 262, 400, 75, 25, "ヘルプ"},
};

// Keyboard order: the groups top to bottom, inside each as designed.
inline constexpr std::array<std::string_view, 10> kTabOrder = {
    "Button1", "Button2", "Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Button3", "Button4",
};

// The buttons that start an operation, off while one runs.
inline constexpr std::array<std::string_view, 3> kRunButtons = {"Button1", "Button2", "Button3"};

inline constexpr std::string_view kHelpText =
    "NDVI画像作成では，NIRとRが共にゼロの場合，-10としています．\n\n"
    "RAWファイルの画像処理は，リモートセンシング画像処理ソフトVKS等を使用して下さい．";

// The control of that name; every name the window uses is in the table.
constexpr const Control& control(std::string_view name)
{
    for (const Control& c : kControls) {
        if (c.name == name) return c;
    }
    throw "no such control";  // a compile-time error where it is evaluated as a constant
}

}  // namespace window::form87

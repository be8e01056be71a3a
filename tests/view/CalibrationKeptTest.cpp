// The calibration kept, checked and undone: the file the viewer saves is the one
// zrvimage-batch calibrate writes for the same frame and rectangles; a file opened sets
// the fields and shows where it came from, and a bad one is refused naming it; the
// calibration in use comes back on the next start; the white panel's checks are shown
// in calibrate's words; and each change to the calibration and the rectangle is undone
// and redone.
#include "ViewerFixture.h"

#include "batch/Calibrate.h"
#include "batch/CommandLine.h"
#include "engine/calibration/CalibrationFile.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <ctime>

#include <functional>
#include <sstream>

namespace {

using namespace view_testing;
using engine::NdviModel;
using engine::Rectangle;
using testing_support::readFile;
using testing_support::TempDir;

constexpr std::time_t kDate = 1778751000;  // 2026-05-14T09:30:00Z

// A time as the panel shows it: the local clock's, in the season list's form.
QString localText(std::time_t t)
{
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return QString::fromLatin1(text);
}
const Rectangle kDark{2, 3, 9, 10};
const Rectangle kPanel{20, 4, 31, 13};

// 40 x 20: plants, a dark target and a white panel whose NIR (red byte) and red
// (green byte) come from panel(x, y).
Picture frame(const std::function<std::pair<int, int>(int, int)>& panel)
{
    Picture p{40, 20, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            Pixel px{60, static_cast<std::uint8_t>(40 + (x + y) % 11), static_cast<std::uint8_t>(170 + (3 * x + y) % 23)};
            if (x >= kDark.x1 && x <= kDark.x2 && y >= kDark.y1 && y <= kDark.y2) {
                px = {15, static_cast<std::uint8_t>(14 + (x + 5 * y) % 9), static_cast<std::uint8_t>(17 + (3 * x + y) % 7)};
            }
            if (x >= kPanel.x1 && x <= kPanel.x2 && y >= kPanel.y1 && y <= kPanel.y2) {
                const auto [nir, red] = panel(x, y);
                px = {200, static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(nir)};
            }
            p.pixels.push_back(px);
        }
    }
    return p;
}

// A good panel: bytes spread a little (so maximum, mean and 99th percentile differ),
// none at 255.
std::pair<int, int> goodPanel(int x, int y)
{
    return {236 + (3 * x + 5 * y) % 9, 229 + (x + 2 * y) % 7 + (x == 25 && y == 9 ? 12 : 0)};
}

std::string rect(const Rectangle& r)
{
    return view::rectangleText(r).toStdString();
}

QString qpath(const std::filesystem::path& p)
{
    return QString::fromStdString(p.string());
}

// Runs calibrate in this process at kDate; its standard error.
std::string calibrate(std::vector<std::string> args)
{
    args.insert(args.begin(), "calibrate");
    const auto parsed = batch::parseCommandLine(args);
    const auto* options = std::get_if<batch::Options>(&parsed);
    if (!options) {
        ADD_FAILURE() << std::get<batch::UsageError>(parsed).message;
        return {};
    }
    std::ostringstream out, err;
    EXPECT_EQ(batch::runCalibrate(*options, out, err, kDate), 0) << err.str();
    return err.str();
}

// A viewer on frame.bmp whose clock stands at kDate.
struct Calibrating : Viewer {
    TempDir dir;
    std::filesystem::path framePath = dir.path("frame.bmp");

    explicit Calibrating(const Picture& picture = frame(goodPanel))
    {
        testing_support::writeFile(framePath, testing_support::encodeBmp(picture));
        window.prompts().now = [] { return kDate; };
        EXPECT_TRUE(open(framePath));
    }

    void white(view::WhiteChoice choice = view::WhiteChoice::Maximum)
    {
        window.setWhiteChoice(choice);
        window.selectArea(kPanel);
        window.applyWhitePanel();
    }
    void dark()
    {
        window.selectArea(kDark);
        window.applyDarkTarget();
    }
    QString label(const char* name) const
    {
        const auto* l = window.findChild<QLabel*>(QLatin1String(name));
        return l->isHidden() ? QString() : l->text();
    }
};

TEST(CalibrationSave, WritesTheFileCalibrateWritesForTheSameFrameAndRectangles)
{
    struct Case {
        view::WhiteChoice from;
        bool dark;
        float nirPanel, redPanel, nirDark, redDark;
    };
    for (const Case c : {Case{view::WhiteChoice::Maximum, false, 1, 1, 0, 0},
                         Case{view::WhiteChoice::Mean, true, 0.92f, 0.9f, 0.031f, 0.045f},
                         Case{view::WhiteChoice::Percentile99, true, 0.915f, 0.94f, 0.02f, 0.018f}}) {
        const std::string from = engine::whiteFromName(c.from);
        Calibrating v;
        v.white(c.from);
        if (c.dark) v.dark();
        NdviModel m = v.window.fieldsModel();
        m.nir.rWhite = c.nirPanel;
        m.red.rWhite = c.redPanel;
        m.nir.rDark = c.nirDark;
        m.red.rDark = c.redDark;
        v.window.setModel(m);
        const auto saved = v.dir.path("viewer.json");
        ASSERT_TRUE(v.window.saveCalibration(qpath(saved))) << from;

        std::vector<std::string> args{v.framePath.string(), "--white-rect", rect(kPanel), "--white-from", from,
                                      "--panel-reflectance", QString::number(c.nirPanel).toStdString() + "," +
                                                                 QString::number(c.redPanel).toStdString()};
        if (c.dark) {
            args.insert(args.end(), {"--dark-rect", rect(kDark), "--dark-reflectance",
                                     QString::number(c.nirDark).toStdString() + "," + QString::number(c.redDark).toStdString()});
        }
        const auto written = v.dir.path("calibrate.json");
        args.insert(args.end(), {"-o", written.string()});
        calibrate(args);
        EXPECT_EQ(readFile(saved), readFile(written)) << from;
        // And what is saved is what the fields show.
        EXPECT_EQ(engine::readCalibrationFile(saved.string()).model, v.window.model()) << from;
    }
}

TEST(CalibrationOpen, SetsTheFieldsAndSourceMarksTheDarkTargetAndIsOneStep)
{
    Calibrating made;
    made.white(view::WhiteChoice::Mean);
    made.dark();
    NdviModel m = made.window.fieldsModel();
    m.nir.rWhite = 0.93f;
    m.red.rDark = 0.04f;
    made.window.setModel(m);
    const auto file = made.dir.path("cal.json");
    ASSERT_TRUE(made.window.saveCalibration(qpath(file)));
    const QString source = made.label("calibrationSource");
    EXPECT_EQ(source, QStringLiteral("較正元: frame.bmp（%1）\n白色板 20,4,31,13（平均値）\n暗色板 2,3,9,10").arg(localText(kDate)));

    Viewer other;  // settings fresh: the defaults
    ASSERT_TRUE(other.open(made.framePath));
    const NdviModel before = other.window.fieldsModel();
    const auto* sourceLabel = other.window.findChild<QLabel*>(QStringLiteral("calibrationSource"));
    EXPECT_EQ(sourceLabel->text(), QStringLiteral("較正元: 既定値"));
    ASSERT_TRUE(other.window.openCalibration(qpath(file)));
    EXPECT_EQ(other.window.fieldsModel(), m);
    EXPECT_EQ(other.window.model(), m);
    EXPECT_EQ(sourceLabel->text(), source);
    ASSERT_TRUE(other.window.canvas()->darkTarget());
    EXPECT_EQ(rect(*other.window.canvas()->darkTarget()), rect(kDark));

    other.window.undoStack()->undo();
    EXPECT_EQ(other.window.fieldsModel(), before);
    EXPECT_EQ(sourceLabel->text(), QStringLiteral("較正元: 既定値"));
    EXPECT_FALSE(other.window.canvas()->darkTarget());
    EXPECT_TRUE(other.messages.empty());
}

TEST(CalibrationOpen, RefusesABadFileNamingItAndChangesNothing)
{
    const std::string band = R"({"white": 243, "white_reflectance": 0.92, "dark": 0, "dark_reflectance": 0})";
    const auto file = [](const std::string& nir, const std::string& red) {
        return R"({"format": "zrvimage-calibration", "version": 1, "nir": )" + nir + R"(, "red": )" + red + "}";
    };
    struct Case {
        const char* name;
        std::optional<std::string> text;  // none: no such file
        const char* problem;
    };
    const Case cases[] = {
        {"missing", std::nullopt, "較正ファイルを開けません"},
        {"notJson", std::string("{\"format\": "), ""},
        {"noRedBand", file(band, band).substr(0, file(band, band).find(", \"red\"")) + "}", ""},
        {"darkAboveWhite", file(band, R"({"white": 40, "white_reflectance": 1, "dark": 50, "dark_reflectance": 0})"), ""},
        {"fourDecimals", file(R"({"white": 243, "white_reflectance": 0.9234, "dark": 0, "dark_reflectance": 0})", band),
         "反射率は小数第3位までにしてください"},
    };
    Calibrating v;
    v.white();
    for (const Case& c : cases) {
        const auto path = v.dir.path(std::string(c.name) + ".json");
        if (c.text) testing_support::writeFile(path, {c.text->begin(), c.text->end()});
        const NdviModel fields = v.window.fieldsModel();
        const QString source = v.label("calibrationSource");
        const int steps = v.window.undoStack()->count();
        v.messages.clear();
        EXPECT_FALSE(v.window.openCalibration(qpath(path))) << c.name;
        ASSERT_EQ(v.messages.size(), 1u) << c.name;
        EXPECT_TRUE(v.messages[0].startsWith(QString::fromUtf8(c.problem))) << c.name;
        EXPECT_TRUE(v.messages[0].endsWith(QStringLiteral("\n") + qpath(path))) << v.messages[0].toStdString();
        EXPECT_EQ(v.window.fieldsModel(), fields) << c.name;
        EXPECT_EQ(v.label("calibrationSource"), source) << c.name;
        EXPECT_EQ(v.window.undoStack()->count(), steps) << c.name;
    }
}

// The settings live in the tests' own temporary folder (ViewTestMain).
TEST(CalibrationKept, ComesBackOnTheNextStartWithItsSource)
{
    NdviModel kept;
    QString source;
    {
        Calibrating v;
        v.white(view::WhiteChoice::Percentile99);
        v.dark();
        kept = v.window.fieldsModel();
        kept.red.rWhite = 0.905f;
        v.window.setModel(kept);
        source = v.label("calibrationSource");
        ASSERT_TRUE(source.contains(QStringLiteral("99パーセンタイル")));
    }
    view::ViewerWindow next;
    EXPECT_EQ(next.fieldsModel(), kept);
    EXPECT_EQ(next.model(), kept);
    EXPECT_EQ(next.findChild<QLabel*>(QStringLiteral("calibrationSource"))->text(), source);

    // Typed by hand over it: the bytes no longer come from the frame.
    NdviModel typed = kept;
    typed.nir.dnWhite = 250;
    typed.red.dnDark = 3;
    next.prompts().now = [] { return kDate + 60; };
    next.setModel(typed);
    EXPECT_EQ(next.findChild<QLabel*>(QStringLiteral("calibrationSource"))->text(),
              QStringLiteral("較正元: 入力（%1）").arg(localText(kDate + 60)));
}

// calibrate's warnings for the same panel, without its "path: " prefix.
QString calibrateWarnings(const std::filesystem::path& frame, const std::filesystem::path& out)
{
    const std::string err = calibrate({frame.string(), "--white-rect", rect(kPanel), "-o", out.string()});
    QStringList lines;
    const QString prefix = QString::fromStdString(frame.string()) + QStringLiteral(": ");
    for (const QString& line : QString::fromStdString(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        lines << (line.startsWith(prefix) ? line.mid(prefix.size()) : QStringLiteral("unprefixed: ") + line);
    }
    return lines.join(QLatin1Char('\n'));
}

TEST(PanelWarning, ShowsCalibratesChecksBesideTheModelUntilUndone)
{
    struct Case {
        const char* name;
        std::function<std::pair<int, int>(int, int)> panel;
        bool warned;
    };
    const Case cases[] = {
        {"good", goodPanel, false},
        {"saturated", [](int x, int y) { return std::pair{x == 22 && y < 7 ? 255 : 240, 236}; }, true},
        {"uneven", [](int x, int y) { return std::pair{150 + 8 * (x - 20), 200 + y}; }, true},
        {"dim", [](int x, int y) { return std::pair{90 + (x + y) % 2, 140}; }, true},
        {"all", [](int x, int y) { return std::pair{x == 31 ? 255 : 40 + 5 * (x - 20), 60 + y}; }, true},
    };
    for (const Case& c : cases) {
        Calibrating v(frame(c.panel));
        v.white();
        const QString expected = calibrateWarnings(v.framePath, v.dir.path("cal.json"));
        EXPECT_EQ(v.label("panelWarnings"), expected) << c.name;
        EXPECT_EQ(!expected.isEmpty(), c.warned) << c.name << ": " << expected.toStdString();
        v.window.undoStack()->undo();
        EXPECT_EQ(v.label("panelWarnings"), QString()) << c.name;
        v.window.undoStack()->redo();
        EXPECT_EQ(v.label("panelWarnings"), expected) << c.name;
    }
}

TEST(PanelWarning, ShowsTheDarkTargetsChecksInCalibratesWordsAfterThePanels)
{
    struct Case {
        const char* name;
        std::function<std::pair<int, int>(int, int)> dark;  // NIR and red at (x, y)
        bool warned;
    };
    const Case cases[] = {
        {"target", [](int x, int y) { return std::pair{12 + (x + y) % 2, 10 + (x * y) % 2}; }, false},
        {"soil", [](int x, int y) { return std::pair{40 + 9 * ((3 * x + y) % 7), 30 + 7 * ((x + 2 * y) % 5)}; }, true},
        {"bright", [](int, int y) { return std::pair{125 + y % 2, 20}; }, true},
        {"glare", [](int x, int y) { return std::pair{x == 5 && y == 6 ? 255 : 12, 10}; }, true},
    };
    for (const Case& c : cases) {
        Picture picture = frame(goodPanel);
        for (int y = kDark.y1; y <= kDark.y2; ++y) {
            for (int x = kDark.x1; x <= kDark.x2; ++x) {
                const auto [nir, red] = c.dark(x, y);
                auto& px = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
                px.r = static_cast<std::uint8_t>(nir);
                px.g = static_cast<std::uint8_t>(red);
            }
        }
        Calibrating v(picture);
        v.white();
        v.dark();
        const std::string err = calibrate({v.framePath.string(), "--white-rect", rect(kPanel), "--dark-rect", rect(kDark), "-o",
                                           v.dir.path("cal.json").string()});
        const QString prefix = qpath(v.framePath) + QStringLiteral(": ");
        QStringList lines;
        for (const QString& line : QString::fromStdString(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            lines << (line.startsWith(prefix) ? line.mid(prefix.size()) : QStringLiteral("unprefixed: ") + line);
        }
        const QString expected = lines.join(QLatin1Char('\n'));
        EXPECT_EQ(v.label("panelWarnings"), expected) << c.name;
        EXPECT_EQ(expected.contains(QStringLiteral("暗色板")), c.warned) << c.name << ": " << expected.toStdString();
        // The fields hold the dark values with their fractions, as the file does.
        EXPECT_EQ(v.window.fieldsModel().nir.dnDark, engine::readCalibrationFile(v.dir.path("cal.json").string()).model.nir.dnDark)
            << c.name;
        // Undone, the dark target's warnings go with it; the panel's (none here) stay.
        v.window.undoStack()->undo();
        EXPECT_EQ(v.label("panelWarnings"), QString()) << c.name;
        v.window.undoStack()->redo();
        EXPECT_EQ(v.label("panelWarnings"), expected) << c.name;
        v.window.clearDarkTarget();
        EXPECT_EQ(v.label("panelWarnings"), QString()) << c.name;
    }
}

// What undo and redo restore: the fields, the dark target's mark, the source, the
// warnings and the rectangle.
struct Snapshot {
    NdviModel fields;
    QString dark, source, warnings, area;
    bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* out)
{
    *out << engine::describeModel(s.fields) << " | dark " << s.dark.toStdString() << " | " << s.source.toStdString()
         << " | " << s.warnings.toStdString() << " | area " << s.area.toStdString();
}

Snapshot snapshot(const Calibrating& v)
{
    const auto text = [](const std::optional<Rectangle>& r) { return r ? view::rectangleText(*r) : QStringLiteral("none"); };
    return {v.window.fieldsModel(), text(v.window.canvas()->darkTarget()), v.label("calibrationSource"),
            v.label("panelWarnings"), text(v.window.canvas()->selection())};
}

// Typed into a field and committed with Enter, key by key as a user does.
void type(QAbstractSpinBox* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

TEST(Undo, EachChangeIsOneStepUndoneAndRedoneByItsKeys)
{
    // The panel saturated, so that its warning comes and goes too.
    Calibrating v(frame([](int x, int y) { return std::pair{x == 22 && y < 7 ? 255 : 240, 236}; }));
    v.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v.window));
    auto* nirReflectance = v.window.findChild<QDoubleSpinBox*>(QStringLiteral("nirWhiteReflectance"));
    auto* nirWhite = v.window.findChild<QSpinBox*>(QStringLiteral("nirWhite"));
    ASSERT_TRUE(nirReflectance && nirWhite);
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"rectangle", [&] { v.window.selectArea(kPanel); }},
        {"white", [&] { v.window.applyWhitePanel(); }},
        {"reflectance", [&] { type(nirReflectance, QStringLiteral("0.92")); }},
        {"rectangle", [&] { v.window.selectArea(kDark); }},
        {"dark", [&] { v.window.applyDarkTarget(); }},
        {"white byte", [&] { type(nirWhite, QStringLiteral("250")); }},
        {"no rectangle", [&] { v.window.selectArea(std::nullopt); }},
        {"clear dark", [&] { v.window.clearDarkTarget(); }},
    };
    std::vector<Snapshot> states{snapshot(v)};
    for (const auto& [name, step] : steps) {
        step();
        states.push_back(snapshot(v));
        EXPECT_NE(states.back(), states[states.size() - 2]) << name;
        EXPECT_EQ(v.window.undoStack()->count(), static_cast<int>(states.size()) - 1) << name;
    }
    // The typed steps hold what was typed, the warning is gone with the typed white byte.
    EXPECT_EQ(states[3].fields.nir.rWhite, 0.92f);
    EXPECT_FALSE(states[5].warnings.isEmpty());
    EXPECT_EQ(states[5].dark, QStringLiteral("2,3,9,10"));
    EXPECT_EQ(states[6].fields.nir.dnWhite, 250.0f);
    EXPECT_TRUE(states[6].warnings.isEmpty());

    v.window.canvas()->setFocus();
    for (std::size_t i = states.size() - 1; i > 0; --i) {
        QTest::keyClick(&v.window, Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(snapshot(v), states[i - 1]) << "undo of " << steps[i - 1].first;
    }
    for (std::size_t i = 1; i < states.size(); ++i) {
        QTest::keyClick(&v.window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(snapshot(v), states[i]) << "redo of " << steps[i - 1].first;
    }
    EXPECT_EQ(v.window.model(), states.back().fields);
}

}  // namespace

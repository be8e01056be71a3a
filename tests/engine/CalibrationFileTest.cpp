// The calibration file: what it holds read back exactly, what later versions may add
// skipped, and every bad file refused with the file named and the fault said.

#include "engine/calibration/CalibrationFile.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using engine::CalibrationFileError;
using engine::CalibrationRecord;
using engine::parseCalibration;

CalibrationRecord fullRecord()
{
    CalibrationRecord r;
    r.model.nir = {243, 0.92f, 12, 0.03f};
    r.model.red = {238, 0.9f, 9, 0.021f};
    r.source.frame = "/data/2026-05-14/panel 01.bmp";
    r.source.whiteRect = engine::Rectangle{10, 20, 40, 50};
    r.source.whiteFrom = engine::WhiteFrom::Percentile99;
    r.source.darkRect = engine::Rectangle{100, 0, 120, 9};
    r.source.date = "2026-05-14T09:30:00Z";
    return r;
}

// Made through a flat-field: the corrected values keep their fractions, and may pass 255.
CalibrationRecord correctedRecord()
{
    CalibrationRecord r = fullRecord();
    r.model.nir = {219.35568f, 0.92f, 19.773582f, 0.03f};
    r.model.red = {301.5f, 0.9f, 12, 0.021f};
    r.source.flatfield = "/data/flat/ff.tif";
    return r;
}

// The model's floats bit for bit (== would take -0 for 0).
void expectSameBits(const engine::NdviModel& a, const engine::NdviModel& b)
{
    const auto bits = [](const engine::BandCalibration& c) {
        return std::array{std::bit_cast<std::uint32_t>(c.dnWhite), std::bit_cast<std::uint32_t>(c.rWhite),
                          std::bit_cast<std::uint32_t>(c.dnDark), std::bit_cast<std::uint32_t>(c.rDark)};
    };
    EXPECT_EQ(bits(a.nir), bits(b.nir));
    EXPECT_EQ(bits(a.red), bits(b.red));
}

TEST(CalibrationFile, WrittenThroughTheOutputPathAndReadBackExactly)
{
    const testing_support::TempDir dir;
    const std::string path = dir.path("panel.json").string();
    for (CalibrationRecord record : {fullRecord(), CalibrationRecord{}, correctedRecord()}) {
        engine::writeCalibrationFile(path, record);
        const CalibrationRecord back = engine::readCalibrationFile(path);
        EXPECT_EQ(back, record);
        expectSameBits(back.model, record.model);
    }
    // Nothing left beside it: written under a temporary name and placed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.dir()), {}), 1);
    // A reader that knows JSON only finds the numbers where a person would look.
    const std::string text = engine::calibrationText(fullRecord());
    for (const char* line : {"  \"version\": 1,\n",
                             "  \"nir\": {\"white\":243,\"white_reflectance\":0.92,\"dark\":12,\"dark_reflectance\":0.03},\n",
                             "    \"white_rect\": [10,20,40,50],\n", "    \"white_from\": \"p99\",\n",
                             "    \"date\": \"2026-05-14T09:30:00Z\"\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

TEST(CalibrationFile, KeysItDoesNotKnowAndALeftOutSourceAreFine)
{
    const CalibrationRecord r = parseCalibration(R"({
        "format": "zrvimage-calibration", "version": 2, "camera": {"serial": "Z-118"},
        "nir": {"white": 243, "white_reflectance": 0.920, "dark": 0, "dark_reflectance": 0, "temperature": 21.5},
        "red": {"dark_reflectance": 0.02, "dark": 9, "white_reflectance": 9e-1, "white": 238}
    })",
                                                 "hand.json");
    engine::NdviModel expected;
    expected.nir = {243, 0.92f, 0, 0};
    expected.red = {238, 0.9f, 9, 0.02f};
    expectSameBits(r.model, expected);
    EXPECT_EQ(r.source, engine::CalibrationSource{});
}

TEST(CalibrationFile, BadFilesAreRefusedNamingTheFileAndTheFault)
{
    const std::string good = R"("format": "zrvimage-calibration", "version": 1,
        "nir": {"white": 243, "white_reflectance": 0.92, "dark": 12, "dark_reflectance": 0.03})";
    const std::string red = R"(, "red": {"white": 238, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0.02})";
    const auto withRed = [&](const std::string& band) { return "{" + good + ", \"red\": " + band + "}"; };
    const auto withSource = [&](const std::string& source) { return "{" + good + red + ", \"source\": " + source + "}"; };
    const struct {
        std::string text;
        std::string problem;
    } cases[] = {
        {"", "較正ファイルが JSON として正しくありません（1 行目）"},
        {"{" + good + red + ",\n}", "較正ファイルが JSON として正しくありません（3 行目）"},
        {"[1, 2]", "較正ファイルではありません（JSON のオブジェクトではありません）"},
        {R"({"format": "zrvimage-regions", "version": 1})", "較正ファイルではありません（format が zrvimage-calibration ではありません）"},
        {R"({"version": 1})", "較正ファイルに format がありません"},
        {"{" + good.substr(0, good.find(R"("version")")) + R"("nir": {}})", "較正ファイルに version がありません"},
        {"{" + good + "}", "較正ファイルに red がありません"},
        {withRed("238"), "較正ファイルの red はオブジェクトでなければなりません"},
        {withRed(R"({"white": 238, "white_reflectance": 0.9, "dark": 9})"), "較正ファイルに red.dark_reflectance がありません"},
        {withRed(R"({"white": 256, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white (256) は 1 から 255 の範囲にありません"},
        {withRed(R"({"white": 0, "white_reflectance": 0.9, "dark": 0, "dark_reflectance": 0})"),
         "較正ファイルの red.white (0) は 1 から 255 の範囲にありません"},
        {withRed(R"({"white": 18446744073709551615, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white (18446744073709551615) は 1 から 255 の範囲にありません"},
        {withRed(R"({"white": 238.5, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white は整数でなければなりません"},
        {withRed(R"({"white": "238", "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white は整数でなければなりません"},
        {withRed(R"({"white": 238, "white_reflectance": 0.9, "dark": -1, "dark_reflectance": 0})"),
         "較正ファイルの red.dark (-1) は 0 から 254 の範囲にありません"},
        {withRed(R"({"white": 238, "white_reflectance": 1.5, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white_reflectance (1.5) は 0 から 1 の範囲にありません"},
        {withRed(R"({"white": 238, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": -0.01})"),
         "較正ファイルの red.dark_reflectance (-0.01) は 0 から 1 の範囲にありません"},
        {withRed(R"({"white": 238, "white_reflectance": 1e99, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルに大きすぎる数値があります"},
        {withRed(R"({"white": 238, "white_reflectance": null, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの red.white_reflectance は数値でなければなりません"},
        {withRed(R"({"white": 9, "white_reflectance": 0.9, "dark": 9, "dark_reflectance": 0})"),
         "較正ファイルの値が正しくありません: Red: 白色板の値 (9) は暗色板の値 (9) より大きくなければなりません"},
        {withRed(R"({"white": 238, "white_reflectance": 0.02, "dark": 9, "dark_reflectance": 0.02})"),
         "較正ファイルの値が正しくありません: Red: 白色板の反射率は暗色板の反射率より大きくなければなりません"},
        {withSource("[]"), "較正ファイルの source はオブジェクトでなければなりません"},
        {withSource(R"({"frame": 7})"), "較正ファイルの source.frame は文字列でなければなりません"},
        {withSource(R"({"white_rect": [1, 2, 3]})"), "較正ファイルの source.white_rect は [X1, Y1, X2, Y2] の形でなければなりません"},
        {withSource(R"({"dark_rect": [5, 2, 3, 4]})"), "較正ファイルの source.dark_rect の矩形が逆向きです"},
        {withSource(R"({"white_rect": [-1, 2, 3, 4]})"), "較正ファイルの source.white_rect (-1) は 0 から 2147483647 の範囲にありません"},
        {withSource(R"({"white_from": "median"})"), "較正ファイルの source.white_from (\"median\") は max、mean、p99 のいずれかでなければなりません"},
    };
    for (const auto& c : cases) {
        try {
            parseCalibration(c.text, "/calibrations/bad.json");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const CalibrationFileError& e) {
            EXPECT_EQ(e.problem(), c.problem) << c.text;
            EXPECT_EQ(std::string(e.what()), c.problem + "\n/calibrations/bad.json");
        }
    }
}

TEST(CalibrationFile, FilesThatCannotBeReadAreRefusedNamingTheFile)
{
    const testing_support::TempDir dir;
    const auto big = dir.path("big.json");
    std::filesystem::resize_file((std::ofstream(big), big), engine::kMaxCalibrationBytes + 1);
    const struct {
        std::string path;
        std::string problem;
    } cases[] = {
        {dir.path("missing.json").string(), "較正ファイルを開けません"},
        {dir.dir().string(), "較正ファイルを開けません"},
        {big.string(), "較正ファイルが大きすぎます（1 MiB まで）"},
        {"/dev/zero", "較正ファイルが大きすぎます（1 MiB まで）"},
    };
    for (const auto& c : cases) {
        try {
            engine::readCalibrationFile(c.path);
            ADD_FAILURE() << "read: " << c.path;
        } catch (const CalibrationFileError& e) {
            EXPECT_EQ(std::string(e.what()), c.problem + "\n" + c.path);
        }
    }
}

TEST(CalibrationFile, DatesAreIso8601InUtc)
{
    EXPECT_EQ(engine::isoDateUtc(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(engine::isoDateUtc(1778751000), "2026-05-14T09:30:00Z");
}

}  // namespace

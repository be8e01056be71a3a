// Writes the fuzz targets' starting corpus: valid pictures of odd sizes, every bit
// depth, truncated headers and rows, and headers with sizes no picture has, each
// paired with field texts for the operations that read fields.
//
//   zrv_fuzz_seeds <folder>   writes <folder>/<target>/seed-NNN for every target

#include "BmpFixture.h"
#include "FuzzHarness.h"
#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "engine/season/Regions.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using fuzzing::Bytes;
using testing_support::asymmetricPicture;
using testing_support::bmpHeader;
using testing_support::encodeBmp;
using Fields = std::vector<std::string>;
namespace fs = std::filesystem;

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(std::min(size, bytes.size()));
    return bytes;
}

Bytes withPixels(Bytes header, std::size_t pixelBytes)
{
    for (std::size_t i = 0; i < pixelBytes; ++i) header.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    return header;
}

std::vector<Bytes> pictures()
{
    std::vector<Bytes> all;
    const int sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {4, 1}, {5, 4}, {6, 5}, {7, 3}, {1, 9}, {2049, 2}, {2048, 1}};
    for (const auto& s : sizes) all.push_back(encodeBmp(asymmetricPicture(s[0], s[1])));

    const Bytes small = encodeBmp(asymmetricPicture(6, 5));
    for (const std::uint16_t bits : {0, 1, 4, 8, 16, 32, 48, 0x1824}) all.push_back(encodeBmp(asymmetricPicture(6, 5), bits));
    // Truncated inside the header, at each value it holds, and inside the rows.
    for (const std::size_t size : {0, 1, 10, 18, 20, 22, 25, 26, 28, 29, 30, 53, 54, 55, 61, 78, 54 + 24 * 4 + 3}) {
        all.push_back(cut(small, size));
    }
    // Sizes no picture has, with a few rows of bytes or none.
    const int sizesOnly[][2] = {{6, 0}, {6, -5}, {0, 5}, {-1, 5}, {-2, 5}, {-3, 5}, {6, INT32_MAX}, {6, INT32_MIN},
                                {INT32_MIN, 5}, {INT32_MAX, 1}, {1'000'000, 1}, {1'000'001, 1}, {40001, 1}};
    for (const auto& s : sizesOnly) all.push_back(withPixels(bmpHeader(s[0], s[1], 24), 60));
    // Pixels announced further on than byte 54, as with a palette.
    Bytes shifted = small;
    shifted[10] = 58;
    shifted.insert(shifted.begin() + 54, {0xA1, 0xA2, 0xA3, 0xA4});
    all.push_back(shifted);
    // Other writers' layouts: newer info headers, gaps, top-down rows, a last row
    // without its padding.
    using testing_support::BmpLayout;
    for (const BmpLayout& layout : {BmpLayout{24, 108, 0}, BmpLayout{24, 124, 0}, BmpLayout{24, 124, 7},
                                    BmpLayout{24, 40, 0, true}, BmpLayout{24, 124, 2, true}, BmpLayout{24, 40, 0, false, true}}) {
        all.push_back(encodeBmp(asymmetricPicture(7, 3), layout));
    }
    return all;
}

void writeSeed(const fs::path& folder, int& number, const Bytes& bytes)
{
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03d", number++);
    testing_support::writeFile(folder / name, bytes);
}

void writeTarget(const fs::path& root, const char* target, const std::vector<Fields>& fieldSets)
{
    const fs::path folder = root / target;
    fs::create_directories(folder);
    int number = 0;
    const std::vector<Bytes> all = pictures();
    // Every picture with the first field set; one small picture with each of the others.
    for (const Bytes& picture : all) writeSeed(folder, number, fuzzing::join(fieldSets.at(0), picture));
    for (std::size_t i = 1; i < fieldSets.size(); ++i) writeSeed(folder, number, fuzzing::join(fieldSets[i], all[5]));
}

void writeTexts(const fs::path& root, const char* target, const std::vector<std::string>& texts)
{
    const fs::path folder = root / target;
    fs::create_directories(folder);
    int number = 0;
    for (const std::string& text : texts) writeSeed(folder, number, Bytes(text.begin(), text.end()));
}

// The files and texts a user writes: good ones as the program writes them, and a few
// that are nearly so.
void writeUserTexts(const fs::path& root)
{
    engine::RegionSet regions;
    regions.regions.push_back({"A1", engine::RegionRole::Plot, {0, 0, 9, 4}, {}});
    regions.regions.push_back({"三角", engine::RegionRole::Plot, {}, {{0.5, 0.5}, {20, 3}, {7.25, 15}}});
    regions.regions.push_back({"panel", engine::RegionRole::White, {30, 30, 40, 40}, {}});
    regions.regions.push_back({"dark", engine::RegionRole::Dark, {50, 0, 60, 5}, {}});
    const std::string json = engine::regionsJson(regions);
    writeTexts(root, "regions",
               {json, R"({"regions": []})", R"({"regions": [{"name": "a", "rect": [0, 0, 2147483647, 2147483647]}]})",
                R"({"regions": [{"name": "p", "polygon": [[0,0],[16777216,0],[0,16777216]]}]})",
                R"({"regions": [{"name": "p", "polygon": [[0,0],[1e300,0],[0,1]]}]})", json.substr(0, json.size() / 2)});

    engine::CalibrationRecord record;
    record.model.nir = {243, 0.92f, 12, 0.03f};
    record.model.red = {238, 0.9f, 9, 0.021f};
    record.source.frame = "/data/panel 01.bmp";
    record.source.whiteRect = engine::Rectangle{10, 20, 40, 50};
    record.source.darkRect = engine::Rectangle{100, 0, 120, 9};
    record.source.date = "2026-05-14T09:30:00Z";
    engine::CalibrationRecord corrected = record;
    corrected.model.nir = {219.35568f, 0.92f, 19.773582f, 0.03f};
    corrected.source.flatfield = "/data/flat/ff.tif";
    const std::string cal = engine::calibrationText(record);
    writeTexts(root, "calibration", {cal, engine::calibrationText(corrected), engine::calibrationText({}),
                                     R"({"format": "zrvimage-calibration", "version": 1})", cal.substr(0, cal.size() / 2)});

    const fs::path times = root / "timepattern";
    fs::create_directories(times);
    int number = 0;
    const std::pair<const char*, const char*> pairs[] = {
        {"name:%Y%m%d_%H%M%S", "20260514_093000.bmp"}, {"name:IMG_%Y-%m-%d", "IMG_2024-02-29.bmp"},
        {"name:%d.%m.%Y %H%%", "31.12.1999 23%.bmp"},  {"name:%Y%m%d", "20230229.bmp"},
        {"mtime", "a.bmp"},                            {"name:%Y%m", "202605.bmp"},
    };
    for (const auto& [text, name] : pairs) {
        const std::string n = name;
        writeSeed(times, number, fuzzing::join({text}, Bytes(n.begin(), n.end())));
    }

    engine::FlatFieldModel flat{400, 300, {224, 165, -0.61, 0.12, -0.02, 1, 3.5f, 31.5, 0.4},
                                {180, 141, -0.4, 0.05, 0, 1, 2.25f, 22, 0.3}};
    const std::string description = engine::flatFieldDescription(flat);
    writeTexts(root, "flatfield", {description, engine::flatFieldDescription({1'000'000, 1, {500000, 0, 0, 0, 0, 1, 0}, {500000, 0, 0, 0, 0, 1, 0}}),
                                   description.substr(0, description.size() / 2), "zrvimage-flatfield 1\nsize 1 1\n"});
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    writeTarget(root, "probe", {{}});
    writeTarget(root, "crop", {{}});
    writeTarget(root, "maxima", {{"0", "0", "99999", "99999"}, {"0", "0", "0", "0"}, {"1", "1", "4", "3"},
                                 {"-5", "-5", "-1", "-1"}, {"150", "0", "300", "1"}, {"$1", "x1", "0X4", " 3"},
                                 {"1", "0", "0", "0"}, {"0", "1", "0", "0"}, {"a", "0", "0", "0"}, {"0", "0", "0", "4 "}});
    writeTarget(root, "ndvi", {{"255", "255"}, {"100", "100"}, {"0", "255"}, {"255", "0"}, {"-255", "255"},
                               {"$FF", "1"}, {"2147483647", "-2147483648"}, {"abc", "1"}, {"1", ""}});

    writeUserTexts(root);

    const fs::path texts = root / "strtoint";
    fs::create_directories(texts);
    int number = 0;
    for (const std::string text : {"0", "-0", "+7", "  42", "\t1", "2147483647", "2147483648", "-2147483648",
                                   "-2147483649", "$FFFFFFFF", "-$80000000", "0x7fffffff", "X123456789", "x00000000001",
                                   "0x", "$", "", " ", "1 ", "1.5", "1,5", "０", "--1", "+-1", "007", "0X0g"}) {
        writeSeed(texts, number, Bytes(text.begin(), text.end()));
    }
    return 0;
}

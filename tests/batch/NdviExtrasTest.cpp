// What the batch adds to the NDVI raster: the ENVI header, the colour preview, the
// statistics, and the JSON lines.

#include "BatchRun.h"
#include "NdviOracle.h"
#include "ReadBack.h"

#include "batch/NdviPreview.h"
#include "batch/Report.h"
#include "engine/ops/Kernels.h"
#include "engine/ops/NdviColours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <utility>
#include <vector>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::Picture;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// 4 x 2 pixels (blue, green = visible red, red = NIR) whose NDVI with both white
// values 255 is known: the marker, -1, +1, 1/3 on top; -1/3, 0, the marker, 0 below.
// The rows' means differ, as a row-by-row accumulation must allow for.
Picture knownPicture()
{
    return {4, 2, {{0, 0, 0}, {9, 50, 0}, {9, 0, 50}, {9, 100, 200}, {9, 200, 100}, {9, 100, 100}, {0, 0, 0}, {255, 255, 255}}};
}

const float kThird = testing_support::oracleNdvi(200, 100, 255.0f, 255.0f);  // 1/3 as the raster holds it

std::vector<Json> jsonLines(const std::string& out)
{
    std::vector<Json> objects;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        Json line = parseJson(out.substr(start, end - start));
        EXPECT_TRUE(line.is_object()) << out.substr(start, end - start);
        objects.push_back(line.is_object() ? std::move(line) : Json::object());
    }
    EXPECT_EQ(start, out.size()) << "every line ends with a line feed";
    return objects;
}

// A member of a JSON object, null when it is missing.
Json field(const Json& object, const char* key)
{
    return object.contains(key) ? object[key] : Json();
}

std::string text(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

struct NdviFolder {
    TempDir dir;
    std::string run(const std::string& picture, const Picture& p, std::vector<std::string> options,
                    const testing_support::BmpLayout& layout = {})
    {
        writeFile(dir.path(picture), encodeBmp(p, layout));
        std::vector<std::string> args{"ndvi", dir.path(picture).string(), "--nir-white", "255", "--red-white", "255"};
        args.insert(args.end(), options.begin(), options.end());
        const BatchResult result = runBatch(args);
        EXPECT_EQ(result.status, batch::kAllSucceeded) << result.err;
        EXPECT_EQ(result.err, "");
        return result.out;
    }
};

TEST(EnviHeader, DescribesTheRawFileBesideItWhateverTheRowOrder)
{
    for (const bool topDown : {false, true}) {
        NdviFolder folder;
        const std::string out = folder.run("frame.bmp", asymmetricPicture(6, 5),
                                           {"-o", folder.dir.path("ndvi.raw").string(), "--envi-header"},
                                           {.infoSize = 124, .topDown = topDown});
        EXPECT_EQ(out, "");
        EXPECT_EQ(text(readFile(folder.dir.path("ndvi.hdr"))),
                  "ENVI\ndescription = {NDVI, NIR: 白色板 255 (反射率 1); Red: 白色板 255 (反射率 1)}\n"
                  "samples = 6\nlines = 5\nbands = 1\nheader offset = 0\ndata type = 4\ninterleave = bsq\n"
                  "byte order = 0\nband names = {NDVI}\ndata ignore value = -10\n")
            << "top-down: " << topDown;
    }
}

// The preview is coloured from the rows as the raster is made; a top-down picture
// shows whether they land the right way up.
TEST(Preview, MapsNdviToColoursWithTheMarkerTransparentAndAColourBarBelow)
{
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        NdviFolder folder;
        const auto png = folder.dir.path("preview.png");
        folder.run("frame.bmp", knownPicture(), {"-o", folder.dir.path("ndvi.raw").string(), "--preview", png.string()},
                   {.topDown = topDown});

        const DecodedPng image = decodePng(readFile(png));
        ASSERT_TRUE(image.decoded);
        EXPECT_EQ(image.width, 4);
        EXPECT_EQ(image.height, 2 + batch::kColourBarGap + 4);
        EXPECT_TRUE(image.hasAlpha);

        const Rgba transparent{0, 0, 0, 0};
        const Rgba red{165, 0, 38, 255};
        const Rgba yellow{255, 255, 191, 255};
        const Rgba green{0, 104, 55, 255};
        const struct {
            int x, y;
            Rgba colour;
        } pixels[] = {
            {0, 0, transparent}, {1, 0, red}, {2, 0, green}, {1, 1, yellow}, {2, 1, transparent}, {3, 1, yellow},
            {0, 2, transparent}, {3, 3, transparent},  // the gap
            {0, 4, red}, {3, 4, green}, {0, 7, red}, {3, 7, green},  // the bar, -1 to +1
        };
        for (const auto& p : pixels) {
            const Rgba actual = image.at(p.x, p.y);
            EXPECT_EQ(actual.a, p.colour.a) << p.x << "," << p.y;
            if (p.colour.a != 0) {
                EXPECT_EQ(actual, p.colour) << p.x << "," << p.y;
            }
        }
    }
}

// The PNG's palette holds the engine's ramp in steps of 1/127, the marker last.
TEST(Preview, PaletteEntryIsTheNearestStepOfTheRampAndClampsBeyondOne)
{
    const struct {
        float value;
        int index;
    } entries[] = {{-3.0f, 0}, {-1.0f, 0}, {0.0f, 127}, {0.1f, 140}, {-0.1f, 114}, {1.0f, 254}, {7.0f, 254}, {-10.0f, 255}};
    for (const auto& e : entries) EXPECT_EQ(batch::paletteIndex(e.value), e.index) << e.value;
}

// The encoder alone, decoded again, pixel by pixel: sizes with one column, one row and
// rows that differ from the one above, as each row is stored against its neighbour.
TEST(Preview, DecodesToTheRampsColoursTheMarkerTransparentAndTheBar)
{
    const auto valueAt = [](int x, int y) {
        if ((x * 7 + y * 3) % 11 == 0) return engine::kNdviMarker;
        return -1.25f + static_cast<float>((x * 13 + y * 29) % 101) / 40.0f;  // -1.25 .. +1.25
    };
    const auto rgba = [](float value) {
        const std::uint8_t index = batch::paletteIndex(value);
        if (index == engine::kRampEntries) return Rgba{0, 0, 0, 0};
        const engine::Rgb c = engine::redYellowGreenRamp()[index];
        return Rgba{c.r, c.g, c.b, 255};
    };
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{9, 1}, std::pair{1, 7}, std::pair{37, 90}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        batch::NdviPreview preview(width, height);
        ASSERT_TRUE(preview.valid());
        std::vector<float> row(static_cast<std::size_t>(width));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) row[static_cast<std::size_t>(x)] = valueAt(x, y);
            preview.setRow(y, row.data());
        }
        std::vector<std::uint8_t> png;
        ASSERT_TRUE(preview.encode([&png](const std::uint8_t* bytes, std::size_t count) {
            png.insert(png.end(), bytes, bytes + count);
            return true;
        }));
        const DecodedPng image = decodePng(png);
        ASSERT_TRUE(image.decoded);
        const int bar = batch::colourBarHeight(height);
        ASSERT_EQ(image.width, width);
        ASSERT_EQ(image.height, height + batch::kColourBarGap + bar);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < width; ++x) {
                Rgba expected{0, 0, 0, 0};  // the gap
                if (y < height) {
                    expected = rgba(valueAt(x, y));
                } else if (y >= height + batch::kColourBarGap) {
                    expected = rgba(width > 1 ? -1.0f + 2.0f * static_cast<float>(x) / static_cast<float>(width - 1) : 0.0f);
                }
                const Rgba actual = image.at(x, y);
                ASSERT_EQ(actual.a, expected.a) << x << "," << y;
                if (expected.a != 0) {
                    ASSERT_EQ(actual, expected) << x << "," << y;
                }
            }
        }
    }
}

// However libpng's writing fails, at whichever of its writes, the encoder reports it
// and returns: no crash, no exception through libpng, nothing taken for a PNG.
TEST(Preview, ARefusedOrThrowingWriteFailsTheEncoding)
{
    batch::NdviPreview preview(300, 200);
    ASSERT_TRUE(preview.valid());
    int calls = 0;
    ASSERT_TRUE(preview.encode([&](const std::uint8_t*, std::size_t) { return ++calls > 0; }));
    ASSERT_GT(calls, 3);  // signature, chunks, end: every one of them fails in turn below
    for (int failing = 1; failing <= calls; ++failing) {
        for (const bool throws : {false, true}) {
            int call = 0;
            const bool encoded = preview.encode([&](const std::uint8_t*, std::size_t) {
                if (++call < failing) return true;
                if (throws) throw std::bad_alloc();
                return false;
            });
            EXPECT_FALSE(encoded) << "write " << failing << (throws ? ", throwing" : "");
            EXPECT_EQ(call, failing) << "nothing is written after the failure";
        }
    }
}

TEST(Statistics, CountMarkersAndDescribeTheOtherValues)
{
    NdviFolder folder;
    const std::string in = folder.dir.path("frame.bmp").string();
    const std::string raw = folder.dir.path("frame.raw").string();
    const std::string out = folder.run("frame.bmp", knownPicture(), {"-o", raw, "--stats"});

    // Values -1, +1, 0, 0, 1/3, -1/3 besides two markers.
    const std::string start = in + "\tmarkers=2\tmin=-1\tmax=1\tmean=0\tstddev=";
    const std::string end = "\thistogram=1,0,0,0,0,0,1,0,0,0,2,0,0,1,0,0,0,0,0,1\tmodel=nir:255,1,0,0;red:255,1,0,0\n";
    ASSERT_TRUE(out.starts_with(start) && out.ends_with(end)) << out;
    const double stddev = std::stod(out.substr(start.size(), out.size() - start.size() - end.size()));
    EXPECT_NEAR(stddev, std::sqrt((2.0 + 2.0 * kThird * kThird) / 6.0), 1e-15);

    const std::string json = folder.run("frame.bmp", knownPicture(), {"-o", raw, "--force", "--stats", "--json"});
    const auto lines = jsonLines(json);
    ASSERT_EQ(lines.size(), 1u);
    const Json& o = lines[0];
    EXPECT_EQ(field(o, "path"), in);
    EXPECT_EQ(field(o, "output"), raw);
    EXPECT_EQ(field(o, "width"), 4);
    EXPECT_EQ(field(o, "height"), 2);
    EXPECT_EQ(field(o, "markers"), 2);
    EXPECT_EQ(field(o, "min"), -1.0);
    EXPECT_EQ(field(o, "max"), 1.0);
    EXPECT_EQ(field(o, "mean"), 0.0);
    EXPECT_NEAR(field(o, "stddev").get<double>(), stddev, 1e-15);
    const Json histogram = field(o, "histogram");
    ASSERT_EQ(histogram.size(), 20u);
    for (int bin : {0, 6, 13, 19}) EXPECT_EQ(histogram[bin], 1) << bin;
    EXPECT_EQ(histogram[10], 2);
}

TEST(Statistics, PictureOfMarkersOnlyHasNoValuesToDescribe)
{
    NdviFolder folder;
    const Picture black{3, 1, {{7, 0, 0}, {7, 0, 0}, {7, 0, 0}}};
    const std::string in = folder.dir.path("black.bmp").string();
    const std::string out = folder.run("black.bmp", black, {"--out-dir", folder.dir.path("out").string(), "--stats"});
    EXPECT_EQ(out, in + "\tmarkers=3\tmin=-\tmax=-\tmean=-\tstddev=-\thistogram=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"
                        "\tmodel=nir:255,1,0,0;red:255,1,0,0\n");

    const auto lines = jsonLines(
        folder.run("black.bmp", black, {"--out-dir", folder.dir.path("out").string(), "--stats", "--json", "--force"}));
    ASSERT_EQ(lines.size(), 1u);
    for (const char* key : {"min", "max", "mean", "stddev"}) {
        EXPECT_TRUE(lines[0].contains(key) && lines[0][key].is_null()) << key;
    }
}

TEST(Json, OneObjectPerFileInInputOrderWithEveryPathEscaped)
{
    TempDir dir;
    std::vector<std::string> inputs;
    std::vector<std::string> args{"maxima", "--rect", "0,0,99,99", "--json", "-j", "3"};
#ifdef _WIN32
    // No quotes or control characters in names there; every path has backslashes.
    const char* names[] = {"plain.bmp", "it's {a} [name] é.bmp", "日本語.bmp"};
#else
    const char* names[] = {"plain.bmp", "quote\"back\\slash.bmp", "tab\tname.bmp", "日本語.bmp"};
#endif
    for (const char* name : names) {
        inputs.push_back(u8(dir.path(name)));
        writeFile(dir.path(name), encodeBmp(asymmetricPicture(3 + static_cast<int>(inputs.size()), 4)));
        args.push_back(inputs.back());
    }
    const BatchResult result = runBatch(args);
    ASSERT_EQ(result.status, batch::kAllSucceeded) << result.err;
    const auto lines = jsonLines(result.out);
    ASSERT_EQ(lines.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto expected = windowMaxima(engine::platform::pathOf(inputs[i]), {"0", "0", "99", "99"});
        ASSERT_EQ(keysOf(lines[i]), (std::vector<std::string>{"blue", "green", "path", "red"}));
        EXPECT_EQ(field(lines[i], "path"), inputs[i]);
        EXPECT_EQ(lines[i]["red"].dump(), expected[0]);
        EXPECT_EQ(lines[i]["green"].dump(), expected[1]);
        EXPECT_EQ(lines[i]["blue"].dump(), expected[2]);
    }
}

TEST(Json, BytesThatAreNotUtf8BecomeOneReplacementCharacterPerMaximalIllFormedPart)
{
    const struct {
        std::string text;
        std::string literal;
    } cases[] = {
        {"日本語 é", "\"日本語 é\""},                        // well-formed: as it is
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},      // four bytes, U+1F600
        {"b\xE9.bmp", "\"b\\ufffd.bmp\""},                 // Latin-1 é
        {"\x82\xA0.bmp", "\"\\ufffd\\ufffd.bmp\""},        // Shift_JIS あ: two stray bytes
        {"\xE3\x81" "A", "\"\\ufffdA\""},                  // cut short: one for both bytes
        {"\xE3\x81", "\"\\ufffd\""},                       // cut short by the end
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                // overlong
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},     // a surrogate
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
        {"\xFF\"\x01", "\"\\ufffd\\\"\\u0001\""},
    };
    for (const auto& c : cases) EXPECT_EQ(batch::jsonString(c.text), c.literal) << c.literal;
}

TEST(Json, FileNamesThatAreNotUtf8StillGiveValidJsonLines)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows names files in UTF-16: every name reaches the batch as UTF-8";
#endif
    TempDir dir;
    const std::string latin1 = dir.path("b\xE9.bmp").string();  // how a Latin-1 system names "bé.bmp"
    const std::string sjis = dir.path("\x82\xA0.bmp").string(); // and a Shift_JIS one "あ.bmp"
    for (const auto& path : {latin1, sjis}) writeFile(path, encodeBmp(asymmetricPicture()));

    const BatchResult maxima = runBatch({"maxima", latin1, sjis, "--rect", "0,0,9,9", "--json"});
    ASSERT_EQ(maxima.status, batch::kAllSucceeded) << maxima.err;
    const BatchResult ndvi = runBatch({"ndvi", latin1, sjis, "--nir-white", "255", "--red-white", "255", "--out-dir",
                                       dir.path("out").string(), "--json"});
    ASSERT_EQ(ndvi.status, batch::kAllSucceeded) << ndvi.err;

    const std::string d = dir.dir().string();
    const std::string fffd = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
    for (const auto& out : {maxima.out, ndvi.out}) {
        EXPECT_TRUE(isValidUtf8(out)) << out;
        const auto lines = jsonLines(out);
        ASSERT_EQ(lines.size(), 2u) << out;
        EXPECT_EQ(field(lines[0], "path"), d + "/b" + fffd + ".bmp");
        EXPECT_EQ(field(lines[1], "path"), d + "/" + fffd + fffd + ".bmp");
    }
    EXPECT_EQ(field(jsonLines(ndvi.out)[0], "output"), d + "/out/b" + fffd + ".raw");
}

}  // namespace

// zrv_view_marker_season FOLDER: a made-up season of four frames taken by hand over a
// field with four AprilTags (tag36h11, ids 0 to 3) pegged at its corners and the white
// panel's card carrying tag 7, each visit from a slightly different place, the last
// with three field tags covered; and regions.json, its plots anchored to the first
// frame's tags. For screenshots of the viewer following markers; deterministic.
#include "engine/formats/PictureReader.h"
#include "engine/output/OutputPath.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1200, kHeight = 900;
constexpr double kCell = 10;  // pixels a cell of a printed tag, on the reference frame

struct Tag {
    int id;
    double x, y;  // the top-left of its white margin
    bool onCard;
};
constexpr Tag kTags[] = {{0, 50, 50, false}, {1, 1050, 50, false}, {2, 1050, 750, false}, {3, 50, 750, false},
                         {7, 480, 40, true}};

struct Visit {
    const char* name;
    double degrees, dx, dy;  // the camera's turn about the frame's centre and its move
    double cardX, cardY;     // where the panel's card was laid this time
    std::set<int> covered;
    int growth;
};

struct Bgr {
    std::uint8_t b, g, r;
};

std::uint8_t clampByte(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

// The scene at (x, y): soil, crop rows that grow from visit to visit, a stressed patch,
// the panel's card with its white square, and the tags.
Bgr scene(double x, double y, const Visit& v)
{
    const double noise = std::fmod(std::fabs(std::sin(x * 12.9898 + y * 78.233) * 43758.5453), 1.0) * 10 - 5;
    Bgr px{40, clampByte(75 + noise), clampByte(95 + noise)};
    const bool row = std::fmod(y, 60) < 38 && y > 220 && y < 700 && x > 200 && x < 1000;
    if (row) {
        const bool stressed = x > 740 && y > 300 && y < 480;
        const bool late = x < 470;  // sown later: lower at first, growing faster
        px = stressed ? Bgr{30, clampByte(62 + noise), clampByte(140 + 8 * v.growth + noise)}
             : late   ? Bgr{25, clampByte(58 - 4 * v.growth + noise), clampByte(135 + 25 * v.growth + noise)}
                      : Bgr{25, clampByte(45 - 2 * v.growth + noise), clampByte(170 + 14 * v.growth + noise)};
    }
    // The card: white paper round the tag and the panel beside it.
    const double cx = x - v.cardX, cy = y - v.cardY;
    if (cx >= 0 && cx < 240 && cy >= 0 && cy < 100) px = {200, 225, 232};
    if (cx >= 120 && cx < 220 && cy >= 10 && cy < 90) px = {236, 238, 243};
    for (const Tag& t : kTags) {
        if (v.covered.count(t.id)) continue;
        static const int side = engine::tagPattern(0).side;
        const double tx = t.onCard ? t.x + v.cardX - 480 : t.x, ty = t.onCard ? t.y + v.cardY - 40 : t.y;
        const double u = (x - tx) / kCell, w = (y - ty) / kCell;
        if (u < 0 || w < 0 || u >= side || w >= side) continue;
        const engine::TagPattern pattern = engine::tagPattern(t.id);
        const bool black = pattern.black[static_cast<std::size_t>(static_cast<int>(w) * side + static_cast<int>(u))];
        px = black ? Bgr{12, 14, 16} : Bgr{236, 238, 243};
    }
    return px;
}

// The visit's frame, each pixel's centre taken back through the camera's move.
std::vector<std::uint8_t> frameBmp(const Visit& v)
{
    const double a = v.degrees * 3.14159265358979323846 / 180, c = std::cos(a), s = std::sin(a);
    const std::uint32_t stride = (kWidth * 3 + 3) & ~3u, pixels = stride * kHeight;
    std::vector<std::uint8_t> out(54 + pixels, 0);
    const auto put32 = [&out](std::size_t at, std::uint32_t value) {
        for (int k = 0; k < 4; ++k) out[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
    };
    out[0] = 'B', out[1] = 'M';
    put32(2, 54 + pixels), put32(10, 54), put32(14, 40), put32(18, kWidth), put32(22, kHeight);
    out[26] = 1, out[28] = 24;
    put32(34, pixels);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = out.data() + 54 + static_cast<std::size_t>(kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const double u = x + 0.5 - v.dx - kWidth / 2.0, w = y + 0.5 - v.dy - kHeight / 2.0;
            const Bgr px = scene(c * u + s * w + kWidth / 2.0, -s * u + c * w + kHeight / 2.0, v);
            row[3 * x] = px.b, row[3 * x + 1] = px.g, row[3 * x + 2] = px.r;
        }
    }
    return out;
}

engine::Region rect(const char* name, engine::Rectangle r)
{
    engine::Region region;
    region.name = name;
    region.rect = r;
    return region;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zrv_view_marker_season FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Visit visits[] = {
        {"field_20260601.bmp", 0, 0, 0, 480, 40, {}, 0},
        {"field_20260608.bmp", 3.5, 28, -18, 520, 60, {}, 1},
        {"field_20260615.bmp", -4, -30, 20, 470, 30, {}, 2},
        {"field_20260622.bmp", 2, 10, 6, 490, 45, {1, 2, 3}, 3},
    };
    try {
        for (const Visit& v : visits) engine::writeWholeFile(folder + "/" + v.name, frameBmp(v));
        engine::RegionSet set;
        set.regions = {rect("A1", {250, 262, 449, 457}), rect("A2", {500, 262, 699, 457}), rect("A3", {760, 322, 959, 457})};
        engine::Region panel;
        panel.name = "panel";
        panel.role = engine::RegionRole::White;
        panel.tag = 7;
        panel.unitRect = {1.45, 0.05, 2.55, 0.95};
        set.regions.push_back(panel);
        set.markers = engine::MarkerSettings{{0, 1, 2, 3}, {}};
        engine::PictureReader reader = engine::PictureReader::open(folder + "/" + visits[0].name);
        reader.require24Bit(engine::PictureReader::Signature::Names);
        const engine::GreyPicture grey = engine::greenOf(reader);
        engine::writeRegionsFile(folder + "/regions.json", engine::anchorRegions(set, engine::findTags(grey.view())));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

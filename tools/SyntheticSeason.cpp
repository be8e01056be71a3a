#include "SyntheticSeason.h"

#include "engine/season/Markers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>

namespace season_sample {

namespace {

// A repeatable value in 0..1 from a few integers.
double hashUnit(std::uint64_t a, std::uint64_t b, std::uint64_t c)
{
    std::uint64_t h = a * 0x9E3779B97F4A7C15u ^ (b + 0x632BE59BD9B4E019u) * 0xBF58476D1CE4E5B9u ^ c * 0x94D049BB133111EBu;
    h ^= h >> 31;
    h *= 0xD6E8FEB86659FD93u;
    h ^= h >> 32;
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

struct SplitMix {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
};

// The camera: a byte is its dark offset plus the light the surface sends back.
constexpr float kOffset = 8.0f;
constexpr float kGain = 228.0f;  // the byte of a perfect white surface in full sun, over the offset
constexpr float kNoise = 3.5f;   // half-width of the triangular noise, in bytes (sigma about 1.4)

struct Bands {
    float nir, red, blue;
};

constexpr Bands kLeaf{0.53f, 0.045f, 0.05f};

enum : std::int16_t { kNoPlot = -1 };

constexpr int kStallingPlot = 2;  // A3: the third plot of the first row

// What a pixel is, fixed for the season.
struct Ground {
    std::int16_t plot = kNoPlot;
    float cover = 0;  // for a plot: how much of the plot's cover this pixel has (crop rows)
    Bands bare{};     // the reflectances without plants
};

// The light of a frame: how bright, and its colour (NIR against red).
struct Light {
    float level;
    float tint;
};

Light frameLight(const SeasonOptions& o, int frame)
{
    const double clouded = hashUnit(o.seed, static_cast<std::uint64_t>(frame), 11);
    const double level = hashUnit(o.seed, static_cast<std::uint64_t>(frame), 12);
    const double tint = hashUnit(o.seed, static_cast<std::uint64_t>(frame), 13);
    // The first day is clear, so the season starts from a typical frame; about one day
    // in five after it is clouded.
    const bool dull = frame > 0 && clouded < 0.2;
    return {static_cast<float>(dull ? 0.36 + 0.24 * level : 0.86 + 0.14 * level), static_cast<float>(0.03 * (2 * tint - 1))};
}

bool insidePolygon(const std::vector<Point>& polygon, double x, double y)
{
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point a = polygon[i], b = polygon[j];
        if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

int gridRows(int plots) { return std::max(1, static_cast<int>(std::lround(std::sqrt(plots / 1.5)))); }

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint8_t toByte(float v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

std::vector<Ground> groundOf(const SeasonOptions& o, const Layout& layout)
{
    const int w = o.width, h = o.height;
    std::vector<Ground> ground(static_cast<std::size_t>(w) * h);
    const int top = h * 18 / 100;
    const int* panel = layout.panel;
    const int* dark = layout.dark;
    const int margin = std::max(1, (panel[2] - panel[0] + 1) / 8);  // the panel's edge beyond its region
    const int rim = margin + std::max(1, (panel[2] - panel[0] + 1) / 8);
    const int rowPeriod = std::max(4, w / 96);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Ground& g = ground[static_cast<std::size_t>(y) * w + x];
            const float t = static_cast<float>(hashUnit(o.seed, static_cast<std::uint64_t>(y) * 65536 + x, 1)) - 0.5f;
            const float u = static_cast<float>(hashUnit(o.seed, static_cast<std::uint64_t>(y) * 65536 + x, 2)) - 0.5f;
            const auto within = [&](const int* r, int grow) {
                return x >= r[0] - grow && x <= r[2] + grow && y >= r[1] - grow && y <= r[3] + grow;
            };
            if (within(panel, margin)) {
                g.bare = {1.0f, 1.0f, 1.0f};
            } else if (within(dark, margin)) {
                g.bare = {0.0f, 0.0f, 0.0f};
            } else if (x >= panel[0] - rim && x <= dark[2] + rim && y >= panel[1] - rim && y <= panel[3] + rim) {
                g.bare = {0.22f + 0.01f * t, 0.21f + 0.01f * u, 0.23f};  // the holder
            } else if (y < top) {
                g.bare = {0.42f + 0.06f * t, 0.07f + 0.02f * u, 0.05f + 0.01f * t};  // grass along the edge
            } else {
                g.bare = {0.26f + 0.03f * t, 0.19f + 0.02f * u, 0.14f + 0.02f * t};  // the paths between plots
            }
            for (std::size_t p = 0; p < layout.plots.size(); ++p) {
                const Plot& plot = layout.plots[p];
                const bool in = plot.polygon.empty()
                    ? x >= plot.x1 && x <= plot.x2 && y >= plot.y1 && y <= plot.y2
                    : insidePolygon(plot.polygon, x + 0.5, y + 0.5);
                if (!in) continue;
                g.plot = static_cast<std::int16_t>(p);
                const double row = 0.5 + 0.5 * std::cos(2 * M_PI * (x - plot.x1) / rowPeriod);
                g.cover = static_cast<float>(0.55 + 0.9 * row + 0.3 * t);
                g.bare = {0.30f + 0.04f * u, 0.22f + 0.03f * u, 0.15f + 0.02f * t};  // tilled soil
                break;
            }
        }
    }
    return ground;
}

// The plots of a grid over the area x0..x1, y0..y1; the last one an irregular patch.
void layPlots(const SeasonOptions& o, Layout& layout, double x0, double y0, double x1, double y1)
{
    const int rows = gridRows(o.plots);
    const int cols = (o.plots + rows - 1) / rows;
    const double cellW = (x1 - x0) / cols;
    const double cellH = (y1 - y0) / rows;
    const int insetX = std::max(1, static_cast<int>(cellW / 12)), insetY = std::max(1, static_cast<int>(cellH / 12));
    for (int i = 0; i < o.plots; ++i) {
        const int r = i / cols, c = i % cols;
        Plot p;
        p.name = std::string(1, static_cast<char>('A' + r)) + std::to_string(c + 1);
        p.x1 = static_cast<int>(x0 + c * cellW) + insetX;
        p.x2 = static_cast<int>(x0 + (c + 1) * cellW) - 1 - insetX;
        p.y1 = static_cast<int>(y0 + r * cellH) + insetY;
        p.y2 = static_cast<int>(y0 + (r + 1) * cellH) - 1 - insetY;
        p.stalls = i == kStallingPlot;
        if (i == o.plots - 1 && o.plots >= 2) {
            const double pw = p.x2 - p.x1 + 1, ph = p.y2 - p.y1 + 1;
            const auto at = [&](double fx, double fy) {
                return Point{std::round(p.x1 + fx * pw), std::round(p.y1 + fy * ph)};
            };
            p.polygon = {at(0.2, 0), at(1, 0.15), at(0.85, 1), at(0.1, 0.9), at(0, 0.4)};
        }
        layout.plots.push_back(std::move(p));
    }
}

// Field tags in the corners, 12 % in from each edge, far enough that no view of the
// season loses them; the card's strip along the top between them; the plots below.
Layout markerLayout(const SeasonOptions& o)
{
    const double w = o.width, h = o.height;
    Layout layout{};
    for (int i = 0; i < 4; ++i) layout.panel[i] = layout.dark[i] = -100000;  // no fixed targets on the ground
    layout.tagSide = std::max(32.0, std::round(0.03 * w));
    const double s = layout.tagSide;
    layout.fieldTags = {{0.12 * w, 0.12 * h}, {0.88 * w - s, 0.12 * h}, {0.88 * w - s, 0.88 * h - s}, {0.12 * w, 0.88 * h - s}};
    layPlots(o, layout, 0.15 * w + s, 0.34 * h, 0.85 * w - s, 0.86 * h);
    return layout;
}

// What lies under a point of the reference view that is part of a tag, the card or
// what covers them; nothing for the field's own ground.
struct MarkerScene {
    Layout layout;
    Card card;
    engine::TagPattern cardTag;
    std::vector<engine::TagPattern> fieldTags;
    bool cardCovered = false;
    int fieldCovered = 0;  // the last this many field tags lie in shadow

    std::optional<Bands> at(double X, double Y) const
    {
        const double s = layout.tagSide;
        for (std::size_t t = 0; t < fieldTags.size(); ++t) {
            const double u = (X - layout.fieldTags[t].x) / s, v = (Y - layout.fieldTags[t].y) / s;
            if (u < -0.125 || u >= 1.125 || v < -0.125 || v >= 1.125) continue;
            if (static_cast<int>(t) >= 4 - fieldCovered) return Bands{0.30f, 0.30f, 0.30f};  // the tarpaulin
            return cell(fieldTags[t], u, v);
        }
        // Into the card's own units.
        const double dx = X - card.x, dy = Y - card.y;
        const double c = std::cos(card.angle), sn = std::sin(card.angle);
        const double u = (dx * c + dy * sn) / card.side, v = (-dx * sn + dy * c) / card.side;
        if (u < -0.3 || u >= 3.8 || v < -0.3 || v >= 1.3) return std::nullopt;
        if (u >= -0.125 && u < 1.125 && v >= -0.125 && v < 1.125) {
            if (cardCovered) return Bands{0.10f, 0.08f, 0.06f};  // a boot
            return cell(cardTag, u, v);
        }
        if (u >= 1.3 && u < 2.3 && v >= 0 && v < 1) return Bands{1.0f, 1.0f, 1.0f};
        if (u >= 2.5 && u < 3.5 && v >= 0 && v < 1) return Bands{0.0f, 0.0f, 0.0f};
        return Bands{0.22f, 0.21f, 0.23f};  // the card
    }

    static Bands cell(const engine::TagPattern& p, double u, double v)
    {
        const int cx = std::clamp(static_cast<int>(std::floor((u + 0.125) * 8)), 0, p.side - 1);
        const int cy = std::clamp(static_cast<int>(std::floor((v + 0.125) * 8)), 0, p.side - 1);
        const float r = p.black[static_cast<std::size_t>(cy * p.side + cx)] ? 0.0f : 1.0f;
        return {r, r, r};
    }

    // Whether a pixel whose centre maps to X, Y may touch any of it.
    bool near(double X, double Y) const
    {
        const double s = layout.tagSide, pad = 0.25 * s + 3;
        for (const Point& t : layout.fieldTags) {
            if (X > t.x - pad && X < t.x + s + pad && Y > t.y - pad && Y < t.y + s + pad) return true;
        }
        const double reach = 4.2 * card.side + 3;
        return std::fabs(X - card.x) < reach && std::fabs(Y - card.y) < reach;
    }
};

using View = std::array<double, 9>;

Point mapPoint(const View& m, double x, double y)
{
    const double q = m[6] * x + m[7] * y + m[8];
    return {(m[0] * x + m[1] * y + m[2]) / q, (m[3] * x + m[4] * y + m[5]) / q};
}

View inverse(const View& m)
{
    const double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], g = m[6], hh = m[7], i = m[8];
    const double A = e * i - f * hh, B = -(d * i - f * g), C = d * hh - e * g;
    const double det = a * A + b * B + c * C;
    return {A / det, -(b * i - c * hh) / det, (b * f - c * e) / det,
            B / det, (a * i - c * g) / det, -(a * f - c * d) / det,
            C / det, -(a * hh - b * g) / det, (a * e - b * d) / det};
}

Bands reflectanceOf(const Ground& g, const std::vector<float>& cover)
{
    Bands r = g.bare;
    if (g.plot != kNoPlot) {
        const float c = std::clamp(cover[g.plot] * g.cover, 0.0f, 1.0f);
        r = {r.nir + c * (kLeaf.nir - r.nir), r.red + c * (kLeaf.red - r.red), r.blue + c * (kLeaf.blue - r.blue)};
    }
    return r;
}

constexpr Bands kGrass{0.42f, 0.07f, 0.05f};

// What pixel x, y of a hand-held frame sees: the field's ground at the point of the
// reference view its centre maps to, or, near the tags and the card, the mean of 8 x 8
// points over the pixel, so that their edges fall between pixels as a lens draws them
// (with 4 x 4, an edge near the pixels' grid moves in steps of a quarter pixel).
constexpr int kSamples = 8;
Bands seenAt(const MarkerScene& scene, const View& back, const SeasonOptions& o, const std::vector<Ground>& ground,
             const std::vector<float>& cover, int x, int y)
{
    const auto groundAt = [&](const Point& p) {
        const auto gx = static_cast<long>(std::floor(p.x)), gy = static_cast<long>(std::floor(p.y));
        if (gx < 0 || gy < 0 || gx >= o.width || gy >= o.height) return kGrass;
        return reflectanceOf(ground[static_cast<std::size_t>(gy) * o.width + gx], cover);
    };
    const Point centre = mapPoint(back, x + 0.5, y + 0.5);
    if (!scene.near(centre.x, centre.y)) return groundAt(centre);
    Bands sum{0, 0, 0};
    for (int j = 0; j < kSamples; ++j) {
        for (int i = 0; i < kSamples; ++i) {
            const Point p = mapPoint(back, x + (i + 0.5) / kSamples, y + (j + 0.5) / kSamples);
            const Bands b = scene.at(p.x, p.y).value_or(groundAt(p));
            sum = {sum.nir + b.nir, sum.red + b.red, sum.blue + b.blue};
        }
    }
    constexpr float n = kSamples * kSamples;
    return {sum.nir / n, sum.red / n, sum.blue / n};
}

void writeFrame(const std::filesystem::path& path, const SeasonOptions& o, const std::vector<Ground>& ground, int frame)
{
    const int w = o.width, h = o.height;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
    std::uint8_t header[54] = {'B', 'M'};
    put32(header + 2, static_cast<std::uint32_t>(54 + stride * h));
    put32(header + 10, 54);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(w));
    put32(header + 22, static_cast<std::uint32_t>(h));
    header[26] = 1;
    header[28] = 24;
    put32(header + 34, static_cast<std::uint32_t>(stride * h));

    std::optional<MarkerScene> scene;
    View back{};
    if (o.markers) {
        const Layout layout = seasonLayout(o);
        scene = MarkerScene{layout, cardPlacement(o, frame), engine::tagPattern(kCardTag), {}, frame == kPanelTagCoveredFrame,
                            frame == kFieldTagsCoveredFrame ? 3 : 0};
        for (int id = 0; id < 4; ++id) scene->fieldTags.push_back(engine::tagPattern(id));
        back = inverse(frameView(o, frame));
    }
    const Light light = frameLight(o, frame);
    const float nirLight = kGain * light.level * (1 + light.tint);
    const float redLight = kGain * light.level * (1 - light.tint);
    const float blueLight = kGain * light.level;
    std::vector<float> cover(o.plots);
    for (int p = 0; p < o.plots; ++p) cover[p] = static_cast<float>(plotCover(o, p, frame));

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) throw std::runtime_error("cannot create " + path.string());
    bool ok = std::fwrite(header, 1, sizeof header, file.get()) == sizeof header;
    std::vector<std::uint8_t> row(stride, 0);
    for (int y = h - 1; y >= 0 && ok; --y) {  // bottom row first
        // Each row's noise from its own stream, so no pixel's bytes depend on the order
        // the rows are made in.
        SplitMix noise{o.seed * 0xD1B54A32D192ED03u ^ (static_cast<std::uint64_t>(frame) << 32) ^ static_cast<std::uint64_t>(y)};
        const Ground* g = &ground[static_cast<std::size_t>(y) * w];
        for (int x = 0; x < w; ++x) {
            const Bands r = scene ? seenAt(*scene, back, o, ground, cover, x, y) : reflectanceOf(g[x], cover);
            const std::uint64_t n = noise.next();
            const auto jitter = [n](int k) {
                return kNoise * (static_cast<float>(((n >> (16 * k)) & 0xFF) + ((n >> (16 * k + 8)) & 0xFF)) / 255.0f - 1.0f);
            };
            // The camera's bytes: blue, visible red in the green byte, NIR in the red byte.
            row[3 * x] = toByte(kOffset + blueLight * r.blue + jitter(2));
            row[3 * x + 1] = toByte(kOffset + redLight * r.red + jitter(1));
            row[3 * x + 2] = toByte(kOffset + nirLight * r.nir + jitter(0));
        }
        ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
    }
    const bool closed = std::fclose(file.release()) == 0;
    const timespec times[2] = {{frameTime(o, frame), 0}, {frameTime(o, frame), 0}};
    if (!ok || !closed || ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw std::runtime_error("cannot write " + path.string());
    }
}


}  // namespace

std::tm SeasonOptions::defaultStart()
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 1;
    t.tm_hour = 10;
    t.tm_isdst = -1;
    return t;
}

std::optional<std::tm> parseLocalTime(std::string_view text)
{
    int v[6];
    const char separators[] = "--T::";
    const int widths[] = {4, 2, 2, 2, 2, 2};
    std::size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != separators[i - 1])) return std::nullopt;
        const char* first = text.data() + at;
        if (text.size() - at < static_cast<std::size_t>(widths[i])) return std::nullopt;
        const auto [end, ec] = std::from_chars(first, first + widths[i], v[i]);
        if (ec != std::errc() || end != first + widths[i]) return std::nullopt;
        at += widths[i];
    }
    if (at != text.size()) return std::nullopt;
    std::tm t{};
    t.tm_year = v[0] - 1900;
    t.tm_mon = v[1] - 1;
    t.tm_mday = v[2];
    t.tm_hour = v[3];
    t.tm_min = v[4];
    t.tm_sec = v[5];
    t.tm_isdst = -1;
    std::tm check = t;
    if (std::mktime(&check) == -1 || check.tm_mon != t.tm_mon || check.tm_mday != t.tm_mday || v[3] > 23 || v[4] > 59
        || v[5] > 59)
        return std::nullopt;  // 2026-02-30 and the like
    return t;
}

Layout seasonLayout(const SeasonOptions& o)
{
    if (o.markers) return markerLayout(o);
    const int w = o.width, h = o.height;
    Layout layout{};
    // The panel and the dark target in a holder on the grass along the top edge; each
    // region keeps a margin inside its target.
    const int top = h * 18 / 100;
    const int side = std::max(8, w * 5 / 100);
    const int tall = std::min(std::max(6, side * 3 / 4), top - 2);
    const int margin = std::max(1, side / 8);
    const int px = std::max(2, w * 3 / 100), py = std::max(1, (top - tall) / 2);
    const int gap = std::max(3, side / 3);
    const int panel[4] = {px + margin, py + margin, px + side - 1 - margin, py + tall - 1 - margin};
    const int dark[4] = {panel[0] + side + gap, panel[1], panel[2] + side + gap, panel[3]};
    std::copy(std::begin(panel), std::end(panel), layout.panel);
    std::copy(std::begin(dark), std::end(dark), layout.dark);

    // The plots in a grid below, paths between them; the last plot is an irregular
    // patch in its cell.
    const int edge = std::max(2, w * 3 / 100);
    layPlots(o, layout, edge, top, w - edge, h - edge);
    return layout;
}

std::optional<std::string> optionsProblem(const SeasonOptions& o)
{
    if (o.width < kMinWidth || o.height < kMinHeight || o.width > kMaxSide || o.height > kMaxSide)
        return "the size must be from " + std::to_string(kMinWidth) + "x" + std::to_string(kMinHeight) + " to "
            + std::to_string(kMaxSide) + "x" + std::to_string(kMaxSide);
    if (o.frames < 1 || o.frames > kMaxFrames) return "the frames must number 1 to " + std::to_string(kMaxFrames);
    if (o.plots < 1 || o.plots > kMaxPlots) return "the plots must number 1 to " + std::to_string(kMaxPlots);
    if (o.markers && (o.width < 256 || o.height < 192)) return "a season with markers needs frames of 256x192 or more";
    const Layout layout = seasonLayout(o);
    for (const Plot& p : layout.plots) {
        if (p.x2 - p.x1 < 5 || p.y2 - p.y1 < 5) return "too many plots for a frame of this size";
    }
    return std::nullopt;
}

int frameDay(const SeasonOptions& o, int frame)
{
    if (!o.longSeason) return frame;
    int day = 0;
    for (int k = 1; k <= frame; ++k) {
        day += 2 + static_cast<int>(5 * hashUnit(o.seed, static_cast<std::uint64_t>(k), 31));
        if (k == o.frames / 2) day += 14;  // the camera away for a fortnight
    }
    return day;
}

double plotCover(const SeasonOptions& o, int plot, int frame)
{
    const double s = o.frames > 1 ? (o.longSeason ? static_cast<double>(frameDay(o, frame)) / frameDay(o, o.frames - 1)
                                                  : static_cast<double>(frame) / (o.frames - 1))
                                  : 0.0;
    const auto p = static_cast<std::uint64_t>(plot);
    const bool stalls = plot == kStallingPlot;
    if (o.longSeason) {
        // Green-up in the first third, senescence in the last, each plot at its own
        // dates and pace; the stalled plot greens a little and stays so.
        const double up = stalls ? 0.2 : 0.18 + 0.12 * hashUnit(o.seed, p, 25);
        const double down = 0.68 + 0.12 * hashUnit(o.seed, p, 26);
        const double pace = 0.025 + 0.02 * hashUnit(o.seed, p, 27);
        const double full = stalls ? 0.25 : 0.78 + 0.18 * hashUnit(o.seed, p, 23);
        const double sown = 0.03 + 0.03 * hashUnit(o.seed, p, 24);
        const double rise = 1 / (1 + std::exp(-(s - up) / pace));
        const double fall = stalls ? 0.0 : 1 / (1 + std::exp(-(s - down) / pace));
        return sown + (full - sown) * rise * (1 - fall);
    }
    // A logistic curve from the cover at sowing to the plot's full cover, each plot with
    // its own midpoint, steepness and height; the stalled plot's stops a third of the
    // way through (drought, say) and stays.
    const double mid = stalls ? 0.35 : 0.3 + 0.3 * hashUnit(o.seed, p, 21);
    const double steep = 0.07 + 0.05 * hashUnit(o.seed, p, 22);
    const double full = 0.78 + 0.18 * hashUnit(o.seed, p, 23);
    const double sown = 0.03 + 0.03 * hashUnit(o.seed, p, 24);
    const auto logistic = [&](double v) { return 1 / (1 + std::exp(-(v - mid) / steep)); };
    const double at = stalls ? std::min(s, 0.32) : s;
    const double grown = (logistic(at) - logistic(0)) / (logistic(1) - logistic(0));
    return sown + (full - sown) * grown;
}

std::time_t frameTime(const SeasonOptions& o, int frame)
{
    std::tm t = o.start;
    t.tm_mday += frameDay(o, frame);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::string frameName(const SeasonOptions& o, int frame)
{
    const std::time_t when = frameTime(o, frame);
    std::tm t{};
    ::localtime_r(&when, &t);
    char name[64];
    std::strftime(name, sizeof name, "cam_%Y%m%d_%H%M%S.bmp", &t);
    return name;
}

std::array<double, 9> frameView(const SeasonOptions& o, int frame)
{
    if (frame == 0) return {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const auto f = static_cast<std::uint64_t>(frame);
    const auto signedUnit = [&](std::uint64_t k) { return 2 * hashUnit(o.seed, f, k) - 1; };
    const double turn = signedUnit(31) * 2.5 * M_PI / 180;
    const double scale = 1 + 0.07 * signedUnit(32);
    const double tx = 0.035 * o.width * signedUnit(33), ty = 0.035 * o.width * signedUnit(34);
    const double px = 0.02 / o.width * signedUnit(35), py = 0.02 / o.height * signedUnit(36);
    const double cx = o.width / 2.0, cy = o.height / 2.0;
    // About the centre: turned and scaled, tipped a little, then shifted.
    const double a = scale * std::cos(turn), b = -scale * std::sin(turn), c = scale * std::sin(turn), d = scale * std::cos(turn);
    // p' = (M q) / (1 + px qx + py qy) + centre + shift, q = p - centre.
    const double ox = cx + tx, oy = cy + ty;
    View m{a + ox * px, b + ox * py, 0, c + oy * px, d + oy * py, 0, px, py, 1};
    m[2] = ox * (1 - px * cx - py * cy) - a * cx - b * cy;
    m[5] = oy * (1 - px * cx - py * cy) - c * cx - d * cy;
    m[8] = 1 - px * cx - py * cy;
    return m;
}

Card cardPlacement(const SeasonOptions& o, int frame)
{
    const Layout layout = seasonLayout(o);
    const double side = layout.tagSide;
    const auto f = static_cast<std::uint64_t>(frame);
    const double angle = (2 * hashUnit(o.seed, f, 41) - 1) * 25 * M_PI / 180;
    const double cx = o.width * (0.35 + 0.3 * hashUnit(o.seed, f, 42));
    const double cy = o.height * (0.21 + 0.03 * hashUnit(o.seed, f, 43));
    // The card's middle, (1.75, 0.5) in its tag's units, at cx, cy.
    const double u = 1.75 * side, v = 0.5 * side;
    return {cx - (u * std::cos(angle) - v * std::sin(angle)), cy - (u * std::sin(angle) + v * std::cos(angle)), angle, side};
}

std::vector<double> plotTruth(const SeasonOptions& o, int frame)
{
    const Layout layout = seasonLayout(o);
    const std::vector<Ground> ground = groundOf(o, layout);
    std::vector<float> cover(o.plots);
    for (int p = 0; p < o.plots; ++p) cover[p] = static_cast<float>(plotCover(o, p, frame));
    std::vector<double> sum(o.plots, 0.0);
    std::vector<double> count(o.plots, 0.0);
    for (const Ground& g : ground) {
        if (g.plot == kNoPlot) continue;
        const Bands r = reflectanceOf(g, cover);
        sum[g.plot] += (r.nir - r.red) / (r.nir + r.red);
        count[g.plot] += 1;
    }
    for (int p = 0; p < o.plots; ++p) sum[p] /= count[p];
    return sum;
}

std::string regionsJson(const Layout& layout)
{
    const auto rect = [](int x1, int y1, int x2, int y2) {
        return "\"rect\": [" + std::to_string(x1) + ", " + std::to_string(y1) + ", " + std::to_string(x2) + ", "
            + std::to_string(y2) + "]";
    };
    std::string out = "{\"regions\": [\n";
    for (const Plot& p : layout.plots) {
        out += "  {\"name\": \"" + p.name + "\", ";
        if (p.polygon.empty()) {
            out += rect(p.x1, p.y1, p.x2, p.y2);
        } else {
            out += "\"polygon\": [";
            for (std::size_t i = 0; i < p.polygon.size(); ++i) {
                out += (i ? ", [" : "[") + std::to_string(static_cast<long long>(p.polygon[i].x)) + ", "
                    + std::to_string(static_cast<long long>(p.polygon[i].y)) + "]";
            }
            out += "]";
        }
        out += "},\n";
    }
    if (!layout.fieldTags.empty()) {
        // The panel and the dark target ride on the card, in its tag's units.
        out = "{\"markers\": {\"family\": \"tag36h11\", \"field\": [0, 1, 2, 3]},\n \"regions\": [\n" + out.substr(out.find('\n') + 1);
        out += "  {\"name\": \"panel\", \"tag\": 7, \"rect\": [1.4, 0.1, 2.2, 0.9], \"role\": \"white\"},\n";
        out += "  {\"name\": \"dark\", \"tag\": 7, \"rect\": [2.6, 0.1, 3.4, 0.9], \"role\": \"dark\"}\n";
        out += "]}\n";
        return out;
    }
    const int* w = layout.panel;
    const int* d = layout.dark;
    out += "  {\"name\": \"panel\", " + rect(w[0], w[1], w[2], w[3]) + ", \"role\": \"white\"},\n";
    out += "  {\"name\": \"dark\", " + rect(d[0], d[1], d[2], d[3]) + ", \"role\": \"dark\"}\n";
    out += "]}\n";
    return out;
}

std::vector<std::filesystem::path> writeSeason(const std::filesystem::path& folder, const SeasonOptions& o)
{
    if (const auto problem = optionsProblem(o)) throw std::runtime_error(*problem);
    std::filesystem::create_directories(folder);
    std::vector<std::filesystem::path> frames;
    for (int i = 0; i < o.frames; ++i) frames.push_back(folder / frameName(o, i));
    const std::filesystem::path regions = folder / "regions.json";
    if (!o.replace) {
        std::vector<std::filesystem::path> all = frames;
        all.push_back(regions);
        for (const auto& path : all) {
            if (std::filesystem::exists(std::filesystem::symlink_status(path)))
                throw std::runtime_error(path.string() + " exists already (--force replaces it)");
        }
    }
    const Layout layout = seasonLayout(o);
    const std::vector<Ground> ground = groundOf(o, layout);
    for (int i = 0; i < o.frames; ++i) {
        // A file replaced is a new file: a link of that name is not followed.
        if (o.replace) std::filesystem::remove(frames[i]);
        writeFrame(frames[i], o, ground, i);
    }
    if (o.replace) std::filesystem::remove(regions);

    const std::string json = regionsJson(layout);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(regions.c_str(), "wb"), std::fclose);
    if (!file || std::fwrite(json.data(), 1, json.size(), file.get()) != json.size()
        || std::fclose(file.release()) != 0)
        throw std::runtime_error("cannot write " + regions.string());
    return frames;
}

}  // namespace season_sample

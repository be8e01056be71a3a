#pragma once
// A field with markers, drawn in code: four field tags near the corners, a panel card
// (tag 7 and a white panel beside it), a dark target and two plots, on a frame of
// 640 x 480. Each frame is the scene seen through a rotation about the frame's centre
// and a shift, sampled at pixel centres; a covered tag is painted over with the ground.
// Tags are printed black 0 and white 255 in every byte, so the green byte the markers
// are found on holds them as printed.

#include "BmpFixture.h"
#include "engine/season/Markers.h"
#include "engine/season/Regions.h"

#include <cmath>
#include <set>
#include <vector>

namespace batch_testing {

struct SceneView {
    double degrees = 0;
    double dx = 0, dy = 0;
    std::set<int> covered;
};

struct MarkerScene {
    static constexpr int kWidth = 640, kHeight = 480;
    static constexpr int kCell = 8;  // pixels a tag cell: a border of 64 pixels
    struct Placed {
        int id, x, y;  // the pattern's top-left corner, white margin included
    };
    std::vector<Placed> tags = {{0, 20, 20}, {1, 540, 20}, {2, 540, 380}, {3, 20, 380}, {7, 200, 360}};
    // The white panel's pixels beside tag 7, the dark target's, and the plots'.
    engine::Rectangle panel{290, 370, 369, 429};
    engine::Rectangle dark{300, 250, 339, 289};
    engine::Rectangle plotA{120, 120, 259, 239};
    engine::Rectangle plotB{380, 120, 499, 239};

    static bool inside(const engine::Rectangle& r, double x, double y)
    {
        return x >= r.x1 && x < r.x2 + 1 && y >= r.y1 && y < r.y2 + 1;
    }

    // The scene's colour at a point of the reference frame.
    testing_support::Pixel colourAt(double x, double y, const std::set<int>& covered) const
    {
        for (const Placed& t : tags) {
            const double side = 10.0 * kCell;
            if (x < t.x || y < t.y || x >= t.x + side || y >= t.y + side) continue;
            if (covered.count(t.id)) break;
            const engine::TagPattern p = engine::tagPattern(t.id);
            const int cx = static_cast<int>((x - t.x) / kCell), cy = static_cast<int>((y - t.y) / kCell);
            const std::uint8_t v = p.black[static_cast<std::size_t>(cy * p.side + cx)] ? 0 : 255;
            return {v, v, v};
        }
        if (inside(panel, x, y)) return {200, 215, 225};
        if (inside(dark, x, y)) return {12, 16, 18};
        if (inside(plotA, x, y)) return {40, 50, 190};
        if (inside(plotB, x, y)) return {45, 80, 150};
        // Soil, a little uneven.
        const auto shade = static_cast<std::uint8_t>(90 + static_cast<int>(x + 2 * y) % 20);
        return {60, shade, static_cast<std::uint8_t>(shade + 20)};
    }

    testing_support::Picture frame(const SceneView& view = {}) const
    {
        testing_support::Picture p;
        p.width = kWidth;
        p.height = kHeight;
        const double a = view.degrees * 3.14159265358979323846 / 180;
        const double cx = kWidth / 2.0, cy = kHeight / 2.0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                // The frame's pixel centre back into the scene: undo the shift, then the turn.
                const double u = x + 0.5 - view.dx - cx, v = y + 0.5 - view.dy - cy;
                const double sx = cx + std::cos(a) * u + std::sin(a) * v;
                const double sy = cy - std::sin(a) * u + std::cos(a) * v;
                p.pixels.push_back(colourAt(sx, sy, view.covered));
            }
        }
        return p;
    }

    // The regions drawn on the reference frame: the field tags named, the plots and the
    // dark target in its pixels (the target's within its edges), the white panel in tag 7's units (the border is 64
    // pixels from (208, 368)).
    engine::RegionSet regions(bool panelOnTag = true) const
    {
        engine::RegionSet set;
        set.markers = engine::MarkerSettings{{0, 1, 2, 3}, {}};
        engine::Region a, b, d, w;
        a.name = "A1";
        b.name = "A2";
        d.name = "dark";
        w.name = "panel";
        a.rect = plotA;
        b.rect = plotB;
        d.rect = {dark.x1 + 3, dark.y1 + 3, dark.x2 - 3, dark.y2 - 3};  // clear of its edges, as one draws it
        d.role = engine::RegionRole::Dark;
        w.role = engine::RegionRole::White;
        if (panelOnTag) {
            w.tag = 7;
            w.unitRect = {(panel.x1 + 4 - 208) / 64.0, (panel.y1 + 4 - 368) / 64.0, (panel.x2 - 3 - 208) / 64.0,
                          (panel.y2 - 3 - 368) / 64.0};
        } else {
            w.rect = {panel.x1 + 4, panel.y1 + 4, panel.x2 - 4, panel.y2 - 4};
        }
        set.regions = {a, b, w, d};
        return set;
    }
};

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    testing_support::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

inline std::string readText(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = testing_support::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace batch_testing

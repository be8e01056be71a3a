#include "view/regions/Anchoring.h"

#include "engine/season/Markers.h"

#include <algorithm>

namespace view {

std::optional<engine::Region> regionToReference(const engine::RegionSet& set,
                                               const std::optional<engine::Registration>& placed, engine::Region region)
{
    if (!set.markers || set.markers->reference.empty()) return region;
    std::vector<engine::Vertex> here, there;
    if (placed && !placed->problem) {
        for (const int id : set.markers->field) {
            const auto ref = set.markers->reference.find(id);
            const auto found = std::find_if(placed->tags.begin(), placed->tags.end(),
                                            [id](const engine::FoundTag& t) { return t.id == id; });
            if (ref == set.markers->reference.end() || found == placed->tags.end()) continue;
            here.insert(here.end(), found->corners.begin(), found->corners.end());
            there.insert(there.end(), ref->second.begin(), ref->second.end());
        }
    }
    const auto back = here.size() >= 8 ? engine::fitHomography(here, there) : std::nullopt;
    if (!back) return std::nullopt;
    // The regions are kept in the reference frame's pixels: a rectangle drawn here is a
    // quadrilateral there, by its pixel edges.
    std::vector<engine::Vertex> outline = region.polygon;
    if (!region.isPolygon()) {
        const auto x1 = static_cast<double>(region.rect.x1), y1 = static_cast<double>(region.rect.y1);
        const auto x2 = static_cast<double>(region.rect.x2) + 1, y2 = static_cast<double>(region.rect.y2) + 1;
        outline = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
    }
    region.polygon.clear();
    for (const engine::Vertex& v : outline) region.polygon.push_back(back->map(v));
    return region;
}

AnchorOutcome anchorToTags(engine::RegionSet set, const std::vector<engine::FoundTag>& tags, std::int64_t width,
                           std::int64_t height, const FieldTagsQuestion& askFieldTags)
{
    const auto refused = [](const QString& text) { return AnchorOutcome{std::nullopt, text}; };
    // Regions already anchored are anchored anew where they lie on this frame, as they
    // are drawn on it; a region on its own tag stays in that tag's units.
    if (set.markers && !set.markers->reference.empty()) {
        const engine::Registration placed = engine::registerRegions(set, tags);
        if (!placed.problem && placed.mapped.regions.size() == set.regions.size()) {
            for (std::size_t i = 0; i < set.regions.size(); ++i) {
                if (!set.regions[i].tag) set.regions[i] = placed.mapped.regions[i];
            }
        }
    }
    if (!set.markers || set.markers->field.empty()) {
        if (tags.empty()) {
            return refused(QStringLiteral("この画像にマーカー（AprilTag tag36h11）が見つかりません。領域は固定していません。"));
        }
        std::vector<int> found, proposed;
        for (const engine::FoundTag& t : tags) {
            found.push_back(t.id);
            // A tag that carries a region (the panel's card) moves with it, not with the field.
            const bool carries = std::any_of(set.regions.begin(), set.regions.end(),
                                             [&t](const engine::Region& r) { return r.tag == t.id; });
            if (!carries) proposed.push_back(t.id);
        }
        const auto chosen = askFieldTags(found, proposed);
        if (!chosen) return {};
        if (chosen->size() < 2) return refused(QStringLiteral("圃場のマーカーを 2 個以上選んでください。領域は固定していません。"));
        set.markers = engine::MarkerSettings{*chosen, {}};
    }
    try {
        set = engine::anchorRegions(set, tags);
    } catch (const std::exception& e) {
        // The engine's words name the field tags not found on this frame.
        return refused(QString::fromUtf8(e.what()) + QStringLiteral("\n領域は固定していません。"));
    }
    if (const auto problem = engine::regionsProblem(set)) return refused(QString::fromStdString(*problem));
    // Every plot must lie on the frame it is anchored to, as zrvimage-batch anchor asks.
    for (const engine::Region& region : set.regions) {
        if (!region.tag && !engine::regionInside(region, width, height)) {
            return refused(QStringLiteral("領域「%1」が画像（%2×%3）の外にはみ出しています。領域は固定していません。")
                               .arg(QString::fromStdString(region.name))
                               .arg(width)
                               .arg(height));
        }
    }
    return {std::move(set), {}};
}

}  // namespace view

#include "view/regions/RegionTable.h"

#include "engine/calibration/Panel.h"
#include "view/FlatFieldView.h"

#include <algorithm>
#include <exception>

namespace view {

std::vector<engine::FoundTag> tagsOnPicture(const LoadedPicture& picture)
{
    if (picture.kind() != LoadedPicture::Kind::Bitmap) return {};
    const engine::GreyPicture grey =
        engine::greenOf(picture.width(), picture.height(), [&picture](std::int64_t y) { return picture.row(y); });
    return engine::findTags(grey.view());
}

QString placementText(const engine::Registration& placed)
{
    QStringList ids;
    for (const engine::FoundTag& t : placed.tags) ids << QString::number(t.id);
    QString text = ids.isEmpty() ? QStringLiteral("マーカーが見つかりません")
                                 : QStringLiteral("見つかったマーカー: %1").arg(ids.join(QStringLiteral(", ")));
    if (placed.rmsPx) {
        text += QStringLiteral("（圃場のマーカー %1 個で位置合わせ、残差 %2 画素）")
                    .arg(placed.fieldFound)
                    .arg(*placed.rmsPx, 0, 'f', 2);
    }
    return text;
}

const std::vector<engine::FoundTag>& PictureTags::of(const LoadedPicture& picture)
{
    std::call_once(once_, [&] { tags_ = tagsOnPicture(picture); });
    return tags_;
}

RegionTable regionTable(const LoadedPicture* picture, const engine::RegionSet& anchored,
                        const engine::SeasonSettings& settings, PictureTags* tags)
{
    RegionTable table;
    table.rows.resize(anchored.regions.size());
    if (!picture) return table;
    if (anchored.usesMarkers() && picture->kind() == LoadedPicture::Kind::Bitmap && !anchored.regions.empty()) {
        try {
            table.registration = engine::registerRegions(anchored, tags ? tags->of(*picture) : tagsOnPicture(*picture));
        } catch (const std::exception& e) {
            table.problem = QString::fromUtf8(e.what());
            return table;
        }
        if (table.registration->problem) {
            // Nothing is measured where the regions cannot be placed: figures of the
            // reference frame's places would look right and be wrong.
            table.problem = QStringLiteral("この画像には領域を置けません: %1")
                                .arg(QString::fromStdString(*table.registration->problem));
            return table;
        }
    }
    // The rows are those of the regions placed on this frame, in the same order.
    const engine::RegionSet& set = table.registration ? table.registration->mapped : anchored;
    for (std::size_t i = 0; i < set.regions.size(); ++i) {
        table.rows[i].inside = engine::regionInside(set.regions[i], picture->width(), picture->height());
    }
    if (set.regions.empty()) return table;
    if (picture->kind() != LoadedPicture::Kind::Bitmap) {
        table.problem = QStringLiteral("領域の数値は24ビットBMPで出します（NDVIラスターでは出しません）");
        return table;
    }
    const auto row = [picture](std::int64_t y) { return picture->row(y); };
    try {
        // One pass: every region inside measured as a plot, and with its own panel the
        // white (and dark) region as what they are, which calibrate the frame. Those are
        // given even when outside, for the engine to name them.
        engine::RegionSet measured;
        if (!settings.fixed) {
            for (const auto& r : set.regions) {
                if (r.role != engine::RegionRole::Plot) measured.regions.push_back(r);
            }
        }
        std::vector<std::size_t> where;
        for (std::size_t i = 0; i < set.regions.size(); ++i) {
            if (!table.rows[i].inside) continue;
            engine::Region r = set.regions[i];
            r.role = engine::RegionRole::Plot;
            measured.regions.push_back(std::move(r));
            where.push_back(i);
        }
        if (where.empty()) return table;  // nothing to measure: each row says why
        const engine::FrameFigures frame = engine::seasonFrameFigures(picture->width(), picture->height(), row,
                                                                      picture->path(), measured, settings);
        for (std::size_t k = 0; k < where.size() && k < frame.plots.size(); ++k) {
            table.rows[where[k]].figures = frame.plots[k];
        }
        table.model = frame.model;
        table.ownPanel = !settings.fixed;
        // The checks' own sentences, with their figures: the white panel's and the dark
        // target's, as the season table keys them.
        for (const std::string& text : frame.warningTexts) table.panelWarnings << QString::fromStdString(text);
    } catch (const std::exception& e) {
        // The engine's words: a region outside, a panel that gives no usable model.
        table.model.reset();
        table.ownPanel = false;
        table.panelWarnings.clear();
        for (auto& r : table.rows) r.figures.reset();
        table.problem = QString::fromUtf8(e.what());
    }
    return table;
}

std::int64_t regionTableWork(const engine::RegionSet& set, const LoadedPicture* picture)
{
    if (picture && set.usesMarkers()) return picture->width() * picture->height();
    // In doubles: a region far outside any picture may have bounds whose area
    // overflows.
    double pixels = 0;
    for (const auto& r : set.regions) {
        if (const auto b = engine::regionBounds(r)) {
            pixels += (static_cast<double>(b->x2) - static_cast<double>(b->x1) + 1) *
                      (static_cast<double>(b->y2) - static_cast<double>(b->y1) + 1);
        }
    }
    return pixels >= 9e18 ? std::int64_t{9'000'000'000'000'000'000} : static_cast<std::int64_t>(pixels);
}

}  // namespace view

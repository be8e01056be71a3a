#pragma once
// The regions over every frame: the model, its table in the 領域 dock with the figures of
// the frame shown (worked out in the background when large), a region drawn on the
// picture named and added, the regions anchored to the markers, opened and saved; every
// edit one step of the window's undo history.

#include "engine/season/Regions.h"
#include "view/LoadedPicture.h"
#include "view/regions/RegionTable.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace view {

class RegionsModel;
class RegionsSection;
class ViewerWindow;

class RegionsController : public QObject {
    Q_OBJECT
public:
    explicit RegionsController(ViewerWindow& window);

    RegionsModel& model() const noexcept { return *model_; }
    // The table, for the window to dock; its parent once docked.
    RegionsSection* section() const noexcept { return section_; }
    // The frame shown (none for an unreadable one) and its tags once searched for.
    void setPicture(std::shared_ptr<const LoadedPicture> picture, std::shared_ptr<PictureTags> tags);
    // The model the frame shown got from its own white region, once worked out.
    const std::optional<engine::NdviModel>& frameModel() const noexcept { return frameModel_; }

    // The regions' figures on the frame shown, at once when they are small.
    void refresh();
    // A region drawn on the canvas: named by the user and added, or a message.
    void addDrawn(engine::Region region);
    // 領域をマーカーに固定; false, after a message, with the regions as they were.
    bool anchorToMarkers();
    // 領域を開く and 領域を保存, whole or not at all; false, after a message naming the file.
    bool open(const QString& path);
    bool save(const QString& path);
    // The regions replaced by set, one step named text.
    void change(const QString& text, engine::RegionSet set);

signals:
    void frameModelChanged();

private:
    void pushStep(const QString& text, const engine::RegionSet& before);
    void showTable(const RegionTable& table);
    // A region drawn on a frame other than the reference one, carried back to the
    // reference frame's pixels by its field tags; nothing, after a message, when this
    // frame's place is not known.
    std::optional<engine::Region> toReference(engine::Region region);

    ViewerWindow& window_;
    RegionsModel* model_;
    RegionsSection* section_;
    std::shared_ptr<const LoadedPicture> picture_;
    std::shared_ptr<PictureTags> pictureTags_;
    QFutureWatcher<RegionTable>* watcher_ = nullptr;
    bool pending_ = false;
    std::optional<engine::NdviModel> frameModel_;
};

}  // namespace view

#pragma once
// The named regions the viewer shows over every frame: plots, and at most one white
// panel and one dark target. The canvas draws them, the side panel lists their figures
// and the season chart measures them over a folder; all read this one model and
// follow its changed() signal.

#include "engine/calibration/Calibration.h"
#include "engine/calibration/Panel.h"
#include "engine/season/Regions.h"
#include "engine/season/Season.h"

#include <QObject>
#include <QString>

#include <cstddef>
#include <memory>
#include <optional>

namespace view {

class RegionsModel : public QObject {
    Q_OBJECT
public:
    explicit RegionsModel(QObject* parent = nullptr);

    const engine::RegionSet& set() const noexcept { return set_; }
    // Replaces all (a file opened); the selection is dropped. Emits changed().
    void setSet(engine::RegionSet set);

    std::size_t size() const noexcept { return set_.regions.size(); }
    const engine::Region& at(std::size_t index) const { return set_.regions.at(index); }
    // The region of that name, or nothing.
    std::optional<std::size_t> indexOf(const QString& name) const;
    // "R1", "R2" ...: the first not yet taken.
    QString freeName() const;
    // Why name cannot be given to the region at index (nothing: a new region): empty,
    // or taken by another. Nothing when it can.
    std::optional<QString> nameProblem(const QString& name, std::optional<std::size_t> index = std::nullopt) const;

    // Each edit refuses, with the reason and changing nothing, a name that
    // nameProblem() refuses; otherwise it emits changed().
    // Adds at the end and selects it.
    std::optional<QString> add(engine::Region region);
    std::optional<QString> rename(std::size_t index, const QString& name);
    // A white or dark role moves here from the region that had it: there is one panel
    // and one dark target.
    void setRole(std::size_t index, engine::RegionRole role);
    void remove(std::size_t index);

    // The region shown highlighted, or nothing. Emits selectionChanged().
    std::optional<std::size_t> selected() const noexcept { return selected_; }
    void select(std::optional<std::size_t> index);

signals:
    void changed();
    void selectionChanged();
    // After changed(), for the user's edits only (add, rename, setRole, remove; not
    // setSet): one step named text from before to the set now, for the undo history.
    void edited(const QString& text, const engine::RegionSet& before);

private:
    // Emits edited() once an edit, and any edit it makes of its own, has changed the set.
    class Edit;

    engine::RegionSet set_;
    bool editing_ = false;
    std::optional<std::size_t> selected_;
};

// The role's word for users: なし, 白色板, 暗色板.
QString roleText(engine::RegionRole role);

// The calibration the viewer's figures of a frame use: the frame's own white (and dark)
// region when the set has a white one, with whiteFrom and the reflectances of the
// window's calibration; otherwise the window's model, fixed. Each band corrected by flat
// when one is given.
engine::SeasonSettings seasonSettingsFor(const engine::RegionSet& set, const engine::NdviModel& current,
                                         engine::WhiteFrom whiteFrom,
                                         std::shared_ptr<const engine::FlatField> flat = nullptr);

}  // namespace view

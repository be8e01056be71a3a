#include "engine/season/SeasonDocument.h"

namespace engine {

void SeasonDocument::open(const std::string& path)
{
    SeasonProject loaded = readSeasonProject(path);
    project_ = std::move(loaded);
    path_ = path;
    steps_.clear();
    step_ = 0;
    savedStep_ = 0;
    changed();
}

void SeasonDocument::startNew(const std::string& framesFolder, const RegionSet& regions)
{
    project_ = {};
    project_.frames = framesFolder;
    project_.regions = regions;
    path_.reset();
    steps_.clear();
    step_ = 0;
    // A new season is unsaved until it is saved, though nothing was changed yet.
    savedStep_.reset();
    changed();
}

void SeasonDocument::save()
{
    if (!path_) throw SeasonProjectError("保存先のプロジェクトファイルがありません");
    saveAs(*path_);
}

void SeasonDocument::saveAs(const std::string& path)
{
    writeSeasonProject(path, project_);
    path_ = path;
    savedStep_ = step_;
    changed();
}

void SeasonDocument::change(const std::string& name, const std::function<void(SeasonProject&)>& edit)
{
    SeasonProject after = project_;
    edit(after);
    // Compared as written: what would not change the file is no change.
    if (seasonProjectJson(after) == seasonProjectJson(project_)) return;
    steps_.resize(step_);
    if (savedStep_ && *savedStep_ > step_) savedStep_.reset();  // that state is gone from the history
    steps_.push_back({name, project_, after});
    project_ = std::move(after);
    ++step_;
    changed();
}

std::string SeasonDocument::undoName() const
{
    return canUndo() ? steps_[step_ - 1].name : std::string();
}

std::string SeasonDocument::redoName() const
{
    return canRedo() ? steps_[step_].name : std::string();
}

void SeasonDocument::undo()
{
    if (!canUndo()) return;
    --step_;
    project_ = steps_[step_].before;
    changed();
}

void SeasonDocument::redo()
{
    if (!canRedo()) return;
    project_ = steps_[step_].after;
    ++step_;
    changed();
}

void SeasonDocument::changed()
{
    if (listener_) listener_();
}

}  // namespace engine

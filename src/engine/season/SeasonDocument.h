#pragma once
// A season being edited: its project (SeasonProject.h), the file it was opened from or
// saved to, and one undo history for every change, whatever part of the season it
// touches and whichever frame is shown meanwhile. Without Qt, so that the viewer's
// controllers stay thin and the rules are tested without a display.
//
// Each change is a step holding the whole project before and after it: a season's
// project is a few kilobytes, and a step that cannot get out of step with what it
// undoes is worth more than the bytes.

#include "engine/season/SeasonProject.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace engine {

class SeasonDocument {
public:
    SeasonDocument() = default;

    const SeasonProject& project() const noexcept { return project_; }
    // The project file, once opened or saved; nothing for a new season.
    const std::optional<std::string>& path() const noexcept { return path_; }
    // Whether the project differs from what was last opened or saved (undoing back to
    // it makes the document unmodified again).
    bool modified() const noexcept { return step_ != savedStep_; }

    // Opens a project: the history starts anew. Throws SeasonProjectError and leaves
    // the document as it was.
    void open(const std::string& path);
    // Starts a new season over a folder of frames, with these regions (possibly none).
    void startNew(const std::string& framesFolder, const RegionSet& regions);
    // Saves to path() or to the given path, which then becomes path(). Throws
    // EngineError (the system's reason) and leaves path() and modified() as they were.
    void save();
    void saveAs(const std::string& path);

    // One change, as one step named for the undo menu ("領域を追加" and the like).
    // A change that leaves the project as it was is no step.
    void change(const std::string& name, const std::function<void(SeasonProject&)>& edit);

    bool canUndo() const noexcept { return step_ > 0; }
    bool canRedo() const noexcept { return step_ < steps_.size(); }
    // The name of the step undo() or redo() would take; empty when there is none.
    std::string undoName() const;
    std::string redoName() const;
    void undo();
    void redo();

    // Called after every change, undo, redo, open, new and save.
    void onChanged(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    struct Step {
        std::string name;
        SeasonProject before, after;
    };
    void changed();

    SeasonProject project_;
    std::optional<std::string> path_;
    std::vector<Step> steps_;
    std::size_t step_ = 0;  // steps_[0 .. step_) are done
    // The step count at the last open or save; none when that state was undone and
    // replaced by another history.
    std::optional<std::size_t> savedStep_ = std::size_t{0};
    std::function<void()> listener_;
};

}  // namespace engine

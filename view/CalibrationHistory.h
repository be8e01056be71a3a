#pragma once
// The calibration as the user last set it, one undo step at a time: the fields' model,
// where it came from (the frame, its rectangles, how the white value was taken, when),
// the dark target marked on the picture, the panel's warnings and the flat-field in
// use (putting one in or taking it out is a step too). The window keeps one
// such state as committed and moves between states through Qt's undo stack.

#include "engine/calibration/CalibrationFile.h"
#include "engine/calibration/FlatField.h"
#include "view/LoadedPicture.h"

#include <QString>
#include <QUndoCommand>
#include <QUndoStack>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace view {

struct CalibrationState {
    engine::NdviModel fields = engine::NdviModel::plain(255, 255);
    // No frame and no rectangles: typed by hand.
    engine::CalibrationSource source;
    std::optional<engine::Rectangle> darkMark;
    std::vector<std::string> warnings;  // the white panel's checks, when it came from a rectangle
    std::vector<std::string> darkWarnings;  // the dark target's, when it came from a rectangle
    // What every figure of a bitmap is corrected by; null: none. source.flatfield names
    // the one the white and dark values were read through, which may differ.
    std::shared_ptr<const engine::FlatField> flat;
};

// The state once fields were typed over before's: a byte typed by hand no longer comes
// from its rectangle, so that rectangle (and its warnings, for the dark target its mark
// too) is dropped; with neither rectangle left the source is the
// keyboard. Reflectances are never taken from the frame and leave the source as it is.
CalibrationState typedInto(const CalibrationState& before, const engine::NdviModel& fields, std::string date);

// The source for the panel: the frame's name and the date, then the rectangles and the
// flat-field the values were read through; the defaults never changed are told apart
// from values typed by hand.
QString sourceText(const CalibrationState& state);

// The white panel's and the dark target's values read again from their rectangles on
// picture (when it is the frame they came from) through state's flat-field (or none),
// with their warnings; the others stay.
void rereadPanel(const LoadedPicture* picture, CalibrationState& state);

// What to tell about a calibration made through another flat-field than inUse (or
// none); empty when they agree.
QString flatFieldMismatch(const engine::CalibrationSource& source, const engine::FlatField* inUse);

// One step for QUndoStack from two actions. A step whose change is already on screen
// (a rectangle dragged) skips the redo that pushing it runs.
class UndoStep : public QUndoCommand {
public:
    UndoStep(const QString& text, std::function<void()> undo, std::function<void()> redo, bool alreadyDone = false);
    void undo() override;
    void redo() override;

    // Steps of one kind pushed one after another become one (a colour range typed digit
    // by digit); -1, the default: never.
    void setMergeKind(int kind) noexcept { kind_ = kind; }
    int id() const override { return kind_; }
    bool mergeWith(const QUndoCommand* other) override;
    // A step that no longer means anything where the window is now (a rectangle of
    // another frame): undo and redo pass over it as if it were not there.
    void setLive(std::function<bool()> live) { live_ = std::move(live); }
    bool live() const { return !live_ || live_(); }

private:
    std::function<void()> undo_;
    std::function<void()> redo_;
    std::function<bool()> live_;
    bool skipRedo_;
    int kind_ = -1;
};

// Undo and redo over stack, passing over the steps that are not live.
void undoLive(QUndoStack& stack);
void redoLive(QUndoStack& stack);

}  // namespace view

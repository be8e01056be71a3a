#pragma once
// The progress bar's state and rules, shared by the Qt window and the test fake so
// the range rule lives in one place.

#include <functional>

namespace window {

class ProgressModel {
public:
    int min() const noexcept { return min_; }
    int max() const noexcept { return max_; }
    int position() const noexcept { return position_; }
    int step() const noexcept { return step_; }
    int stepCount() const noexcept { return stepCount_; }

    // Max below Min (or Min above Max) throws EInvalidOperation
    // "プロパティ TProgressBar の範囲を超えています"; equal bounds are fine.
    void setMin(int value);
    void setMax(int value);
    // Kept within Min..Max.
    void setPosition(int value);
    void setStep(int value);
    // Advances Position by Step; past Max the bar starts over at Min.
    void stepIt();

    // Called after every change; the window uses it to mark its bar for repainting.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

private:
    void changed();

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    int step_ = 10;
    int stepCount_ = 0;
    std::function<void()> onChange_;
};

}  // namespace window

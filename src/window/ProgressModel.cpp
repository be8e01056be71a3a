#include "window/ProgressModel.h"

#include "runtime/Exceptions.h"

#include <algorithm>
#include <cstdint>

namespace window {

namespace {

[[noreturn]] void outOfRange()
{
    throw runtime::EInvalidOperation("プロパティ TProgressBar の範囲を超えています");
}

}  // namespace

void ProgressModel::setMin(int value)
{
    if (value > max_) outOfRange();
    min_ = value;
    position_ = std::max(position_, min_);
    changed();
}

void ProgressModel::setMax(int value)
{
    if (value < min_) outOfRange();
    max_ = value;
    position_ = std::min(position_, max_);
    changed();
}

void ProgressModel::setPosition(int value)
{
    position_ = std::clamp(value, min_, max_);
    changed();
}

void ProgressModel::setStep(int value)
{
    step_ = value;
    changed();
}

void ProgressModel::stepIt()
{
    const std::int64_t next = std::int64_t{position_} + step_;
    position_ = next > max_ || next < min_ ? min_ : static_cast<int>(next);
    ++stepCount_;
    changed();
}

void ProgressModel::changed()
{
    if (onChange_) onChange_();
}

}  // namespace window

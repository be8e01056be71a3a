#pragma once
// The question asked before regions are first anchored to markers: which of the tags
// found on the frame stand still with the field.

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace view {

// A box for each id found, ticked for those in checked; the ids ticked, in the order
// found, or nothing when cancelled.
std::optional<std::vector<int>> askFieldTags(QWidget* parent, const std::vector<int>& found,
                                             const std::vector<int>& checked);

}  // namespace view

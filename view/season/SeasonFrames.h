#pragma once
// A season in the viewer: the bitmaps of one folder in the table's order, each frame's
// figures worked out apart from the window, and the table written as zrvimage-batch
// series writes it. No widgets here, so the tests and the dock share it.

#include "engine/season/Regions.h"
#include "engine/season/Season.h"

#include <QString>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace view {

// One frame of the folder.
struct SeasonEntry {
    QString path;      // absolute: the name the viewer opens and the table's file column
    std::string time;  // engine::frameTime(); empty when it could not be read
    std::optional<engine::FrameFigures> figures;  // once worked out
    QString problem;   // why it has no time or no figures; empty otherwise
};

// The folder's bitmaps (.bmp in any case), timed by source: those with a time in the
// table's order (engine::sortSeasonFrames), then those without one by path, their
// problem said. Nothing for a folder that cannot be read or holds none.
std::vector<SeasonEntry> listSeasonFolder(const QString& folder, const engine::TimeSource& source);

// What working out one frame gave.
struct FrameOutcome {
    std::optional<engine::FrameFigures> figures;
    QString problem;         // one line naming the frame, when it failed
    bool cancelled = false;  // stopped by cancel: neither figures nor a problem
};

// Reads the frame once and works out its figures; never throws.
FrameOutcome workOutFrame(const QString& path, const engine::RegionSet& regions,
                          const engine::SeasonSettings& settings, const std::atomic<bool>* cancel = nullptr);

// The CSV table of the entries that have figures, as zrvimage-batch series writes it for
// the same files: engine::seasonCsvHeader() and each frame's rows in the table's order.
std::string seasonCsv(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions);

// QString paths as the engine and the file system spell them.
std::string encodedPath(const QString& path);

}  // namespace view

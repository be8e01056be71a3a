// The season being edited: one undo history over every part of it, whether it was
// saved, and a failed save that changes nothing.

#include "engine/platform/EngineError.h"
#include "engine/season/SeasonDocument.h"

#include "BmpFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using testing_support::TempDir;

engine::RegionSet oneRegion(const char* name)
{
    return engine::parseRegions(std::string("{\"regions\": [{\"name\": \"") + name + "\", \"rect\": [0, 0, 9, 9]}]}", "");
}

TEST(SeasonDocument, EveryChangeIsOneStepUndoneAndRedoneWhateverItTouches)
{
    engine::SeasonDocument doc;
    int told = 0;
    doc.onChanged([&] { ++told; });
    doc.startNew("frames", oneRegion("A1"));
    EXPECT_TRUE(doc.modified());  // a new season is unsaved
    EXPECT_FALSE(doc.canUndo());

    doc.change("領域を追加", [](engine::SeasonProject& p) { p.regions = oneRegion("A2"); });
    doc.change("時刻の読み方", [](engine::SeasonProject& p) { p.time = "name:cam_%Y%m%d_%H%M%S"; });
    doc.change("反射率", [](engine::SeasonProject& p) { p.panelReflectance = {{0.92, 0.9}}; });
    doc.change("何もしない", [](engine::SeasonProject&) {});  // no step
    EXPECT_EQ(doc.undoName(), "反射率");

    doc.undo();
    doc.undo();
    EXPECT_FALSE(doc.project().time);
    EXPECT_EQ(doc.project().regions.regions[0].name, "A2");
    EXPECT_EQ(doc.redoName(), "時刻の読み方");
    doc.redo();
    EXPECT_EQ(doc.project().time, "name:cam_%Y%m%d_%H%M%S");
    EXPECT_FALSE(doc.project().panelReflectance);

    // A new change after undoing drops what could be redone.
    doc.change("白色板の値", [](engine::SeasonProject& p) { p.whiteFrom = engine::WhiteFrom::Mean; });
    EXPECT_FALSE(doc.canRedo());
    doc.undo();
    doc.undo();
    doc.undo();
    EXPECT_EQ(doc.project().regions.regions[0].name, "A1");
    EXPECT_FALSE(doc.canUndo());
    EXPECT_EQ(told, 1 + 3 + 2 + 1 + 1 + 3);
}

TEST(SeasonDocument, SavedStateIsKnownAcrossUndoAndAFailedSaveChangesNothing)
{
    const TempDir dir;
    const std::string file = dir.path("season.json").string();
    engine::SeasonDocument doc;
    doc.startNew("frames", oneRegion("A1"));
    doc.saveAs(file);
    EXPECT_FALSE(doc.modified());
    EXPECT_EQ(doc.path(), file);

    doc.change("領域の名前", [](engine::SeasonProject& p) { p.regions = oneRegion("B1"); });
    EXPECT_TRUE(doc.modified());
    doc.undo();
    EXPECT_FALSE(doc.modified());  // back where it was saved
    doc.redo();
    doc.save();
    EXPECT_FALSE(doc.modified());

    engine::SeasonDocument reopened;
    reopened.open(file);
    EXPECT_EQ(engine::seasonProjectJson(reopened.project()), engine::seasonProjectJson(doc.project()));
    EXPECT_FALSE(reopened.modified());

    // Undone past the save and changed another way: the saved state is no longer in
    // the history, so nothing brings the document back to unmodified but a save.
    doc.undo();
    doc.change("別の名前", [](engine::SeasonProject& p) { p.regions = oneRegion("C1"); });
    doc.undo();
    EXPECT_TRUE(doc.modified());

    // A save that fails (its folder is gone) says so and leaves the document as it was.
    doc.redo();
    const std::string lost = (dir.dir() / "gone" / "season.json").string();
    EXPECT_THROW(doc.saveAs(lost), engine::EngineError);
    EXPECT_EQ(doc.path(), file);
    EXPECT_TRUE(doc.modified());
    EXPECT_THROW(reopened.open(dir.path("none.json").string()), engine::SeasonProjectError);
    EXPECT_EQ(reopened.path(), file);
}

}  // namespace

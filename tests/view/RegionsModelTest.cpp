// The regions model's rules: unique names, one white panel and one dark target, the
// selection following removals, and which calibration a frame's figures use.
#include "view/regions/RegionsModel.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using engine::Region;
using engine::RegionRole;

Region rect(const char* name, RegionRole role = RegionRole::Plot)
{
    Region r;
    r.name = name;
    r.role = role;
    r.rect = {1, 2, 3, 4};
    return r;
}

TEST(RegionsModel, NamesAreUniqueAndNotEmpty)
{
    view::RegionsModel model;
    EXPECT_EQ(model.freeName(), "R1");
    ASSERT_FALSE(model.add(rect("R1")));
    ASSERT_FALSE(model.add(rect("R3")));
    EXPECT_EQ(model.freeName(), "R2");

    QSignalSpy changed(&model, &view::RegionsModel::changed);
    EXPECT_TRUE(model.add(rect("R1")));       // taken
    EXPECT_TRUE(model.add(rect("  ")));       // empty
    EXPECT_TRUE(model.rename(0, "R3"));       // taken by the other
    EXPECT_FALSE(model.rename(0, "R1"));      // its own name
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(model.size(), 2u);

    EXPECT_FALSE(model.rename(0, "plot A"));
    EXPECT_EQ(model.at(0).name, "plot A");
    EXPECT_EQ(changed.count(), 1);
}

TEST(RegionsModel, WhiteAndDarkRolesMoveToTheLastRegionGivenThem)
{
    view::RegionsModel model;
    ASSERT_FALSE(model.add(rect("a", RegionRole::White)));
    ASSERT_FALSE(model.add(rect("b", RegionRole::Dark)));
    ASSERT_FALSE(model.add(rect("c", RegionRole::White)));
    EXPECT_EQ(model.at(0).role, RegionRole::Plot);
    EXPECT_EQ(model.at(2).role, RegionRole::White);
    model.setRole(0, RegionRole::Dark);
    EXPECT_EQ(model.at(0).role, RegionRole::Dark);
    EXPECT_EQ(model.at(1).role, RegionRole::Plot);
    EXPECT_EQ(model.at(2).role, RegionRole::White);
}

TEST(RegionsModel, SelectionFollowsRemovals)
{
    view::RegionsModel model;
    for (const char* n : {"a", "b", "c"}) ASSERT_FALSE(model.add(rect(n)));
    EXPECT_EQ(model.selected(), 2u);  // the one just added
    model.remove(0);
    EXPECT_EQ(model.selected(), 1u);  // still "c"
    EXPECT_EQ(model.at(*model.selected()).name, "c");
    QSignalSpy selection(&model, &view::RegionsModel::selectionChanged);
    model.remove(1);
    EXPECT_FALSE(model.selected());
    EXPECT_EQ(selection.count(), 1);
    model.select(5);  // no such region
    EXPECT_FALSE(model.selected());
}

TEST(RegionsModel, FramesUseTheirOwnPanelOnlyWhenTheSetHasOne)
{
    engine::NdviModel current = engine::NdviModel::plain(200, 180);
    current.nir.rWhite = 0.9f;
    current.red.rDark = 0.05f;
    engine::RegionSet set;
    set.regions = {rect("a"), rect("d", RegionRole::Dark)};

    auto fixed = view::seasonSettingsFor(set, current, engine::WhiteFrom::Mean);
    ASSERT_TRUE(fixed.fixed);
    EXPECT_EQ(*fixed.fixed, current);

    set.regions.push_back(rect("w", RegionRole::White));
    auto own = view::seasonSettingsFor(set, current, engine::WhiteFrom::Percentile99);
    EXPECT_FALSE(own.fixed);
    EXPECT_EQ(own.whiteFrom, engine::WhiteFrom::Percentile99);
    EXPECT_EQ(own.reflectances.nir.rWhite, 0.9f);
    EXPECT_EQ(own.reflectances.red.rDark, 0.05f);
}

}  // namespace

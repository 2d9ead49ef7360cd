#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "util/GridSort.h"

namespace {

using kv::FieldKind;
using kv::SortStyle;
using kv::TitleColour;

// Just enough dataset to be sorted: a sort order and a cursor.
class FakeDataset : public kv::SortableDataset {
public:
    explicit FakeDataset(SortStyle style) : style_(style) {}

    SortStyle sortStyle() const override { return style_; }
    bool canSort() const override { return open; }
    FieldKind fieldKind(const std::string& field) const override
    {
        auto it = kinds.find(field);
        return it == kinds.end() ? FieldKind::Data : it->second;
    }
    std::string indexFieldNames() const override { return order; }
    void setIndexFieldNames(const std::string& s) override { order = s; }
    void first() override { cursor = 0; }

    bool open = true;
    std::string order;
    int cursor = 7;
    std::map<std::string, FieldKind> kinds{{"Total", FieldKind::Calculated},
                                           {"GroupName", FieldKind::Lookup},
                                           {"Sum", FieldKind::Aggregate},
                                           {"Tmp", FieldKind::InternalCalc}};

private:
    SortStyle style_;
};

// What a grid does with a decision; the window helper does the same plus the
// title looks.
kv::SortDecision Click(FakeDataset& ds, const std::string& field)
{
    auto d = kv::DecideSortByTitle(ds, field);
    if (d.act) {
        ds.setIndexFieldNames(d.order);
        if (d.moveFirst)
            ds.first();
    }
    return d;
}

struct Step {
    std::string field;
    std::string order;       // sort order after the click
    TitleColour look;
};

struct Sequence {
    const char* name;
    SortStyle style;
    std::vector<Step> steps;
};

TEST(SortByTitle, ClickSequences)
{
    const std::vector<Sequence> cases = {
        {"sql three clicks return to unsorted", SortStyle::ThreeStateSql,
         {{"Name", "Name", TitleColour::Green},
          {"Name", "Name:D", TitleColour::Red},
          {"Name", "", TitleColour::Plain},
          {"Name", "Name", TitleColour::Green}}},
        {"ado uses DESC suffix", SortStyle::ThreeStateAdo,
         {{"Name", "Name", TitleColour::Green},
          {"Name", "Name DESC", TitleColour::Red},
          {"Name", "", TitleColour::Plain}}},
        {"another column restarts ascending", SortStyle::ThreeStateSql,
         {{"Name", "Name", TitleColour::Green},
          {"Name", "Name:D", TitleColour::Red},
          {"Code", "Code", TitleColour::Green},
          {"Name", "Name", TitleColour::Green}}},
        {"ado suffix of one family is not the other's", SortStyle::ThreeStateAdo,
         {{"Name", "Name", TitleColour::Green},
          {"Name", "Name DESC", TitleColour::Red},
          {"Code", "Code", TitleColour::Green}}},
        {"in-memory second click already unsorted", SortStyle::TwoState,
         {{"Name", "Name", TitleColour::Green},
          {"Name", "", TitleColour::Plain},
          {"Name", "Name", TitleColour::Green},
          {"Code", "Code", TitleColour::Green}}},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDataset ds(c.style);
        const bool threeState = c.style != SortStyle::TwoState;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("click " + std::to_string(i + 1) + " on " + c.steps[i].field);
            ds.cursor = 7;
            auto d = Click(ds, c.steps[i].field);
            EXPECT_TRUE(d.act);
            EXPECT_EQ(ds.order, c.steps[i].order);
            EXPECT_EQ(d.look, c.steps[i].look);
            // Three-state datasets go to the first record; in-memory ones stay put.
            EXPECT_EQ(d.moveFirst, threeState);
            EXPECT_EQ(ds.cursor, threeState ? 0 : 7);
        }
    }
}

TEST(SortByTitle, DescendingOfAnotherFieldRestartsAscending)
{
    FakeDataset ds(SortStyle::ThreeStateSql);
    ds.order = "Code:D";
    auto d = Click(ds, "Name");
    EXPECT_EQ(ds.order, "Name");
    EXPECT_EQ(d.look, TitleColour::Green);
}

TEST(SortByTitle, NothingHappensForNonDataFieldsOrClosedDataset)
{
    for (SortStyle style : {SortStyle::ThreeStateSql, SortStyle::ThreeStateAdo, SortStyle::TwoState}) {
        for (const char* field : {"Total", "GroupName", "Sum", "Tmp", ""}) {
            SCOPED_TRACE(field);
            FakeDataset ds(style);
            ds.order = "Name:D";
            auto d = Click(ds, field);
            EXPECT_FALSE(d.act);
            EXPECT_EQ(ds.order, "Name:D");
            EXPECT_EQ(ds.cursor, 7);
        }
        FakeDataset closed(style);
        closed.open = false;
        EXPECT_FALSE(Click(closed, "Name").act);
        EXPECT_EQ(closed.order, "");
    }
}

}  // namespace

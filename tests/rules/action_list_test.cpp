// Entry lists: the order SortEntries leaves, equal start times included, and
// which entry is in force at a time of day.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/error.h"
#include "rules/action_list.h"

namespace tolvar {
namespace {

struct Tagged {
    double start;
    char tag;  // kept in Param to follow an entry through the sort
};

TActionList ListOf(const std::vector<Tagged>& items) {
    TActionList list;
    for (const auto& item : items) list.Add({item.start, kActionAus, std::string(1, item.tag)});
    return list;
}

std::string Tags(const TActionList& list) {
    std::string tags;
    for (std::size_t i = 0; i < list.Count(); ++i) tags += list[i].Param;
    return tags;
}

TEST(SortEntries, LeavesTheQuicksortOrder) {
    const double t1 = TimeOfDay(6, 0);
    const double t2 = TimeOfDay(22, 0);
    const double t3 = TimeOfDay(12, 0);
    struct Case {
        const char* name;
        std::vector<Tagged> items;
        const char* expected;
    };
    // Worked through by hand: the middle element is the pivot, out-of-place
    // pairs are exchanged, so equal start times can change places.
    const Case cases[] = {
        {"empty", {}, ""},
        {"one", {{t1, 'a'}}, "a"},
        {"sorted pair", {{t1, 'a'}, {t2, 'b'}}, "ab"},
        {"reversed pair", {{t2, 'a'}, {t1, 'b'}}, "ba"},
        {"three distinct", {{t2, 'a'}, {t1, 'b'}, {t3, 'c'}}, "bca"},
        {"two equal swap", {{t1, 'a'}, {t1, 'b'}}, "ba"},
        {"three equal reverse", {{t1, 'a'}, {t1, 'b'}, {t1, 'c'}}, "cba"},
        {"pairs of equal", {{t2, 'a'}, {t1, 'b'}, {t2, 'c'}, {t1, 'd'}}, "dbac"},
    };
    for (const auto& c : cases) {
        TActionList list = ListOf(c.items);
        list.SortEntries();
        EXPECT_EQ(Tags(list), c.expected) << c.name;
    }
}

TEST(SortEntries, SortsALongListAndKeepsEachEntryInPlace) {
    TActionList list;
    std::uint32_t seed = 12345;
    std::vector<double> starts;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int minute = static_cast<int>((seed >> 8) % 1440);  // many equal start times
        starts.push_back(TimeOfDay(minute / 60, minute % 60));
        list.Add({starts.back(), i % 6, std::to_string(i)});
    }
    const TActionItem* first = &list[0];
    list.SortEntries();

    std::sort(starts.begin(), starts.end());
    ASSERT_EQ(list.Count(), starts.size());
    std::vector<bool> seen(starts.size());
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list[i].StartTime, starts[i]) << i;
        const auto original = static_cast<std::size_t>(std::stoi(list[i].Param));
        EXPECT_FALSE(seen[original]);
        seen[original] = true;
        EXPECT_EQ(list[i].Action, static_cast<int>(original % 6));
    }
    // The entries move as a whole: a reference taken before the sort still
    // names the same entry.
    EXPECT_EQ(first->Param, "0");
}

TEST(ActionList, NewEntryAndCheckedIndexes) {
    TActionList list;
    const TActionItem& added = list.Add();
    EXPECT_EQ(added.StartTime, 0.0);
    EXPECT_EQ(added.Action, kActionAus);
    EXPECT_EQ(added.Param, "");
    list.Add({TimeOfDay(8, 0), kActionSound, "x.wav"});

    EXPECT_THROW(list[2], TolvarError);
    EXPECT_THROW(list.Delete(2), TolvarError);
    list.Delete(0);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].Param, "x.wav");
}

TEST(SelectEntry, PicksTheEntryInForce) {
    TActionList twoEntries = ListOf({{TimeOfDay(6, 0), 'a'}, {TimeOfDay(22, 0), 'b'}});
    TActionList threeEntries =
        ListOf({{TimeOfDay(0, 0), 'a'}, {TimeOfDay(8, 0), 'b'}, {TimeOfDay(18, 0), 'c'}});
    TActionList unsorted = ListOf({{TimeOfDay(22, 0), 'a'}, {TimeOfDay(6, 0), 'b'}});
    struct Case {
        const TActionList& list;
        double time;
        std::size_t expected;
    };
    const Case cases[] = {
        {twoEntries, TimeOfDay(5, 59), 1},  // yesterday's 22:00 still holds
        {twoEntries, TimeOfDay(6, 0), 0},
        {twoEntries, TimeOfDay(21, 59), 0},
        {twoEntries, TimeOfDay(22, 0), 1},
        {twoEntries, TimeOfDay(23, 30), 1},
        {twoEntries, TimeOfDay(0, 0), 1},
        {threeEntries, TimeOfDay(7, 59), 0},
        {threeEntries, TimeOfDay(8, 0), 1},
        {threeEntries, TimeOfDay(23, 59, 59), 2},
        // The current order counts: walking back from the end, 06:00 is met first.
        {unsorted, TimeOfDay(23, 0), 1},
    };
    for (const auto& c : cases) {
        const auto index = SelectEntry(c.list, c.time);
        ASSERT_TRUE(index) << FormatLongTime(c.time);
        EXPECT_EQ(*index, c.expected) << FormatLongTime(c.time);
    }
    EXPECT_FALSE(SelectEntry(TActionList{}, TimeOfDay(12, 0)));
}

}  // namespace
}  // namespace tolvar

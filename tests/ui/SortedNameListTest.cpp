// The sorted list's order, its bulk insert (with or without duplicates) and its prefix search:
// what the configuration dialog's lists rely on to behave like Windows sorted list boxes; and
// the list box's filtered rows kept in step with the list as names come and go.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "ui/CListBox.h"
#include "ui/CNameFilter.h"
#include "ui/CSortedNameList.h"

namespace {

using ::testing::ElementsAre;
using Names = std::vector<std::string>;

TEST(SortedNameListTest, SortsWithoutRegardToCaseAndKeepsDuplicatesInArrivalOrder) {
    CSortedNameList list;
    for (const char* name : {"comp.lang", "Alt.b", "alt.a", "ALT.B", "alt.b", "alt", "_x", "Z"}) {
        list.Insert(name);
    }
    // "_" sorts before letters as a lower-case comparison has it; equal names stay in the
    // order they came; a name before the longer names it begins.
    EXPECT_THAT(list.Names(),
                ElementsAre("_x", "alt", "alt.a", "Alt.b", "ALT.B", "alt.b", "comp.lang", "Z"));
    EXPECT_EQ(list.PlaceOf("alt.B"), 6u);
    EXPECT_LT(CSortedNameList::CompareNoCase("a", "B"), 0);
    EXPECT_EQ(CSortedNameList::CompareNoCase("\xC4", "\xC4"), 0);
    EXPECT_GT(CSortedNameList::CompareNoCase("\xC4", "z"), 0);
}

TEST(SortedNameListTest, InsertManyEqualsInsertingOneAtATime) {
    std::mt19937 random(7);
    const char* parts[] = {"a", "A", "b", "B", ".", "_", "z", "1"};
    Names existing;
    Names added;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (int length = static_cast<int>(random() % 5); length >= 0; --length) {
            name += parts[random() % std::size(parts)];
        }
        (i % 3 == 0 ? existing : added).push_back(name);
    }
    CSortedNameList oneByOne;
    CSortedNameList bulk;
    // One entry of its own, to follow through the bulk insert (a selected entry).
    existing.push_back("b.Tracked");
    added.push_back("B.TRACKED");
    for (const std::string& name : existing) {
        oneByOne.Insert(name);
        bulk.Insert(name);
    }
    std::size_t tracked = bulk.PlaceOf("b.Tracked") - 1;
    ASSERT_EQ(bulk.At(tracked), "b.Tracked");
    for (const std::string& name : added) {
        oneByOne.Insert(name);
    }
    bulk.InsertMany(added, &tracked);
    EXPECT_EQ(bulk.Names(), oneByOne.Names());
    EXPECT_EQ(bulk.At(tracked), "b.Tracked");
    EXPECT_EQ(bulk.At(tracked + 1), "B.TRACKED");  // an equal newcomer goes after it
}

TEST(SortedNameListTest, InsertManyCanListEachNameOnce) {
    CSortedNameList list;
    list.InsertMany({"b", "alt"});
    std::size_t tracked = 1;  // "b"
    list.InsertMany({"b", "a", "B", "a", "alt", "c", "B"}, &tracked,
                    CSortedNameList::Duplicates::Drop);
    // Another case is another name; the same name, listed or given twice, goes in once.
    EXPECT_THAT(list.Names(), ElementsAre("a", "alt", "b", "B", "c"));
    EXPECT_EQ(list.At(tracked), "b");
    EXPECT_TRUE(list.Contains("B"));
    EXPECT_FALSE(list.Contains("A"));
    EXPECT_FALSE(list.Contains("al"));
}

TEST(SortedNameListTest, PrefixSearchFindsTheFirstEntryThatBeginsWithTheText) {
    CSortedNameList list;
    list.InsertMany({"alt.pictures", "a.b.c", "alt.binaries", "comp"});
    EXPECT_EQ(list.FindPrefix("A.B"), 0);  // a.b.c begins with it, case aside
    EXPECT_EQ(list.FindPrefix("a.b.c"), 0);
    EXPECT_EQ(list.FindPrefix("ALT."), 1);
    EXPECT_EQ(list.FindPrefix("alt.pictures.x"), -1);  // longer than every entry it starts like
    EXPECT_EQ(list.FindPrefix("b"), -1);
    EXPECT_EQ(list.FindPrefix(""), 0);
    EXPECT_EQ(CSortedNameList().FindPrefix(""), -1);
}

TEST(SortedNameListTest, RefusesOnlyNamesWithControlCharacters) {
    EXPECT_TRUE(CSortedNameList::CanList(""));
    EXPECT_TRUE(CSortedNameList::CanList("alt.binaries.pictures"));
    EXPECT_TRUE(
        CSortedNameList::CanList("de.alt.b\xC3\xBC"
                                 "cher ~!\"#"));
    EXPECT_FALSE(CSortedNameList::CanList(std::string("alt\0x", 5)));
    EXPECT_FALSE(CSortedNameList::CanList("alt\tx"));
    EXPECT_FALSE(CSortedNameList::CanList("alt\rx"));
    EXPECT_FALSE(CSortedNameList::CanList("alt\x7F"));
}

TEST(SortedNameListTest, AFilteredListBoxShowsExactlyTheEntriesThatPassAsNamesComeAndGo) {
    std::mt19937 random(11);
    const char* parts[] = {"a", "B", ".", "x", "ab"};
    for (const char* filter : {"ab", "*.x", "b"}) {
        CListBox list;
        list.SetFilter(filter);
        const CNameFilter passes(filter);
        std::string selected;
        for (int step = 0; step < 300; ++step) {
            if (random() % 3 == 0 && list.GetCount() > 0) {
                list.DeleteString(static_cast<int>(random() % list.GetCount()));
            } else {
                std::string name;
                for (int length = static_cast<int>(random() % 4); length >= 0; --length) {
                    name += parts[random() % std::size(parts)];
                }
                list.AddString(name);
            }
            if (step % 50 == 0 && list.GetCount() > 0) {
                list.SetCurSel(static_cast<int>(random() % list.GetCount()));
                selected =
                    list.GetCurSel() == CListBox::LB_ERR ? "" : list.GetText(list.GetCurSel());
            }
            Names shown;
            std::copy_if(list.Names().begin(), list.Names().end(), std::back_inserter(shown),
                         [&](const std::string& name) { return passes.Passes(name); });
            ASSERT_EQ(list.ShownNames(), shown) << filter << " at step " << step;
            if (list.GetCurSel() != CListBox::LB_ERR) {
                // Still the entry chosen, wherever the changes moved it.
                ASSERT_EQ(list.GetText(list.GetCurSel()), selected) << filter;
                ASSERT_TRUE(passes.Passes(selected));
            }
        }
    }
}

}  // namespace
